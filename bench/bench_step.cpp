// Micro-benchmarks of the time step: whole steps as the driver runs them (warm ions, measured
// plans) with the plain Laplacian dissipation ihype = -1 and with the spectral k^4 dissipation
// ihype = 2, the Arakawa bracket, the fourth-order Laplacian, one spectral solve, one diagnostics
// call with all its files, one frame of the field history and one checkpoint (restart file), each
// at 64^2, 256^2, 512^2 and 1024^2 grid points with 1 and 2 threads (the step and its transforms
// also at 2048^2 and 4096^2); and the steps' own transforms alone (for ihype = -1 one batched r2c
// pair and one batched c2r pair, for ihype = 2 a second c2r pair), on the buffers the step runs
// them on. Reported: time per call and grid points per second; the step's time as a multiple of
// its transforms ("step/fft"), and a summary table at the end with the median over the
// repetitions and the spread (lowest and highest). For that table the step and its transforms are
// timed once more in interleaved blocks, so that each repetition's ratio compares two
// measurements taken a fraction of a second apart.
//
// All fields are globals, so every case sets up its grid (run constants, tables, plans, a smooth
// initial state) before its timed loop; plans are measured once per size and thread count, later
// cases of the same shape plan from FFTW's wisdom. A step's cost does not depend on the field
// values, but the state is reset at every call so that long runs stay far from overflow.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <omp.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "diagnostics/diagnostics.hpp"
#include "driver/driver.hpp"
#include "initial/initial.hpp"
#include "io/io.hpp"
#include "operators/operators.hpp"
#include "scheme/scheme.hpp"
#include "setup/setup.hpp"

namespace {

const int sizes[] = {64, 256, 512, 1024, 2048, 4096};
// Above this size only the step and its six transforms run (a diagnostics call there writes
// gigabytes of text), without the interleaved table and the planning times: the step's cost per
// grid point comes from the Google Benchmark medians.
constexpr int largest_every_case = 1024;
const int thread_counts[] = {1, 2};

typedef std::pair<int, int> shape;  // (grid size, threads)
typedef std::map<shape, std::vector<double>> timings;
// Seconds per call of every timed repetition.
timings step_times, fft_times, step2_times, fft2_times, diag_times;

double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  size_t n = v.size();
  return n % 2 ? v[n / 2] : 0.5 * (v[n / 2 - 1] + v[n / 2]);
}

// Set up the run constants, tables and plans of an n x n grid with the given thread count, unless
// they are already in place.
void use_grid(int n, int threads, int hype = -1) {
  static int current[3] = {0, 0, 0};
  if (current[0] == n && current[1] == threads && current[2] == hype) return;
  current[0] = n, current[1] = threads, current[2] = hype;
  // ly = n gives a unit grid spacing; the negative diff damps under the plain Laplacian (and a
  // positive one would be used with ihype = 2: the sign only matters for a long run).
  double values[nknown] = {};
  auto set = [&values](const char *name, double value) { values[value_index(name)] = value; };
  set("chat", 1.0), set("taui", 1.0), set("delta", 1.0), set("diff", -1e-3), set("incon", 1), set("sigma", 2.0);
  set("amp", 0.1), set("vorfree", 0), set("ly", n), set("nx", n), set("ny", n), set("dt", 1e-3), set("itstp", 1);
  set("itmax", 1), set("ntrace", 0), set("ipade", 0), set("ihype", hype), set("b_plan", 1), set("npar", threads);
  set_run_constants(values);
  allocate_grid();
  omp_set_num_threads(npar);
  build_tables();
  make_transforms();
  compute_xmask();
}

// A smooth separable state with fresh history: ne, ni from a few modes, the fields derived from them.
void reset_state() {
  std::vector<double> row_a(nx), row_b(nx), col_a(ny), col_b(ny);
  const double twopi = 6.283185307179586;
  for (int x = 0; x <= nx1; x++) row_a[x] = sin(twopi * 3 * x / nx), row_b[x] = cos(twopi * 5 * x / nx);
  for (int y = 0; y <= ny1; y++) col_a[y] = cos(twopi * 2 * y / ny), col_b[y] = sin(twopi * 7 * y / ny);
#pragma omp parallel for schedule(static)
  for (int x = 0; x <= nx1; x++)
    for (int y = 0; y <= ny1; y++) {
      ne[x][y] = 0.1 * row_a[x] * col_a[y] + 0.02 * row_b[x] * col_b[y];
      ni[x][y] = 0.1 * row_a[x] * col_a[y] - 0.03 * row_b[x] * col_b[y];
    }
  spectral_solve(ni, cpoti, gni);
  for (int x = 0; x <= nx1; x++)
    for (int y = 0; y <= ny1; y++) ww[x][y] = -(zze * ne[x][y] + zzi * gni[x][y]);
  spectral_solve(ww, cvort, pe);
  spectral_solve(pe, cpoti, pi);
  complete_start_state();
  derive_dissipation();
}

// Grid set-up for the case's arguments (size, threads) and the per-call bookkeeping.
void prepare(benchmark::State &state, int hype = -1) {
  use_grid(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)), hype);
  reset_state();
}

// Points per second and, into record, the seconds per call of this repetition.
void finish(benchmark::State &state, double seconds, timings *record) {
  const double points = static_cast<double>(nx) * ny;
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * points));
  if (!record || state.iterations() == 0) return;
  (*record)[shape(nx, npar)].push_back(seconds / state.iterations());
}

// The ratio of this repetition's step time to the median of its transforms' time.
void ratio_counter(benchmark::State &state, double seconds, const timings &ffts) {
  auto fft = ffts.find(shape(nx, npar));
  if (fft != ffts.end() && state.iterations() > 0) state.counters["step/fft"] = seconds / state.iterations() / median(fft->second);
}

// Whole time steps; step/fft is their time over that of their transforms.
void time_steps(benchmark::State &state, timings *record, const timings &ffts) {
  double start = omp_get_wtime();
  for (auto _ : state) timestep(dt);
  double seconds = omp_get_wtime() - start;
  finish(state, seconds, record);
  ratio_counter(state, seconds, ffts);
}

// Time steps with ihype = -1.
void BM_step(benchmark::State &state) {
  prepare(state);
  time_steps(state, &step_times, fft_times);
}

// Time steps with the spectral dissipation ihype = 2.
void BM_step_hype2(benchmark::State &state) {
  prepare(state, 2);
  time_steps(state, &step2_times, fft2_times);
}

// Clear the transform inputs for a block of transforms alone. They run on zeros: a transform's
// time does not depend on the values, and a forward and backward pair multiplies its input by
// nx*ny, so any other field would overflow within a block.
void clear_transform_input() {
  memset(real_in, 0, sizeof(double) * 2 * real_slot);
  memset(spec_out, 0, sizeof(cplx) * 2 * spectrum_slot);
}

// The transforms of a step of warm ions without edge damping, on the buffers it runs them on: the
// two densities forward, pe and pi back, and with `dissipation` the two dissipation terms back
// (the c2r transforms destroy their input; on zeros that does not change their cost).
void transforms(bool dissipation) {
  forward_pair();
  backward_pair(spec_out, real_out);
  if (dissipation) backward_pair(spec_in, real_in);
}

void run_transforms(benchmark::State &state, bool dissipation, timings *record) {
  prepare(state);
  clear_transform_input();
  double start = omp_get_wtime();
  for (auto _ : state) transforms(dissipation);
  finish(state, omp_get_wtime() - start, record);
}

// The transforms of a step with ihype = -1 (two r2c, two c2r) and with ihype = 2 (two more c2r).
void BM_fft(benchmark::State &state) { run_transforms(state, false, &fft_times); }
void BM_fft2(benchmark::State &state) { run_transforms(state, true, &fft2_times); }

// One diagnostics call with every file it writes (in a scratch directory); its progress lines
// go to /dev/null so that they do not mix with the report.
void BM_diagnose(benchmark::State &state) {
  prepare(state);
  fflush(stdout);
  const int console = dup(1), null = open("/dev/null", O_WRONLY);
  if (null >= 0) dup2(null, 1);
  double start = omp_get_wtime();
  int call = 0;
  for (auto _ : state) {
    diagnose(1.0 + call, 0.0, call, 1000, state_output_fields());
    call++;
  }
  double seconds = omp_get_wtime() - start;
  fflush(stdout);
  if (console >= 0) dup2(console, 1);
  if (null >= 0) close(null);
  if (console >= 0) close(console);
  finish(state, seconds, &diag_times);
}

// One frame of the field history "tavo.nc" (ne, ni, pe, lap_pe in single precision, its series
// entry and the flush), in the scratch directory; the file is removed after the case.
void BM_frame(benchmark::State &state) {
  prepare(state);
  nframe = 1;
  history_start(0.0, 1000);
  output_scalars scalars = {};
  int call = 1;
  for (auto _ : state) history_output(1.0 * call, call, scalars, state_output_fields()), call++;
  history_end();
  remove("tavo.nc");
  finish(state, 0.0, nullptr);
}

// One checkpoint: the restart file written through its temporary name.
void BM_checkpoint(benchmark::State &state) {
  prepare(state);
  for (auto _ : state) writerestart(1.0);
  remove("restart.dat");
  finish(state, 0.0, nullptr);
}

// The Arakawa bracket {ne, pe}, into ww (a field only the output reads).
void BM_bracket(benchmark::State &state) {
  prepare(state);
  for (auto _ : state) arakawa(ne, pe, ww);
  finish(state, 0.0, nullptr);
}

// The fourth-order Laplacian of ne.
void BM_laplace(benchmark::State &state) {
  prepare(state);
  for (auto _ : state) laplace(hyve, ne);
  finish(state, 0.0, nullptr);
}

// One spectral solve: the gyro-average of ni.
void BM_solve(benchmark::State &state) {
  prepare(state);
  for (auto _ : state) spectral_solve(ni, cpoti, gni);
  finish(state, 0.0, nullptr);
}

// Every case at every size and thread count; the transforms run before the step so that the step
// can state its ratio.
void register_cases() {
  struct named {
    const char *name;
    void (*run)(benchmark::State &);
  } cases[] = {{"fft", BM_fft},          {"step", BM_step},         {"fft2", BM_fft2},
               {"step_hype2", BM_step_hype2}, {"diagnose", BM_diagnose}, {"bracket", BM_bracket},
               {"laplace", BM_laplace},   {"solve", BM_solve}, {"frame", BM_frame},
               {"checkpoint", BM_checkpoint}};
  for (const named &c : cases) {
    benchmark::internal::Benchmark *b = benchmark::RegisterBenchmark(c.name, c.run);
    b->ArgNames({"n", "threads"})->UseRealTime()->Unit(benchmark::kMillisecond);
    // a frame or checkpoint writes a file: a bounded count keeps the scratch directory small
    if (c.run == BM_frame || c.run == BM_checkpoint) b->Iterations(20);
    const bool large_too = c.run == BM_step || c.run == BM_fft;
    for (int n : sizes)
      for (int threads : thread_counts)
        if (n <= largest_every_case || large_too) b->Args({n, threads});
  }
}

// ---- The whole-step table ----
// The step and its transforms are timed again outside Google Benchmark, finely interleaved: each
// repetition alternates the step's transforms alone and a step, so that the drift of a shared
// machine, which here changes within a second, touches both sides of a ratio alike. A repetition
// lasts about a quarter of a second; its ratio is that of its summed times. The tables show the
// median over the repetitions and the lowest and highest repetition.
timings pair_step, pair_fft, pair_ratio, pair2_step, pair2_ratio;

void measure_interleaved(int n, int threads, int hype, int repetitions) {
  use_grid(n, threads, hype);
  reset_state();
  double start = omp_get_wtime();
  timestep(dt);
  const int calls = std::max(1, static_cast<int>(0.25 / std::max(omp_get_wtime() - start, 1e-6)));
  shape key(n, threads);
  for (int r = 0; r < repetitions; r++) {
    reset_state();
    double fft = 0, step = 0;
    auto timed = [](double &sum, auto &&work) {
      double begin = omp_get_wtime();
      work();
      sum += omp_get_wtime() - begin;
    };
    // The transforms run on what the last step left in the buffers: at most two unnormalised
    // pairs scale it by at most 1026^4, and the next step writes its transform input afresh.
    for (int c = 0; c < calls; c++) {
      timed(fft, [&] { transforms(hype > 0); });
      timed(step, [&] { timestep(dt); });
    }
    (hype == -1 ? pair_step : pair2_step)[key].push_back(step / calls);
    if (hype == -1) pair_fft[key].push_back(fft / calls);
    (hype == -1 ? pair_ratio : pair2_ratio)[key].push_back(step / fft);
  }
}

// "median (lowest-highest)" of a case's repetitions, scaled and with the given digits; "-" when it
// did not run.
std::string spread(const timings &t, shape key, double scale, int digits) {
  auto found = t.find(key);
  if (found == t.end() || found->second.empty()) return "-";
  const std::vector<double> &v = found->second;
  char text[64];
  snprintf(text, sizeof text, "%.*f (%.*f-%.*f)", digits, scale * median(v), digits,
           scale * *std::min_element(v.begin(), v.end()), digits, scale * *std::max_element(v.begin(), v.end()));
  return text;
}

// The whole-step table: per size and thread count the median time per step (with its spread) for
// ihype = -1 and 2, the transforms of the ihype = -1 step, grid points advanced per second, one
// diagnostics call in milliseconds and in steps, and the steps as multiples of their transforms.
void print_summary(int repetitions) {
  if (step_times.empty() && step2_times.empty() && diag_times.empty()) return;
  for (const auto &ran : step_times)
    if (ran.first.first <= largest_every_case) measure_interleaved(ran.first.first, ran.first.second, -1, repetitions);
  for (const auto &ran : step2_times) measure_interleaved(ran.first.first, ran.first.second, 2, repetitions);
  auto shown = [](shape key) { return pair_step.count(key) || pair2_step.count(key) || diag_times.count(key); };
  printf("\n| step and transforms in interleaved blocks, %d repetitions: medians, (lowest-highest) in brackets;"
         " times in ms\n",
         repetitions);
  printf("| %5s %3s  %-24s %-24s %-24s %9s  %-27s %6s\n", "size", "thr", "step, ihype=-1", "its transforms",
         "step, ihype=2", "Mpoints/s", "one diagnostics call", "steps");
  for (int n : sizes)
    for (int threads : thread_counts) {
      shape key(n, threads);
      if (!shown(key)) continue;
      std::string mpoints = "-", steps = "-";
      if (pair_step.count(key)) {
        char text[32];
        snprintf(text, sizeof text, "%.2f", 1e-6 * n * n / median(pair_step[key]));
        mpoints = text;
        if (diag_times.count(key)) {
          snprintf(text, sizeof text, "%.2f", median(diag_times[key]) / median(pair_step[key]));
          steps = text;
        }
      }
      printf("| %5d %3d  %-24s %-24s %-24s %9s  %-27s %6s\n", n, threads, spread(pair_step, key, 1e3, 3).c_str(),
             spread(pair_fft, key, 1e3, 3).c_str(), spread(pair2_step, key, 1e3, 3).c_str(), mpoints.c_str(),
             spread(diag_times, key, 1e3, 3).c_str(), steps.c_str());
    }
  printf("\n| the step as a multiple of its transforms alone, on the buffers the step runs them on\n");
  printf("| %5s %3s  %-17s %s\n", "size", "thr", "ihype=-1", "ihype=2");
  for (int n : sizes)
    for (int threads : thread_counts) {
      shape key(n, threads);
      if (!pair_step.count(key) && !pair2_step.count(key)) continue;
      printf("| %5d %3d  %-17s %s\n", n, threads, spread(pair_ratio, key, 1, 2).c_str(),
             spread(pair2_ratio, key, 1, 2).c_str());
    }
  printf("\n| the step (ihype=-1) per grid point at every size: Google Benchmark repetitions, median (lowest-highest)\n");
  printf("| %5s %3s  %-27s %s\n", "size", "thr", "ms per step", "ns per point and step");
  for (int n : sizes)
    for (int threads : thread_counts) {
      shape key(n, threads);
      if (!step_times.count(key)) continue;
      printf("| %5d %3d  %-27s %s\n", n, threads, spread(step_times, key, 1e3, 2).c_str(),
             spread(step_times, key, 1e9 / (static_cast<double>(n) * n), 2).c_str());
    }
}

// Start-up cost of the measured plans: the plans of the driver (the step's four and the two of the
// spectral solve) at every size and thread count, planned from no wisdom (as in a
// fresh run), next to the same plans with FFTW_ESTIMATE.
void print_plan_times() {
  printf("\n| planning the plans of the driver (seconds, from no wisdom)\n");
  printf("| %5s %3s %10s %10s\n", "size", "thr", "measured", "estimated");
  for (int n : sizes)
    for (int threads : thread_counts) {
      if (n > largest_every_case) continue;
      double seconds[2];
      for (int measured = 1; measured >= 0; measured--) {
        use_grid(n, threads);
        b_plan = measured;
        fftw_forget_wisdom();
        double start = omp_get_wtime();
        make_transforms();
        seconds[measured] = omp_get_wtime() - start;
      }
      printf("| %5d %3d %10.2f %10.3f\n", n, threads, seconds[1], seconds[0]);
      b_plan = true;
      make_transforms();
    }
}

}  // namespace

int main(int argc, char **argv) {
  if (fftw_init_threads() == 0) {
    printf("| ith=%d : thread init failed... exiting\n", 0);
    return 1;
  }
  // The diagnostics write their files into the working directory: use a scratch directory.
  char scratch[] = "/tmp/tavo-bench-XXXXXX";
  if (!mkdtemp(scratch) || chdir(scratch) != 0) {
    printf("| cannot make a scratch directory for the diagnostics files\n");
    return 1;
  }
  // Every case plans from this process's wisdom alone, never from the wisdom stored by runs.
  setenv("TAVO_WISDOM", "0", 1);
  register_cases();
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  const char *repetitions = getenv("BENCH_REPETITIONS");
  print_summary(repetitions && atoi(repetitions) > 0 ? atoi(repetitions) : 5);
  const char *plan_times = getenv("BENCH_PLAN_TIMES");
  if (plan_times && *plan_times == '1') print_plan_times();
  fftw_cleanup_threads();
  std::string remove = std::string("rm -rf ") + scratch;
  if (system(remove.c_str()) != 0) printf("| could not remove %s\n", scratch);
  return 0;
}
