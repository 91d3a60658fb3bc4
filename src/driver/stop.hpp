// Stopping a run on a signal without losing its work (a queue's time limit, a user's interrupt).
#pragma once

// Exit status of a run stopped by a signal after writing its checkpoint: sysexits' EX_TEMPFAIL,
// "try again" (continue it with incon 2).
constexpr int stopped_status = 75;

// Catch SIGTERM, SIGINT, SIGUSR1 and SIGXCPU. The first one only asks the run to stop; a second
// one removes the temporary files not yet renamed and ends the process at once by that signal.
void catch_stop_signals();

// The signal that asked the run to stop, 0 when none did.
int stop_requested();

// After `step` steps of the run that started at t0 (`tick` the last output or sample it reached,
// in steps of dt from t0), at time t, stopped by signal `sig` (every process calls it at the same
// step): write the checkpoint (the series and the field history are
// complete up to the last output, which lies at t or before), close the history, print the "|"
// line naming the signal and the time on standard error and exit with stopped_status.
[[noreturn]] void stop_on_signal(int sig, double t, double t0, long step, long tick, double *trace_n, double *trace_p);
