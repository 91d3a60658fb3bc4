// The checkpoint: "restart.dat" (seven digits, the file other programs read) and beside it
// "restart.nc", the whole state in double precision from which a run continues exactly.
#pragma once

// The name of the full-precision checkpoint, "restart.nc".
extern const char *const checkpoint_name;

// Where a run starts its steps.
struct run_origin {
  bool resumed;  // true: the run goes on with the unfinished run that wrote "restart.nc"
  double t0;     // start time of the run (of the first part, when resumed)
  long step;     // steps done since t0
  double incon;  // start mode of the run (of the first part, when resumed: its diagnostics follow it)
};

// Write the checkpoint of the state after `step` steps of the run that started at t0, at time t:
// "restart.nc" (through "restart.nc.tmp") and "restart.dat"; the probe samples recorded so far
// (trace_n, trace_p as record_probes fills them) go into "restart.nc" too.
void write_checkpoint(double t, double t0, long step, const double *trace_n, const double *trace_p);

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
