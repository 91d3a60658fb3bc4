// The files a run writes and reads besides its text output: the field history "tavo.nc"
// (history.cpp), the restart file "restart.dat" (writerestart.cpp, readrestart.cpp) and the
// checkpoint (checkpoint.cpp): "restart.dat" (seven digits, the file other programs read) and
// beside it "restart.nc", the whole state in double precision from which a run continues exactly.
#pragma once

#include <cstdio>

#include "diagnostics/diagnostics.hpp"

// ---- The netCDF files of the job (netcdf_job.cpp) ----

// The largest variable of the 64-bit-offset format: a fixed variable, or one record of a record
// variable, holds less than 4 GiB; a file with a larger one is written as CDF-5 (NC_64BIT_DATA).
constexpr double largest_netcdf3_variable = 4294967292.0;

// Create (mode NC_CLOBBER with `format`) or open (`mode`) a netCDF file: every process at once
// through the parallel interface in a job that MPI runs, else the serial interface. Return the
// library's status.
int nc_create_job(const char *name, int format, int *file);
int nc_open_job(const char *name, int mode, int *file);

// No pre-filling of the variables of a file opened for writing (in data mode).
int nc_no_fill(int file);

// Put the file into independent data mode (each process writes its part when it gets there; the
// record count is written at nc_sync and nc_close). Nothing for a serial file.
int nc_independent(int file);

// Write or read the rows of this process's slab of a field to or from the (x, y) variable `var`,
// or its record `record` of a (time, x, y) variable (record >= 0): in double or, for the frames,
// single precision; and copy the slab's rows of a record of a single-precision variable from one
// file into another. Return the library's status.
int nc_put_slab(int file, int var, long record, array2d field);
int nc_put_slab_float(int file, int var, long record, array2d field);
int nc_get_slab(int file, int var, long record, array2d field);
int nc_copy_slab_float(int from_file, int from_var, int to_file, int to_var, long record);

// ---- The field history ----

// The field history "tavo.nc". Open it for a run that starts at t0 and makes `outputs`
// diagnostics calls after the one at t0: a fresh run (incon other than 2) starts a new
// file, a continued run keeps the frames and series entries before t0 of a file of its grid. Does
// nothing when nframe is 0.
void history_start(double t0, int outputs);

// Reopen the field history of the run that a resumed run goes on with (its checkpoint at time t),
// keeping its frames and series entries up to t; the run makes `outputs` outputs in all. When the
// file is missing or does not fit, it is kept under another name (a "|" line on standard error)
// and a new history starts as history_start(t, outputs) starts it.
void history_resume(double t, int outputs);

// Why the field history of a run of `outputs` diagnostics calls after its first cannot be written
// (a "|" line without line end), nullptr when it can: "tavo.nc" or its temporary name is there but
// is no regular file, or the series would exceed the size of a variable of the file's format (a
// frame beyond it makes the file CDF-5). Touches no file: the run asks before its first file.
const char *history_problem(int outputs);

// The size of the field history of a run of `outputs` outputs after its first: its frames (the
// first output's and every nframe-th after it) and about its bytes (the frames and the series,
// the header aside); none when nframe is 0.
struct history_size {
  double frames, bytes;
};
history_size history_file_size(int outputs);

// Record output number `output` (0 the call at t0) at time t: its series entry (output > 0) and,
// every nframe outputs, a frame of ne, ni, pe and lap_pe (every process its rows); then flush the
// file. Every process calls the history's functions at once.
void history_output(double t, int output, const output_scalars &s, const output_fields &f);

// Close the field history.
void history_end();

// ---- The restart file ----

// Write the complete multistep state to "restart.dat" (through a temporary file, renamed when
// complete), with the simulation time in the header.
void writerestart(double time);

// A fresh run's start of a new series: move every checkpoint file of an earlier run ("restart.dat",
// "restart.nc") to "<name>.old", ".old2" or ".old3" (the files of the last three earlier runs are
// kept, the oldest removed) with a "|" line on standard error, so that no later continuation starts
// from a state that does not belong to the new series. Stops with a "|" line when a move fails.
void set_aside_checkpoints();

// Read "restart.dat" into the state; returns the stored time. Stops with a "|" message on a
// file that is missing, truncated, malformed or written for another grid.
double readrestart();

// Parse an open restart file into eno and this process's rows of the stored arrays of the current
// grid (nx by ny): the start time goes to time, the number of distinct points of its rows named to
// named_points. Returns nullptr
// for a sound file, else the "|" message line (without line end) that readrestart stops with; the
// text stays valid until the next call. Does not close the file, print or rebuild pi.
const char *restart_problem(FILE *file, double *time, long *named_points);

// ---- The checkpoint ----

// The name of the full-precision checkpoint, "restart.nc".
extern const char *const checkpoint_name;

// Where a run starts its steps.
struct run_origin {
  bool resumed;  // true: the run goes on with the unfinished run that wrote "restart.nc"
  double t0;     // start time of the run (of the first part, when resumed)
  long step;     // steps done since t0
  double incon;  // start mode of the run (of the first part, when resumed: its diagnostics follow it)
  long tick;     // the last output or probe sample reached, in steps of dt since t0 (fixed steps: step)
  double time;   // the time of the state
};

// Write the checkpoint of the state after `step` steps of the run that started at t0, at time t
// (`tick` as in run_origin): "restart.nc" (through "restart.nc.tmp") and "restart.dat"; the probe
// samples recorded so far (trace_n, trace_p as record_probes fills them) and, with adaptive steps or
// after steps of another length, the steps behind the history (scheme.hpp's stepping) go into
// "restart.nc" too.
void write_checkpoint(double t, double t0, long step, long tick, const double *trace_n, const double *trace_p);

// The state of a continuation (incon 2): from "restart.nc" when it holds this grid and the time of
// "restart.dat", else from "restart.dat" with a "|" note on standard error. Returns the time of
// the state; what the run does next comes from continuation_origin.
double read_continuation();

// The origin of a run whose initial state (or continuation state) lies at time t: a fresh run
// and a continuation of a finished run start at step 0 from t; a continuation of an unfinished run
// of the same dt, itstp, itmax and ntrace resumes it, at the step and with the start time that
// "restart.nc" holds (its state, diagnostics sums and dissipation terms are then already in place).
run_origin continuation_origin(double t);

// Put the probe samples a resumed run recorded before it stopped back into the stores.
void restore_traces(double *trace_n, double *trace_p);
