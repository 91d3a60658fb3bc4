// The driver: the run's start-up (set_up_run.cpp), its memory budget (budget.cpp), the --check of
// a parameter file (check_run.cpp), what runs cost (run_cost.cpp) and the progress line
// (progress.cpp); main.cpp reads as the steps of the run, command_line.hpp and stop.hpp hold the
// command line and the stop on a signal.
#pragma once

#include <cstddef>
#include <string>

// ---- The memory budget (budget.cpp) ----

// Bytes a process of this job reserves on an nx by ny grid, from the sizes its allocations use: its
// slab of every field of the field table, every profile and its part of the coefficient tables
// (field_block_bytes), the step's transforms and the spectral solve (transform_bytes), an
// allowance for FFTW's planner (one complex array of its part), the transient buffers of the
// output and the fixed buffers of the readers and writers (a double, so that it cannot overflow
// for any grid). The largest slab of the job's processes is counted.
double grid_bytes(int gridx, int gridy);

// The "|" line refusing an nx by ny grid (without line end) when its memory cannot be had on this
// node (more than its physical memory and swap for the processes of the job that share it) or it
// has more points than an int counts; nullptr when the grid may be tried. The text stays valid
// until the next call. The value checks of the parameter file take it as their grid check.
const char *grid_problem(int gridx, int gridy);

// Why this process cannot hold what it will reserve (grid_bytes of its grid, the `mapped` bytes of
// the probe stores it has reserved and the `later` bytes of their analysis), as a "|" line without
// line end, or nullptr: the processes of this node together need more than its memory and swap,
// or this one more than the address space left under its limit (ulimit -v). Called by every
// process once the fields and the stores are reserved, before the run touches its first file.
const char *memory_problem(double mapped, double later);

// Why `threads` threads cannot start (their stacks need more address space than is left under
// the process's limit, ulimit -v), as a "|" line without line end, or nullptr.
const char *threads_problem(int threads);

// Lay out the processes' slabs of the current nx, ny (plan_slabs) and allocate every field and
// profile for the rows this process holds (allocate_fields); stops with a "|" line naming the grid
// and the bytes when the memory cannot be had, or the layout when the processes cannot share the
// grid.
void allocate_grid();

// ---- The start-up (set_up_run.cpp) ----

// Steps 1 to 12 of the run's start: the banner, the parameters and run constants (initpar, with
// the grid's memory checked among the values), the slabs and fields of the grid, the threads (a
// thread count beyond what is available or what the address space holds stops here) and their
// report, the running spectrum means cleared and the coefficient tables built. Touches no file
// but reads "tavo.inp".
void set_up_run();

// ---- tavo --check (check_run.cpp) ----

// Read "tavo.inp" in the working directory, refuse it as a run would (a "|" line, status 1), else
// print every value by name with its unit and meaning, the stability advice of the step, the
// memory the run needs and an estimate of its cost. Touches no file. Returns the exit status.
int check_parameter_file();

// ---- What runs cost (run_cost.cpp) ----

// Record the cost of this run, from its timing report (the stage times), at its end: `steps` steps
// and `outputs` outputs made on the current grid with npar threads and process_count processes, in
// the cost records of the cache directory, in place of the record of the same grid, threads and
// processes (process 0; nothing when there is no cache directory or it cannot be written).
void record_run_cost(long steps, long outputs);

// The cost records: "costs" in the cache directory; "" when there is none (common/files.hpp).
std::string cost_records_path();

// The generated table of the examples' costs, examples/COSTS.md of the sources.
extern const char *const cost_table_path;

// An estimate of a run's wall time (start-up left out) and where it comes from; seconds 0 and
// source "" when there is nothing to estimate it from.
struct run_cost {
  double seconds;
  std::string source;
};

// The wall time of `steps` steps and `outputs` outputs on a gridx by gridy grid with `threads`
// threads and `processes` processes: from the nearest of the cost records in the file `records`
// (this machine's own runs), else from the nearest row of the cost table `table`.
run_cost estimate_run_cost(int gridx, int gridy, int threads, int processes, long steps, long outputs,
                           const std::string &records, const std::string &table);

// ---- The progress line (progress.cpp) ----

// The progress line of a run on standard error: the wall time since the stepping began (elapsed
// seconds, for steps of total steps), steps per second and the estimated time to the end. With
// adaptive steps the number of steps is not known beforehand: the line gives the time t reached,
// the `done` share of the run's time and the current step dt_now, and the time to the end from
// that share.
void report_progress(long steps, long total, double elapsed, double done, double t, double dt_now);
