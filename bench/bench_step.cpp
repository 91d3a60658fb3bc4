// Micro-benchmarks of the time step: one whole step (warm ions, so three spectral filters, the
// plain Laplacian dissipation, measured plans), the Arakawa bracket, the fourth-order Laplacian and
// one spectral filter, each at 64^2, 256^2 and 1024^2 grid points with 1 and 2 threads, and the
// step's own FFT work alone: the six complex transforms (three filters, forward and backward) that
// one step executes. Reported: time per call and grid points per second; the step's time as a
// multiple of its FFT work ("step/fft"), and a summary table at the end.
//
// All fields are globals, so every case sets up its grid (run constants, tables, plans, a smooth
// initial state) before its timed loop; plans are measured once per size and thread count, later
// cases of the same shape plan from FFTW's wisdom. A step's cost does not depend on the field
// values, but the state is reset at every call so that long runs stay far from overflow.
#include <benchmark/benchmark.h>
#include <omp.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <map>
#include <utility>

#include "driver/driver.hpp"
#include "operators/operators.hpp"
#include "setup/setup.hpp"

namespace {

const int sizes[] = {64, 256, 1024};
const int thread_counts[] = {1, 2};

typedef std::pair<int, int> shape;           // (grid size, threads)
std::map<shape, double> best_step, best_fft;  // seconds per call, lowest over all timed calls

// Set up the run constants, tables and plans of an n x n grid with the given thread count, unless
// they are already in place.
void use_grid(int n, int threads) {
  static shape current(0, 0);
  if (current == shape(n, threads)) return;
  current = shape(n, threads);
  // chat, taui, delta, diff, incon, sigma, amp, vorfree, ly, nx, ny, dt, itstp, itmax, ntrace,
  // ipade, ihype, b_plan, npar. ly = n gives a unit grid spacing; the negative diff damps under the
  // plain Laplacian.
  const double values[nvalues] = {1.0, 1.0, 1.0, -1e-3, 1, 2.0, 0.1, 0, static_cast<double>(n), static_cast<double>(n),
                                  static_cast<double>(n), 1e-3, 1, 1, 0, 0, -1, 1, static_cast<double>(threads)};
  set_run_constants(values);
  omp_set_num_threads(npar);
  build_tables();
  make_transforms();
  compute_xmask();
  dtt = dt * 6.0 / 11.0;
  ddtt = itstp * dt;
}

// A smooth separable state with fresh history: ne, ni from a few modes, the fields derived from them.
void reset_state() {
  static double row_a[nmax], row_b[nmax], col_a[nmax], col_b[nmax];
  const double twopi = 6.283185307179586;
  for (int x = 0; x <= nx1; x++) row_a[x] = sin(twopi * 3 * x / nx), row_b[x] = cos(twopi * 5 * x / nx);
  for (int y = 0; y <= ny1; y++) col_a[y] = cos(twopi * 2 * y / ny), col_b[y] = sin(twopi * 7 * y / ny);
#pragma omp parallel for schedule(static)
  for (int x = 0; x <= nx1; x++)
    for (int y = 0; y <= ny1; y++) {
      ne[x][y] = 0.1 * row_a[x] * col_a[y] + 0.02 * row_b[x] * col_b[y];
      ni[x][y] = 0.1 * row_a[x] * col_a[y] - 0.03 * row_b[x] * col_b[y];
    }
  stage_poi1();
  stage_pol();
  stage_poi2();
  for (array2d *level : {&ne0, &ne1, &ne2}) f_copy2darray(ne, *level, nx1, ny1);
  for (array2d *level : {&ni0, &ni1, &ni2}) f_copy2darray(ni, *level, nx1, ny1);
#pragma omp parallel for schedule(static)
  for (int x = 0; x <= nx1; x++)
    for (int y = 0; y <= ny1; y++) fne1[x][y] = fne2[x][y] = fni1[x][y] = fni2[x][y] = 0.0;
}

// Grid set-up for the case's arguments (size, threads) and the per-call bookkeeping.
void prepare(benchmark::State &state) {
  use_grid(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)));
  reset_state();
}

// Points per second and, into record, the lowest seconds per call of this case.
void finish(benchmark::State &state, double seconds, std::map<shape, double> *record) {
  const double points = static_cast<double>(nx) * ny;
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * points));
  if (!record || state.iterations() == 0) return;
  const shape key(nx, npar);
  double per_call = seconds / state.iterations();
  auto found = record->find(key);
  if (found == record->end() || per_call < found->second) (*record)[key] = per_call;
}

// One whole time step; step/fft is its time over that of its six transforms.
void BM_step(benchmark::State &state) {
  prepare(state);
  double start = omp_get_wtime();
  for (auto _ : state) timestep();
  double seconds = omp_get_wtime() - start;
  finish(state, seconds, &best_step);
  auto fft = best_fft.find(shape(nx, npar));
  if (fft != best_fft.end() && state.iterations() > 0) state.counters["step/fft"] = seconds / state.iterations() / fft->second;
}

// The six complex transforms that one step with warm ions executes.
void BM_fft(benchmark::State &state) {
  prepare(state);
  double start = omp_get_wtime();
  for (auto _ : state)
    for (int filter = 0; filter < 3; filter++) {
      fftw_execute(plan_fw);
      fftw_execute(plan_bw);
    }
  finish(state, omp_get_wtime() - start, &best_fft);
}

// The Arakawa bracket {ne, pe}.
void BM_bracket(benchmark::State &state) {
  prepare(state);
  for (auto _ : state) arakawa(ne, pe, brack_e);
  finish(state, 0.0, nullptr);
}

// The fourth-order Laplacian of ne.
void BM_laplace(benchmark::State &state) {
  prepare(state);
  for (auto _ : state) laplace(hyve, ne);
  finish(state, 0.0, nullptr);
}

// One spectral filter: the gyro-average of ni on the persistent plans.
void BM_filter(benchmark::State &state) {
  prepare(state);
  for (auto _ : state) spectral_filter(ni, cpoti, gni);
  finish(state, 0.0, nullptr);
}

// Every case at every size and thread count; the transforms run before the step so that the step
// can state its ratio.
void register_cases() {
  struct named {
    const char *name;
    void (*run)(benchmark::State &);
  } cases[] = {{"fft6", BM_fft}, {"step", BM_step}, {"bracket", BM_bracket}, {"laplace", BM_laplace}, {"filter", BM_filter}};
  for (const named &c : cases) {
    benchmark::internal::Benchmark *b = benchmark::RegisterBenchmark(c.name, c.run);
    b->ArgNames({"n", "threads"})->UseRealTime()->Unit(benchmark::kMillisecond);
    for (int n : sizes)
      for (int threads : thread_counts) b->Args({n, threads});
  }
}

// The whole-step table: size, threads, ms per step, ms of its transforms, ratio, Mpoints/s.
void print_summary() {
  if (best_step.empty()) return;
  printf("\n|  size  threads   ms/step    FFT ms  step/fft  Mpoints/s\n");
  for (const auto &entry : best_step) {
    const int n = entry.first.first, threads = entry.first.second;
    const double step = entry.second;
    auto fft = best_fft.find(entry.first);
    if (fft != best_fft.end())
      printf("| %5d  %7d  %8.3f  %8.3f  %8.2f  %9.2f\n", n, threads, 1e3 * step, 1e3 * fft->second, step / fft->second,
             1e-6 * n * n / step);
    else
      printf("| %5d  %7d  %8.3f  %8s  %8s  %9.2f\n", n, threads, 1e3 * step, "-", "-", 1e-6 * n * n / step);
  }
}

}  // namespace

int main(int argc, char **argv) {
  if (fftw_init_threads() == 0) {
    printf("| ith=%d : thread init failed... exiting\n", 0);
    return 1;
  }
  register_cases();
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  print_summary();
  fftw_cleanup_threads();
  return 0;
}
