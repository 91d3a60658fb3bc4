// Micro-benchmarks of the time step: whole steps as the driver runs them (warm ions, so three
// spectral filters, the plain Laplacian dissipation ihype = -1, measured plans), the same with the
// spectral k^4 dissipation ihype = 2 (five filters), the Arakawa bracket, the fourth-order
// Laplacian, one spectral filter and one diagnostics call with all its files, each at 64^2, 256^2,
// 512^2 and 1024^2 grid points with 1 and 2 threads (the step and its transforms also at 2048^2
// and 4096^2); and the steps' own FFT work alone: the six
// (ten) complex transforms that one step executes, on the buffers it runs them on. Reported: time
// per call and grid points per second;
// the step's time as a multiple of its FFT work ("step/fft"), and a summary table at the end with
// the median over the repetitions and the spread (lowest and highest). For that table the step and
// its transforms are timed once more in interleaved blocks, so that each repetition's ratio
// compares two measurements taken a fraction of a second apart.
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
#include "operators/operators.hpp"
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
timings step_times, fft_times, step2_times, fft10_times, diag_times;

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
  // chat, taui, delta, diff, incon, sigma, amp, vorfree, ly, nx, ny, dt, itstp, itmax, ntrace,
  // ipade, ihype, b_plan, npar. ly = n gives a unit grid spacing; the negative diff damps under the
  // plain Laplacian (and a positive one would be used with ihype = 2: the sign only matters for a
  // long run).
  const double values[nvalues] = {1.0, 1.0, 1.0, -1e-3, 1, 2.0, 0.1, 0, static_cast<double>(n), static_cast<double>(n),
                                  static_cast<double>(n), 1e-3, 1, 1, 0, 0, static_cast<double>(hype), 1,
                                  static_cast<double>(threads)};
  set_run_constants(values);
  allocate_fields();
  omp_set_num_threads(npar);
  build_tables();
  make_transforms();
  compute_xmask();
  dtt = dt * 6.0 / 11.0;
  ddtt = itstp * dt;
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

// Steps are timed as the driver runs them: in output intervals of this many steps, each told that
// more steps follow except the last, which puts the history back into its arrays for the
// diagnostics. A step that ends an interval costs a few per cent more (the summary shows it alone).
constexpr int interval_steps = 10;

// The `count` steps that follow `done` steps of a run in intervals of interval_steps.
void run_steps(long done, long count) {
  for (long c = done + 1; c <= done + count; c++) timestep(c % interval_steps != 0);
}

// Whole time steps as the driver runs them; step/fft is their time over that of their transforms.
void time_steps(benchmark::State &state, timings *record, const timings &ffts) {
  long done = 0;
  double start = omp_get_wtime();
  for (auto _ : state) run_steps(done++, 1);
  double seconds = omp_get_wtime() - start;
  if (done % interval_steps) timestep();  // end the interval (untimed)
  finish(state, seconds, record);
  ratio_counter(state, seconds, ffts);
}

// Time steps with ihype = -1 (six transforms).
void BM_step(benchmark::State &state) {
  prepare(state);
  time_steps(state, &step_times, fft_times);
}

// Time steps with the spectral dissipation ihype = 2 (ten transforms).
void BM_step_hype2(benchmark::State &state) {
  prepare(state, 2);
  time_steps(state, &step2_times, fft10_times);
}

// Clear the transform inputs for a block of transforms alone. They run on zeros: a transform's
// time does not depend on the values, and a forward and backward pair multiplies its input by
// nx*ny (the step's tables undo that), so any other field would overflow within a block.
void clear_transform_input() {
  memset(fw_in, 0, sizeof(cplx) * nx * ny);
  memset(bw_in, 0, sizeof(cplx) * nx * ny);
}

// The complex transforms that one step executes, `filters` forward and backward pairs, on the
// buffers it runs them on: the forward plan from fw_in into fw_out, the backward plan from fw_out
// back into fw_in, for the last pair (the gyro-average of the potential) into bw_out.
void transforms(int filters) {
  for (int filter = 0; filter < filters; filter++) {
    fftw_execute(plan_fw);
    fftw_execute_dft(plan_bw, fw_out, filter + 1 < filters ? fw_in : bw_out);
  }
}

// The same pairs on the plans' own buffers (fw_in into fw_out, bw_in into bw_out). Four buffers
// instead of two: at 1024^2 this takes about a quarter longer than the transforms as the step runs
// them.
void transforms_on_own_buffers(int filters) {
  for (int filter = 0; filter < filters; filter++) {
    fftw_execute(plan_fw);
    fftw_execute(plan_bw);
  }
}

void run_transforms(benchmark::State &state, int filters, timings *record) {
  prepare(state);
  clear_transform_input();
  double start = omp_get_wtime();
  for (auto _ : state) transforms(filters);
  finish(state, omp_get_wtime() - start, record);
}

// The six transforms of a step with warm ions and ihype = -1.
void BM_fft(benchmark::State &state) { run_transforms(state, 3, &fft_times); }

// The ten transforms of a step with warm ions and ihype = 2.
void BM_fft10(benchmark::State &state) { run_transforms(state, 5, &fft10_times); }

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
    diagnose(1.0 + call, 0.0, call, 1000, ne, ni, pe, gni);
    call++;
  }
  double seconds = omp_get_wtime() - start;
  fflush(stdout);
  if (console >= 0) dup2(console, 1);
  if (null >= 0) close(null);
  if (console >= 0) close(console);
  finish(state, seconds, &diag_times);
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
  } cases[] = {{"fft6", BM_fft},         {"step", BM_step},         {"fft10", BM_fft10},
               {"step_hype2", BM_step_hype2}, {"diagnose", BM_diagnose}, {"bracket", BM_bracket},
               {"laplace", BM_laplace},   {"filter", BM_filter}};
  for (const named &c : cases) {
    benchmark::internal::Benchmark *b = benchmark::RegisterBenchmark(c.name, c.run);
    b->ArgNames({"n", "threads"})->UseRealTime()->Unit(benchmark::kMillisecond);
    const bool large_too = c.run == BM_step || c.run == BM_fft;
    for (int n : sizes)
      for (int threads : thread_counts)
        if (n <= largest_every_case || large_too) b->Args({n, threads});
  }
}

// ---- The whole-step table ----
// The step and its transforms are timed again outside Google Benchmark, finely interleaved: each
// repetition runs output intervals of steps as the driver runs them, and before each step of an
// interval it times the step's transforms alone (as the step runs them, then on the plans' own
// buffers) and after it, for ihype = -1, a single step that ends an interval. A repetition lasts
// about a second; its ratios are those of its summed times, so that the drift of a shared
// machine, which here changes within a second, touches both sides of a ratio alike. The tables
// show the median over the repetitions and the lowest and highest repetition.
timings pair_step, pair_fft, pair_ratio, pair_ratio_own, pair_ratio_single, pair2_ratio, pair2_ratio_own;

void measure_interleaved(int n, int threads, int hype, int repetitions) {
  use_grid(n, threads, hype);
  reset_state();
  const int filters = hype == -1 ? 3 : 5;
  double start = omp_get_wtime();
  timestep();
  // Intervals per repetition.
  const int intervals = std::max(1, static_cast<int>(0.25 / interval_steps / std::max(omp_get_wtime() - start, 1e-6)));
  shape key(n, threads);
  for (int r = 0; r < repetitions; r++) {
    reset_state();
    clear_transform_input();
    double fft = 0, fft_own = 0, step = 0, single = 0;
    auto timed = [](double &sum, auto &&work) {
      double begin = omp_get_wtime();
      work();
      sum += omp_get_wtime() - begin;
    };
    // The transforms run on what the last step left in fw_in: at most five unnormalised pairs
    // scale it by at most 1026^10, far from overflow, and the next step writes fw_in afresh. They
    // also overwrite bw_out, where a step that more steps follow leaves the gyro-averaged potential
    // for the next: the transforms on the plans' own buffers run last and leave there the
    // transform of the zero bw_in, so the next step reads a zero potential, which costs the same
    // and grows nothing. A single step may follow a step that more steps follow: it puts the
    // history back, as the last step of an interval does.
    for (int interval = 0; interval < intervals; interval++)
      for (int c = 0; c < interval_steps; c++) {
        timed(fft, [&] { transforms(filters); });
        timed(fft_own, [&] { transforms_on_own_buffers(filters); });
        timed(step, [&] { run_steps(c, 1); });
        if (hype == -1) timed(single, [&] { timestep(); });
      }
    const double calls = static_cast<double>(intervals) * interval_steps;
    if (hype == -1) {
      pair_step[key].push_back(step / calls);
      pair_fft[key].push_back(fft / calls);
      pair_ratio[key].push_back(step / fft);
      pair_ratio_own[key].push_back(step / fft_own);
      pair_ratio_single[key].push_back(single / fft);
    } else {
      pair2_ratio[key].push_back(step / fft);
      pair2_ratio_own[key].push_back(step / fft_own);
    }
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

// The whole-step tables. Times: per size and thread count the median time per step (with its
// spread) and of its six transforms as the step runs them, grid points advanced per second, and
// one diagnostics call in milliseconds and in steps. Ratios: the step as a multiple of its
// transforms, run on the step's buffers and on the plans' own, for ihype = -1 and 2.
void print_summary(int repetitions) {
  if (step_times.empty() && step2_times.empty() && diag_times.empty()) return;
  for (const auto &ran : step_times)
    if (ran.first.first <= largest_every_case) measure_interleaved(ran.first.first, ran.first.second, -1, repetitions);
  for (const auto &ran : step2_times) measure_interleaved(ran.first.first, ran.first.second, 2, repetitions);
  auto shown = [](shape key) { return pair_step.count(key) || pair2_ratio.count(key) || diag_times.count(key); };
  printf("\n| step and transforms in interleaved blocks, %d repetitions: medians, (lowest-highest) in brackets;"
         " times in ms; steps in output intervals of %d\n",
         repetitions, interval_steps);
  printf("| %5s %3s  %-24s %-24s %9s  %-27s %6s\n", "size", "thr", "step, ihype=-1", "its 6 FFTs", "Mpoints/s",
         "one diagnostics call", "steps");
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
      printf("| %5d %3d  %-24s %-24s %9s  %-27s %6s\n", n, threads, spread(pair_step, key, 1e3, 3).c_str(),
             spread(pair_fft, key, 1e3, 3).c_str(), mpoints.c_str(), spread(diag_times, key, 1e3, 3).c_str(),
             steps.c_str());
    }
  printf("\n| the step as a multiple of its transforms alone: on the step's buffers (fw_in -> fw_out -> fw_in,"
         " the last into bw_out)"
         " and on the plans' own (fw_in -> fw_out, bw_in -> bw_out); single steps each end an interval\n");
  printf("| %5s %3s  %-17s %-17s %-17s %-17s %s\n", "size", "thr", "ihype=-1", "-1, own buffers", "-1, single steps",
         "ihype=2", "2, own buffers");
  for (int n : sizes)
    for (int threads : thread_counts) {
      shape key(n, threads);
      if (!pair_step.count(key) && !pair2_ratio.count(key)) continue;
      printf("| %5d %3d  %-17s %-17s %-17s %-17s %s\n", n, threads, spread(pair_ratio, key, 1, 2).c_str(),
             spread(pair_ratio_own, key, 1, 2).c_str(), spread(pair_ratio_single, key, 1, 2).c_str(),
             spread(pair2_ratio, key, 1, 2).c_str(), spread(pair2_ratio_own, key, 1, 2).c_str());
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

// Start-up cost of the measured plans: the two FFTW_MEASURE plans of the driver at every size
// and thread count, planned from no wisdom (as in a fresh run), next to the same two plans with
// FFTW_ESTIMATE.
void print_plan_times() {
  printf("\n| planning the two plans of the driver (seconds, from no wisdom)\n");
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
