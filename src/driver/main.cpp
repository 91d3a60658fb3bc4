// tavo: two-dimensional drift-wave turbulence of a gyrofluid electron density and ion gyrocentre
// density on a doubly periodic grid. The program reads "tavo.inp" in the working directory, runs
// itmax time steps in intervals of itstp steps with a diagnostics call after each interval, and
// writes its result files into the same directory.
#include <omp.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "common/files.hpp"
#include "common/state.hpp"
#include "diagnostics/diagnostics.hpp"
#include "diagnostics/runaway.hpp"
#include "driver/command_line.hpp"
#include "driver/driver.hpp"
#include "driver/stop.hpp"
#include "initial/initial.hpp"
#include "io/io.hpp"
#include "parallel/processes.hpp"
#include "scheme/scheme.hpp"

// A zero-filled probe store of nprobes * maxtrace doubles (none when there are no samples). The
// size is checked against the machine's memory first: an allocator may hand out more than exists
// (or, under a sanitizer, stop the process) instead of reporting the failure.
static double *reserve_trace() {
  if (maxtrace <= 0) return nullptr;
  const double bytes = double(nprobes) * double(maxtrace) * double(sizeof(double));
  const double memory = double(sysconf(_SC_PHYS_PAGES)) * double(sysconf(_SC_PAGESIZE));
  double *store = nullptr;
  if (memory <= 0 || 2 * bytes < memory)  // the two stores together
    store = static_cast<double *>(calloc(static_cast<size_t>(nprobes) * maxtrace, sizeof(double)));
  if (!store) fatal("| cannot reserve the probe traces: %d samples per probe (itmax/ntrace) is too many", maxtrace);
  return store;
}

// The time after `it` steps of interval k of a run that started at t0, as the interval loop forms
// it (at an interval's start: the time of the output before).
static double step_time(double t0, int k, int it) {
  if (it == 0 && k > 0) return (t0 + (k - 1) * ddtt) + itstp * dt;
  return it == 0 ? t0 : (t0 + k * ddtt) + it * dt;
}

int main(int argc, char **argv) {
  // The processes of the run (one, when started alone); then a flag answers and exits, and an
  // unknown argument is refused before any file is touched.
  start_processes(argc, argv);
  if (const int status = command_line(argc, argv); status >= 0) return status;

  //--- Step 1. Wall-clock start of the run. Every process runs every step below on its own slab;
  // what touches the file system otherwise is the writing process's (parallel/processes.hpp).
  const bool writer = writing_process();
  const double run_start = omp_get_wtime();

  //--- Step 2. Parameters, run constants, threads, coefficient tables: every refusal of the
  // parameters comes here, before any file is touched.
  set_up_run();
  report_slabs();
  catch_stop_signals();

  //--- Step 3. Probe-trace stores, the check of everything the run will reserve and of its field
  // history; then the directory's lock, the first file a run touches (one run per directory).
  double *trace_n = reserve_trace();
  double *trace_p = reserve_trace();
  // Everything else the run will reserve, with the two stores (reserved now) and their analysis.
  const double trace_bytes = maxtrace > 0 ? double(nprobes) * double(maxtrace) * double(sizeof(double)) : 0.0;
  if (const char *problem = memory_problem(2 * trace_bytes, 4 * double(sizeof(double)) * double(maxtrace)))
    fatal("%s", problem);
  if (itmax > 0 && writer)
    if (const char *problem = history_problem(itmax / itstp)) fatal("%s", problem);
  // Every process has passed its checks (one that stops, stops them all here) before process 0
  // touches the first file.
  all_processes_ready();
  if (writer) hold_run_lock();

  //--- Steps 4-7. The step's transforms (buffers, plans for npar threads, half tables) and the
  // spectral solve's; measured plans start from the wisdom stored by earlier runs.
  make_transforms();

  //--- Step 8.
  printf("| initialisation ... ");
  fflush(stdout);

  //--- Steps 9-10. Radial damping profile; the densities start from zero.
  compute_xmask();
  for (int x = slab_first; x < slab_first + slab_rows; x++) {
    memset(ne[x], 0, sizeof(double) * ny);
    memset(ni[x], 0, sizeof(double) * ny);
  }

  //--- Step 11. Initial state (or the restart file, read and checked); t0 is the start time, and
  // the spectral dissipation of the initial densities, which the first step applies; the rates
  // that limit dt, checked on standard error. Then the field history (built under a temporary
  // name: a failure there leaves every earlier file as it was) and the time series: a fresh run
  // sets the earlier run's checkpoints aside and empties the series, a continued run drops what a
  // killed run appended after its start. A run that resumes an unfinished one (io/io.hpp)
  // starts at that run's step, with its t0, its terms and its field history in place.
  // Every process builds or reads the rows of its slab and finds the same origin.
  const int intervals = itmax / itstp;
  const double t_state = initcond();
  const run_origin origin = continuation_origin(t_state);
  if (!origin.resumed) derive_dissipation(), complete_start_potentials();
  const double gradient = start_gradient();  // the E x B measure of the start
  check_stability(exb_of_gradient(gradient));
  if (itmax > 0) {
    if (origin.resumed) history_resume(t_state, intervals);
    else history_start(origin.t0, intervals);
  }
  if (writer && incon == 2) drop_records_after(t_state, origin.resumed);
  if (writer && incon != 2) {
    set_aside_checkpoints();
    empty_time_series();
  }
  if (origin.resumed) incon = origin.incon;  // the diagnostics of the run it goes on with
  // The rates of the explicit terms with the run constants the start mode may have changed and,
  // unless the run resumes, the controller's first step.
  measure_explicit_rates();
  if (!origin.resumed || cfl <= 0) start_controller(gradient);
  else resume_controller();  // a resumed run's controller goes on
  const double t0 = origin.t0;

  //--- Steps 12-13.
  printf("| start time stepping ...\n");
  fflush(stdout);

  //--- Step 14. A run of no steps ends here (the probe stores are released, nothing else is due).
  if (itmax == 0) {
    free(trace_n);
    free(trace_p);
    return 0;
  }

  //--- Steps 15-17. Initial diagnostics (of the fields derived as after every interval; the field
  // history was opened above), the start-up time, the stage timers.
  const output_fields fields = state_output_fields();
  if (origin.resumed) {
    restore_traces(trace_n, trace_p);
  } else {
    derive_output_fields();
    stop_on_runaway(0.0, 0.0, itmax, ne, ni, pe);  // the times of the initial diagnostics call
    history_output(t0, 0, diagnose(0.0, 0.0, 0, itmax, fields), fields);
  }
  stage_time[t_ini] = omp_get_wtime() - run_start;
  for (int s = 0; s < nstages; s++)
    if (s != t_ini) stage_time[s] = 0.0;
  double t = t0;
  const double stepping_start = omp_get_wtime();

  //--- Step 18. The interval loop. The outputs and probe samples lie at fixed times, multiples of dt
  // after t0 counted in ticks: output k + 1 at tick (k + 1) itstp, probe sample s at tick s ntrace.
  // With fixed steps every step is one tick; adaptive steps land on each output and sample (the
  // controller, scheme/step_control.cpp, shortens the steps before them).
  const bool adaptive = cfl > 0;
  const double t_end = (t0 + (intervals - 1) * ddtt) + itstp * dt;  // the time of the last output
  double run_shortest = INFINITY, run_longest = 0.0;
  long steps = origin.step, tick = origin.tick;
  double t_now = origin.time;  // the time of the state (adaptive steps)
  if (printtraces && !origin.resumed) record_probes(trace_n, trace_p, 0);
  for (int k = int(tick / itstp); k < intervals; k++) {
    const long output_tick = long(k + 1) * itstp;
    while (tick < output_tick) {
      // Every process stops at the same step, on a signal that any of them got, and takes the same
      // step, from the E x B measure of all slabs: one reduction of both.
      double shared[2] = {double(stop_requested()), sweep_gradient};
      largest_of_all(shared, 2);
      const int it = int(tick - long(k) * itstp);
      if (shared[0] != 0)
        stop_on_signal(int(shared[0]), adaptive ? t_now : step_time(t0, k, it), t0, steps, tick, trace_n, trace_p);
      const long event = printtraces ? std::min(output_tick, (tick / ntrace + 1) * long(ntrace)) : output_tick;
      double h = dt;
      bool lands = true;
      if (adaptive) {
        const double t_event = event == output_tick ? (t0 + k * ddtt) + itstp * dt : t0 + double(event) * dt;
        h = controlled_step(shared[1], t_event - t_now);
        lands = h == t_event - t_now;
        t_now = lands ? t_event : t_now + h;
      }
      timestep(h);
      steps++;
      record_step(h);
      if (lands) tick = adaptive ? event : tick + 1;
      if (lands && printtraces && tick % ntrace == 0 && tick / ntrace < maxtrace)
        record_probes(trace_n, trace_p, static_cast<int>(tick / ntrace));
    }
    t = (t0 + k * ddtt) + itstp * dt;
    double start = omp_get_wtime();
    const interval_steps interval = output_interval_steps();
    const bool checkpoint = nckpt > 0 && (k + 1) % nckpt == 0 && k + 1 < intervals;
    if (checkpoint) {
      gather_traces(trace_n, maxtrace * printtraces);
      gather_traces(trace_p, maxtrace * printtraces);
    }
    derive_output_fields();  // gni, ww, hyve, hyvi of this state, also for the end stage
    stop_on_runaway(t, t0, itmax, ne, ni, pe);  // before any output or checkpoint of this state
    output_scalars scalars = diagnose(t, t0, k, itmax, fields);
    scalars.step = interval.nominal, scalars.step_min = interval.shortest, scalars.step_max = interval.longest;
    scalars.steps = double(interval.count);
    history_output(t, k + 1, scalars, fields);
    // a checkpoint only after this output passed its crash check (the end writes its own)
    if (checkpoint) write_checkpoint(t, t0, steps, tick, trace_n, trace_p);
    stage_time[t_out] += omp_get_wtime() - start;
    run_shortest = std::fmin(run_shortest, interval.shortest);
    run_longest = std::fmax(run_longest, interval.longest);
    report_progress(steps - origin.step, static_cast<long>(intervals) * itstp - origin.step,
                    omp_get_wtime() - stepping_start, (t - origin.time) / (t_end - origin.time), t, interval.nominal);
  }

  //--- Step 19. End stage: field history closed, restart file and probe analysis.
  double end_start = omp_get_wtime();
  gather_traces(trace_n, maxtrace * printtraces);
  gather_traces(trace_p, maxtrace * printtraces);
  history_end();
  write_checkpoint(t, t0, steps, tick, trace_n, trace_p);
  if (writer && printtraces) trace_analysis(t0, trace_n, trace_p);
  stage_time[t_out] += omp_get_wtime() - end_start;
  // What this run's steps and outputs cost, kept for the estimate of tavo --check.
  record_run_cost(steps - origin.step, intervals - int(origin.step / itstp));

  //--- Step 20. Timing report.
  double total = 0.0;
  for (int s = 0; s < nstages; s++) total += stage_time[s];
  const double share = total > 0 ? 100.0 / total : 0.0;
  const double *st = stage_time;
  printf("|\n| total times: ini: %.2f upd: %.2f poi1: %.2f poi2: %.2f pol: %.2f bnd: %.2f out: %.2f mem:%.2f\n",
         st[t_ini], st[t_upd], st[t_poi1], st[t_poi2], st[t_pol], st[t_bnd], st[t_out], st[t_mem]);
  printf("| rela. times: ini: %.2f upd: %.2f poi1: %.2f poi2: %.2f pol: %.2f bnd: %.2f out: %.2f mem:%.2f\n|\n",
         st[t_ini] * share, st[t_upd] * share, st[t_poi1] * share, st[t_poi2] * share, st[t_pol] * share,
         st[t_bnd] * share, st[t_out] * share, st[t_mem] * share);

  if (adaptive && writer && steps > origin.step)
    fprintf(stderr, "| steps: %ld from t = %.8g to %.8g, dt from %.4g to %.4g, mean %.4g\n", steps - origin.step,
            origin.time, t, run_shortest, run_longest, (t - origin.time) / double(steps - origin.step));

  //--- Steps 21-22. FFTW's thread clean-up after the last transform, and the end line (MPI's end,
  // in a job that mpirun or srun started, follows at exit: processes.cpp).
  free(trace_n);
  free(trace_p);
  fftw_cleanup_threads();
  printf("| TAVO end.\n\n");
  end_processes(0);
}
