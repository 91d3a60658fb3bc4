// tavo --check: what a run of the "tavo.inp" at hand would be, without running it. The parameter
// file is read and refused exactly as a run reads it; then every value is listed by name with its
// unit and meaning, followed by the start-up stability advice of the step's constant terms
// (coupling and dissipation, from the coefficients themselves; the E x B drift depends on the
// initial state, which only the run makes), the memory the run reckons for its fields and probe
// traces (the budget of budget.cpp), the size of its field history (as io/ sizes it) and the wall
// time it would take, estimated from measurements that the estimate names (run_cost.cpp). Nothing is written: the lock, the time series, the wisdom and the cost
// records are left to the run.
#include <omp.h>

#include <cmath>
#include <cstdio>
#include <string>

#include "common/files.hpp"
#include "common/state.hpp"
#include "diagnostics/diagnostics.hpp"
#include "driver/driver.hpp"
#include "io/io.hpp"
#include "parallel/processes.hpp"
#include "scheme/scheme.hpp"
#include "setup/setup.hpp"

// A duration in seconds as the largest unit that keeps it above 1.
static std::string duration(double seconds) {
  char text[40];
  if (seconds < 120) snprintf(text, sizeof text, "%.3g s", seconds);
  else if (seconds < 7200) snprintf(text, sizeof text, "%.3g min", seconds / 60);
  else if (seconds < 172800) snprintf(text, sizeof text, "%.3g h", seconds / 3600);
  else snprintf(text, sizeof text, "%.3g days", seconds / 86400);
  return text;
}

int check_parameter_file() {
  std::string text;
  double values[nknown];
  read_parameter_file(values, text, grid_problem);
  set_run_constants(values);
  set_optional_constants(values + nvalues);
  const int maxthreads = omp_get_max_threads();
  if (npar > maxthreads) fatal("| npar = %d > %d max. available threads ... exiting", npar, maxthreads);

  printf("| \"tavo.inp\" can make a run; its values:\n");
  for (int k = 0; k < nknown; k++) {
    const parameter &p = parameter_table[k];
    char value[40];
    if (p.kind == value_kind::whole) snprintf(value, sizeof value, "%d", static_cast<int>(values[k]));
    else snprintf(value, sizeof value, "%g", values[k]);
    printf("| %3d %-8s = %-12s %-11s %s%s\n", k + 1, p.name, value, p.unit, p.meaning,
           k >= nvalues && values[k] == p.fallback ? " (default)" : "");
  }

  const long intervals = itmax / itstp;
  const double steps = double(intervals) * itstp;
  printf("| run: %ld outputs of %d steps, t = %g in steps of dt = %g%s\n", intervals, itstp, steps * dt, dt,
         incon == 2 ? " after the time of restart.dat" : "");
  if (cfl > 0)
    printf("| steps: adaptive (cfl = %g): each step is %g of the largest stable step of the state, at most dt = %g; "
           "the parallel coupling and the dissipation are implicit, the E x B drift and the gradient drive set the "
           "step; the outputs (every %g), the probe samples and the end lie at fixed times, and the number of steps "
           "follows the flow; the start is third order from its first step\n",
           cfl, cfl, dt, itstp * dt);
  else
    printf("| steps: fixed (cfl = 0), every step dt = %g; every term is explicit, so dt must stay below the limits of "
           "the coupling, the dissipation and the E x B drift of developed turbulence (cfl = %g, value 23, lets the "
           "steps follow the drift)\n",
           dt, recommended_cfl);

  // The constant terms of the stability check, from the coefficients at the wavenumbers they need.
  const double fields = grid_bytes(nx, ny);
  const std::string advice = stability_warnings(0.0);
  if (advice.empty() && cfl > 0)
    printf("| stability: the controller keeps every step within cfl of the limit of the E x B drift and the drive\n");
  else if (advice.empty())
    printf("| stability: dt is within the limits of the parallel coupling and the dissipation; the E x B drift "
           "is checked against the initial state when the run starts\n");
  else
    printf("%s", advice.c_str());

  const double traces = printtraces ? 2.0 * nprobes * double(maxtrace) * sizeof(double) : 0.0;
  const history_size history = history_file_size(int(intervals));
  printf("| memory: %.3g MB for the fields and tables, %.3g MB for the probe traces\n", fields / 1e6, traces / 1e6);
  printf("| field history tavo.nc: %.0f frames, about %.3g MB\n", history.frames, history.bytes / 1e6);
  const double points = double(nx) * ny * steps;
  const run_cost cost = estimate_run_cost(nx, ny, npar, process_count, long(steps), intervals, cost_records_path(),
                                          cost_table_path);
  // With adaptive steps the steps are at most dt: the count is a least one.
  const char *least = cfl > 0 ? "at least " : "";
  const char *shorter = cfl > 0 ? " (with steps of dt; the drift of developed turbulence makes them shorter)" : "";
  if (cost.source.empty())
    printf("| cost: %s%.3g point-steps (nx ny steps)%s; no measured cost to estimate the wall time from (a run records "
           "its own in the cache directory, and the table %s is not at hand)\n", least, points, shorter,
           cost_table_path);
  else
    printf("| cost: %s%.3g point-steps (nx ny steps)%s; about %s%s of wall time, %s\n", least, points, shorter, least,
           duration(cost.seconds).c_str(), cost.source.c_str());
  return 0;
}
