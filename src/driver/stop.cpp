// Stopping a run on a signal.
//
// The handler only records the signal; the stepping loop looks at it before every step, so the
// step under way ends, and the run then writes its checkpoint and exits with status 75. Nothing
// after the last output is appended to a series: they and the field history "tavo.nc" (flushed at
// every output) end at the last output, the checkpoint lies at the step reached, and a continuation
// (incon 2) goes on from there. A second signal while this happens ends the process at once, as a
// kill would: the handler removes the temporary files not yet renamed (unlink is safe in a handler)
// and raises the signal again with its default action. The files then are what any kill leaves:
// the previous checkpoint and complete files under their final names, and the continuation cuts
// back what lies beyond the checkpoint.
#include "driver/stop.hpp"

#include <signal.h>

#include <cstdio>
#include <cstdlib>

#include "common/files.hpp"
#include "diagnostics/diagnostics.hpp"
#include "io/io.hpp"
#include "parallel/processes.hpp"

static volatile sig_atomic_t requested = 0;

static const int stop_signals[] = {SIGTERM, SIGINT, SIGUSR1, SIGXCPU};

static void on_signal(int sig) {
  if (requested == 0) {
    requested = sig;
    return;
  }
  remove_temporaries_at_once();
  signal(sig, SIG_DFL);
  raise(sig);
}

void catch_stop_signals() {
  struct sigaction action = {};
  action.sa_handler = on_signal;
  sigemptyset(&action.sa_mask);
  for (int sig : stop_signals) sigaddset(&action.sa_mask, sig);  // one handler at a time
  action.sa_flags = SA_RESTART;
  for (int sig : stop_signals) sigaction(sig, &action, nullptr);
}

int stop_requested() { return requested; }

static const char *signal_name(int sig) {
  switch (sig) {
    case SIGTERM: return "SIGTERM";
    case SIGINT: return "SIGINT";
    case SIGUSR1: return "SIGUSR1";
    case SIGXCPU: return "SIGXCPU";
    default: return "a signal";
  }
}

void stop_on_signal(int sig, double t, double t0, long step, long tick, double *trace_n, double *trace_p) {
  gather_traces(trace_n, maxtrace * printtraces);
  gather_traces(trace_p, maxtrace * printtraces);
  write_checkpoint(t, t0, step, tick, trace_n, trace_p);
  history_end();
  fflush(stdout);
  fprintf(stderr, "| stopped by %s at t = %.8g (step %ld): checkpoint written, continue with incon 2\n",
          signal_name(sig), t, step);
  end_processes(stopped_status);
}
