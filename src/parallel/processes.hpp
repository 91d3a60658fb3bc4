// One run across processes: the slabs of rows each process holds, what they exchange, and which
// process does what.
//
// The roles. A run is one job of N processes; a program started alone is the job of one process
// (it does not start MPI, which it would not need). The grid's rows (x) are split into slabs as
// FFTW's MPI transforms lay them out. Every process holds the rows of its slab of every field, and
// two halo rows on each side, from the start of the run to its end: no process ever holds the
// whole grid. Every process runs, on its own slab, with npar threads:
//   - the set-up: the parameters, its part of the coefficient tables, its slab's fields;
//   - the start state of its rows (the bath's random draws are few and global: every process
//     draws them all and fills its rows), and its rows of a continuation's state;
//   - every time step, every transform and every spectral solve (FFTW's MPI transforms are
//     collective: every process calls them in the same order);
//   - the diagnostics: its rows' share of every sum, added over the processes in their order
//     (sum_over_processes), so that every process has the same numbers and stops at the same output;
//   - the netCDF files "tavo.nc" and "restart.nc": every process writes and reads its own rows, the
//     creates, opens and closes are collective;
//   - the formatting of its rows of the large text files, which it hands to the writing process in
//     the order of the rows (stream_rows_to_writer).
// Only the writing process, process 0, touches the file system otherwise: the directory's lock,
// the text files (time series, cuts, profiles, snapshots, spectra, "restart.dat", the probe
// analysis), the renames and the setting aside of earlier files, the wisdom file; and only it writes
// the console (the others' standard output and error go to /dev/null, but for a stop's line of
// their own). The functions that run only on the writing process end in `_on_writer` or call
// writer_only(), which stops the job when another process runs them; the rest, also those whose
// own file writing is the writer's, run on every process.
//
// With several processes the half spectrum of the step's transforms is held transposed: each
// process holds a block of ky rows with all nx kx values, so that the products of the field solves
// need no communication (see scheme/transforms.cpp). Every field has two halo rows on each side of
// the rows it holds (allocate_fields.cpp): rows first-2, first-1 and end, end+1 of the slab
// [first, end), filled by exchange_halos with the neighbouring processes' rows (with one process:
// the periodic images of the grid's own rows).
#pragma once

#include <functional>
#include <initializer_list>
#include <vector>

#include "common/state.hpp"

// This process's number (0 .. process_count-1) and the number of processes of the run.
extern int process_rank, process_count;

// The rows [slab_first, slab_first + slab_rows) this process steps, the ky values
// [ky_first, ky_first + ky_rows) of the half spectrum it holds, and the complex elements FFTW asks
// for one transform's data here (at least slab_rows (ny/2+1) and ky_rows nx).
extern int slab_first, slab_rows, ky_first, ky_rows;
extern long transform_elements;

// The layout of the half spectrum this process holds: spectrum_rows() rows of spectrum_columns()
// elements. Transposed (several processes): row j holds ky = ky_first + j, column kx. Alone: row
// kx, column ky, as FFTW's serial transforms lay it out; FFTW's transposition of a whole spectrum
// within one process runs its threads badly (a 512 x 512 transform with two threads took 2.9 ms
// transposed against 0.33 ms not, bench/README.md).
extern bool spectrum_transposed;
inline int spectrum_rows() { return spectrum_transposed ? ky_rows : nx; }
inline int spectrum_columns() { return spectrum_transposed ? nx : ny / 2 + 1; }
// The wavenumber indices (kx, ky) of element (r, c) of this process's half spectrum.
inline int spectrum_kx(int r, int c) { return spectrum_transposed ? c : r; }
inline int spectrum_ky(int r, int c) { return spectrum_transposed ? ky_first + r : c; }
// Elements of this process's half spectrum.
inline long spectrum_elements() { return static_cast<long>(spectrum_rows()) * spectrum_columns(); }

// Whether this process is the one that writes the files and the console (process 0).
inline bool writing_process() { return process_rank == 0; }

// Stop the job with a "|" line naming `what` when a function of the writing process runs on
// another process.
void writer_only(const char *what);

// Start FFTW's threads and, for a program started by mpirun or srun (a launcher's environment),
// MPI and FFTW's MPI interface (one thread of each process calls MPI). A program started alone is
// the job of one process: it needs nothing of MPI and does not start it. Processes other than 0
// write nothing on their standard output and error, except their own stop's line. Installs the
// stop hook through which a fatal stop (common/files.hpp) ends the job.
void start_processes(int &argc, char **&argv);

// Whether MPI runs (the program was started by mpirun or srun, for any number of processes).
bool mpi_job();

// The slabs of an nx by ny grid for this job (FFTW's layout): sets the variables above. Returns the
// "|" line (without line end) refusing the layout: a process with fewer than two rows (the halos
// reach two rows) or no ky row to hold; nullptr when it is sound. Every process gets the same answer.
const char *plan_slabs();

// The rows of the largest slab of an gridx-row grid on this job's processes (FFTW's blocks).
int largest_slab(int gridx);

// A run of several processes names them and their slabs on standard error (process 0):
// "| 3 processes of 2 threads, slabs of 17, 17, 16 rows". Nothing for one process.
void report_slabs();

// The processes that share this process's node (1 without MPI), and the sum of a value over them.
int processes_on_node();
double sum_on_node(double value);

// End the job with `status`: a clean end of every process (all call it) finishes MPI; a stop of
// one process (a failure, a refusal) ends every process of the job.
[[noreturn]] void end_processes(int status);
[[noreturn]] void stop_all_processes(int status);

// Write a stop's "|" line: process 0 writes it at once; another process waits a little first, so
// that a stop that every process meets is reported once (process 0's ends the job before).
void report_stop(const char *line);

// Wait until every process has come here.
void all_processes_ready();

// Fill the two halo rows on each side of every field of the list from the neighbouring slabs.
void exchange_halos(std::initializer_list<array2d> fields);

// Whether this process steps row x (with one process: every row).
inline bool steps_row(int x) { return x >= slab_first && x < slab_first + slab_rows; }

// The process whose slab holds row x.
int row_owner(int x);

// ---- Reductions and exchanges of small data (every process calls them) ----

// The largest of every process's `value` (a stop signal, a flag), the same on every process; and
// of each of `count` values in place.
int largest_of_all(int value);
double largest_of_all(double value);
void largest_of_all(double *values, int count);

// Each of the `count` values replaced by its sum over the processes, added in the order of the
// processes: every process gets the same bits, and a job of the same processes and threads the
// same bits in every run.
void sum_over_processes(double *values, int count);

// The values of the process that holds row x, to every process.
void broadcast_from_row(int x, double *values, long count);

// A table of `per_row` values for each grid row x (at x * per_row), of which every process has
// filled the rows of its slab: afterwards every process holds every row.
void share_rows(double *values, int per_row);

// The probe traces of the rows other processes step, into process 0's stores (`samples` doubles
// per probe, probes on 8 rows of 8 as record_probes stores them).
void gather_traces(double *trace, long samples);

// The grid's columns of a field (y fixed, nx values each), handed in blocks of at most `block`
// columns to use(first column, count, values: column c at values + c nx) on the process that holds
// them: the processes' slabs transposed over the processes by FFTW's MPI transpose, which gives each
// a block of the columns; one process alone copies its columns out block by block. Every process
// calls it.
void column_blocks(array2d field, int block, const std::function<void(int, int, const double *)> &use);

// ---- Text streamed to the writing process ----

// The text of a block of rows in parts (a row of a file, say): part p is the length[p] characters
// at text + p room.
struct text_block {
  size_t room = 0;
  std::vector<size_t> length;
  std::vector<char> text;
  char *part(size_t p) { return text.data() + p * room; }
  const char *part(size_t p) const { return text.data() + p * room; }
};

// Text files of rows that every process formats for the rows of its slab and the writing process
// writes in the order of the rows: format(first, count, block) fills block with the text of rows
// [first, first + count) of this process (each block at most block_rows rows), and on the writing
// process write(block) writes it, for the blocks of every process in the order of their rows. The
// other processes format their next blocks while the last ones travel, up to about 64 MB of text
// (at least two blocks) waiting for the writer.
void stream_rows_to_writer(int block_rows, const std::function<void(int, int, text_block &)> &format,
                           const std::function<void(const text_block &)> &write);
