// Runs across processes (mpirun --oversubscribe -np 2, 3 and 4, one or two threads each) against the
// run of one process: every file the same. The processes change only the order of the transforms'
// sums and of the reductions (and so their round-off), so:
//   - every variable of the checkpoint "restart.nc" and of the field history "tavo.nc" agrees to
//     1e-10 of its largest value;
//   - the text files agree word by word, a number to one unit of its last printed digit (a value
//     that sits at a rounding boundary may print either way after a round-off change);
//   - a quantity that vanishes (the flux of a symmetric merger, a spectrum's empty modes) is
//     round-off in both runs: a column, or a variable, whose largest value lies below a millionth
//     of the largest of its file is compared against that millionth instead;
//   - the console agrees line by line but for the timing report.
#include <gtest/gtest.h>
#include <netcdf.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "support/dirs.hpp"
#include "support/run_setup.hpp"

namespace {

// The shell command that runs mpirun for n processes of the program in dir, its console into
// stdout.txt and stderr.txt; the sanitizer build runs them without its leak report (OpenMPI keeps
// memory it never frees). `environment`: variables set for mpirun ("NAME=value ..."). The jobs
// oversubscribe the machine's cores, so idle OpenMP threads sleep instead of spinning: spinning
// threads of one process starve the others' exchanges (2 processes of 2 threads on 2 busy cores
// took 125 s for what takes 3 s with OMP_WAIT_POLICY=passive).
std::string mpirun_command(const std::string &dir, int n, const std::string &environment = "") {
  return "cd '" + dir + "' && " + environment +
         " OMP_WAIT_POLICY=passive OMPI_ALLOW_RUN_AS_ROOT=1 OMPI_ALLOW_RUN_AS_ROOT_CONFIRM=1 ASAN_OPTIONS=detect_leaks=0 "
         "exec mpirun "
         "--oversubscribe --bind-to none -x ASAN_OPTIONS -np " +
         std::to_string(n) + " '" + tavo_program() + "' > stdout.txt 2> stderr.txt";
}

// Run n processes of the program in dir to their end; the exit status (-1 when none).
int run_processes(const std::string &dir, int n, const std::string &environment = "") {
  const int status = system(mpirun_command(dir, n, environment).c_str());
  if (status == -1 || !WIFEXITED(status)) return -1;
  return WEXITSTATUS(status);
}

// The words of a text, line by line.
std::vector<std::vector<std::string>> words_of(const std::string &text) {
  std::vector<std::vector<std::string>> lines;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) {
    std::istringstream words(line);
    lines.emplace_back();
    for (std::string w; words >> w;) lines.back().push_back(w);
  }
  return lines;
}

// The place of the last significant digit of a printed number ("1.234560e-03": 1e-9), 0 when the
// word is no number.
double last_digit(const std::string &word) {
  char *end = nullptr;
  strtod(word.c_str(), &end);
  if (end == word.c_str() || *end != '\0') return 0.0;
  const size_t exponent = word.find_first_of("eE");
  const std::string mantissa = word.substr(0, exponent);
  const size_t point = mantissa.find('.');
  const int decimals = point == std::string::npos ? 0 : int(mantissa.size() - point - 1);
  const int power = exponent == std::string::npos ? 0 : atoi(word.c_str() + exponent + 1);
  return std::pow(10.0, power - decimals);
}

// "" when the two texts agree word by word (see the head of the file), else the first
// difference. The timing report's lines are left out of both.
std::string text_difference(const std::string &one, const std::string &other) {
  auto kept = [](const std::string &text) {
    std::string lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
      if (line.rfind("| total times", 0) != 0 && line.rfind("| rela. times", 0) != 0) lines += line + "\n";
    return words_of(lines);
  };
  const auto a = kept(one), b = kept(other);
  if (a.size() != b.size()) return "lines: " + std::to_string(a.size()) + " and " + std::to_string(b.size());
  // The largest magnitude of each column and of the file, in the first text.
  std::vector<double> column;
  double largest = 0;
  for (const auto &line : a)
    for (size_t w = 0; w < line.size(); w++) {
      if (column.size() <= w) column.resize(w + 1, 0.0);
      if (last_digit(line[w]) == 0) continue;
      const double v = std::fabs(strtod(line[w].c_str(), nullptr));
      if (std::isfinite(v)) column[w] = std::max(column[w], v), largest = std::max(largest, v);
    }
  for (size_t l = 0; l < a.size(); l++) {
    if (a[l].size() != b[l].size()) return "words in line " + std::to_string(l + 1);
    for (size_t w = 0; w < a[l].size(); w++) {
      if (a[l][w] == b[l][w]) continue;
      const double unit = std::max(last_digit(a[l][w]), last_digit(b[l][w]));
      const double x = strtod(a[l][w].c_str(), nullptr), y = strtod(b[l][w].c_str(), nullptr);
      const double roundoff = 1e-10 * std::max(column[w], 1e-6 * largest);
      if (unit > 0 && std::fabs(x - y) <= std::max(1.0001 * unit, roundoff)) continue;
      return "line " + std::to_string(l + 1) + ": " + a[l][w] + " and " + b[l][w];
    }
  }
  return "";
}

// The largest difference of the variables of two netCDF files relative to each variable's largest
// value (at least a millionth of the file's largest value); -1 when they differ in their variables
// or shapes.
double netcdf_difference(const std::string &one, const std::string &other) {
  int a, b;
  if (nc_open(one.c_str(), NC_NOWRITE, &a) != NC_NOERR) return -1;
  if (nc_open(other.c_str(), NC_NOWRITE, &b) != NC_NOERR) return nc_close(a), -1;
  int nvars = 0, nvars_b = 0;
  nc_inq_nvars(a, &nvars);
  nc_inq_nvars(b, &nvars_b);
  double worst = nvars == nvars_b ? 0.0 : -1.0;
  std::vector<double> scales, differences;
  for (int v = 0; v < nvars && worst >= 0; v++) {
    char name[NC_MAX_NAME + 1];
    int ndims, dims[NC_MAX_VAR_DIMS], vb;
    nc_inq_var(a, v, name, nullptr, &ndims, dims, nullptr);
    size_t count = 1;
    for (int d = 0; d < ndims; d++) {
      size_t length;
      nc_inq_dimlen(a, dims[d], &length);
      count *= length;
    }
    if (nc_inq_varid(b, name, &vb) != NC_NOERR) return -1;
    std::vector<double> x(count), y(count);
    if (count == 0) continue;
    if (nc_get_var_double(a, v, x.data()) != NC_NOERR || nc_get_var_double(b, vb, y.data()) != NC_NOERR) {
      worst = -1;
      break;
    }
    double scale = 0, diff = 0;
    for (size_t i = 0; i < count; i++) {
      if (std::isnan(x[i]) && std::isnan(y[i])) continue;
      scale = std::max(scale, std::fabs(x[i]));
      diff = std::max(diff, std::fabs(x[i] - y[i]));
    }
    scales.push_back(scale);
    differences.push_back(diff);
  }
  nc_close(a);
  nc_close(b);
  double largest = 0;
  for (double s : scales) largest = std::max(largest, s);
  for (size_t v = 0; v < scales.size() && worst >= 0; v++) {
    const double scale = std::max(scales[v], 1e-6 * largest);
    if (scale > 0) worst = std::max(worst, differences[v] / scale);
  }
  return worst;
}

// Every file of the run of one process in `one` against the run in `other` (with `console`, its
// standard output and error as well).
void expect_same_files(const std::string &one, const std::string &other, bool console = true) {
  for (const std::string &name : entries(one)) {
    if (name == "stderr.txt" || name == "tavo.lock" || name == "tavo.inp") continue;
    if (!console && name == "stdout.txt") continue;
    SCOPED_TRACE(name);
    ASSERT_TRUE(entries(other).count(name)) << "missing";
    if (name.size() > 3 && name.compare(name.size() - 3, 3, ".nc") == 0) {
      const double d = netcdf_difference(one + "/" + name, other + "/" + name);
      EXPECT_GE(d, 0.0) << "different variables";
      EXPECT_LE(d, 1e-10);
    } else {
      EXPECT_EQ(text_difference(read_text(one + "/" + name), read_text(other + "/" + name)), "");
    }
  }
  if (!console) return;
  // Standard error: the same lines, and first the line that names the processes and their slabs.
  std::string errors = without_progress(read_text(other + "/stderr.txt"));
  const size_t named = errors.find(" processes of ");
  EXPECT_EQ(errors.compare(0, 2, "| "), 0);
  EXPECT_NE(named, std::string::npos) << errors;
  if (named != std::string::npos) errors.erase(0, errors.find('\n') + 1);
  EXPECT_EQ(errors, without_progress(read_text(one + "/stderr.txt")));
}

struct process_case {
  const char *name;
  int nx, ny;
  double taui, chat, incon, vorfree, ihype, ipade, diff;
  bool two_threads;  // also 2 processes of 2 threads each
  double cfl = 0.0;  // adaptive steps (at most dt 0.05): every process takes the same steps
};

// Start modes, warm and cold ions, the edge damping, every dissipation and both couplings, on grids
// whose rows split evenly over the processes and grids whose rows do not.
const process_case cases[] = {
    {"bath_warm_k4", 50, 64, 1.0, 0.5, 1, 0, 2, 0, 2e-3, true},
    {"bath_cold_k12", 33, 40, 0.0, 1.0, 1, 0, 8, 0, 1e-12, false},
    {"blob_cold_laplacian", 51, 40, 0.0, 1.0, 0, 0, -1, 0, 5e-3, false},
    {"merger_biharmonic_ordinary", 48, 48, 1.0, -0.8, 3, 0, 0, 0, 1e-3, true},
    {"edge_damping_warm_k2", 45, 32, 1.0, 0.5, 1, 2, 1, 1, 2e-3, true},
    {"edge_damping_cold_k8", 40, 36, 0.0, 0.5, 0, 2, 4, 0, 1e-9, false},
    {"shear_flow_k2_gamma0", 36, 48, 0.5, 0.3, 4, 0, 1, 1, 2e-3, false},
    {"ky_mode", 24, 32, 1.0, 0.2, 5, 0, -1, 0, 5e-3, false},
    {"adaptive_bath_warm_k4", 50, 64, 1.0, 0.5, 1, 0, 2, 0, 2e-3, false, 0.8},
    {"adaptive_edge_damping_cold_biharmonic", 40, 36, 0.0, -0.5, 0, 2, 0, 0, 1e-3, false, 0.8},
};

void PrintTo(const process_case &c, std::ostream *out) { *out << c.name; }

class Processes : public testing::TestWithParam<process_case> {};

values19 case_values(const process_case &c) {
  values19 v = test_values();
  v[v_nx] = c.nx;
  v[v_ny] = c.ny;
  v[v_taui] = c.taui;
  v[v_chat] = c.chat;
  v[v_incon] = c.incon;
  v[v_vorfree] = c.vorfree;
  v[v_ihype] = c.ihype;
  v[v_ipade] = c.ipade;
  v[v_diff] = c.diff;
  v[v_amp] = c.incon == 5 ? 1e-3 : 0.3;
  v[v_sigma] = c.incon == 5 ? 2 : 2.5;
  v[v_ly] = 20;
  v[v_dt] = c.cfl > 0 ? 0.05 : 0.01;
  v[v_itstp] = 25;
  v[v_itmax] = 100;
  v[v_ntrace] = 5;
  v[v_npar] = 1;
  return v;
}

TEST_P(Processes, WriteTheFilesOfOneProcess) {
  const process_case &c = GetParam();
  const values19 v = case_values(c);
  const std::string one = make_temp_dir();
  const std::string parameters = parameter_file(v, 2, 2, c.cfl);
  write_text(one + "/tavo.inp", parameters);
  ASSERT_EQ(run_processes(one, 1), 0) << read_text(one + "/stdout.txt") << read_text(one + "/stderr.txt");
  struct job {
    int processes, threads;
  };
  std::vector<job> jobs = {{2, 1}, {3, 1}, {4, 1}};
  if (c.two_threads) jobs.push_back({2, 2});
  for (const job &j : jobs) {
    SCOPED_TRACE(std::to_string(j.processes) + " processes of " + std::to_string(j.threads) + " threads");
    values19 w = v;
    w[v_npar] = j.threads;
    const std::string many = make_temp_dir();
    write_text(many + "/tavo.inp", parameter_file(w, 2, 2, c.cfl));
    ASSERT_EQ(run_processes(many, j.processes), 0) << read_text(many + "/stdout.txt") << read_text(many + "/stderr.txt");
    // With two threads the thread report of the console names them: the files alone are compared.
    expect_same_files(one, many, j.threads == 1);
    if (!HasFailure()) remove_test_dir(many);
  }
  if (!HasFailure()) remove_test_dir(one);
}

INSTANTIATE_TEST_SUITE_P(Cases, Processes, testing::ValuesIn(cases),
                         [](const testing::TestParamInfo<process_case> &info) { return std::string(info.param.name); });

// A run continued with another number of processes than the part before it (the checkpoint holds
// the whole grid) ends with the files of a run of one process continued with one.
TEST(ProcessesContinuation, GoesOnWithAnyNumberOfProcesses) {
  values19 v = case_values(cases[0]);
  const std::string one = make_temp_dir(), many = make_temp_dir();
  for (const std::string &dir : {one, many}) write_text(dir + "/tavo.inp", parameter_file(v, 2, 2));
  ASSERT_EQ(run_processes(one, 1), 0);
  ASSERT_EQ(run_processes(many, 3), 0);
  v[v_incon] = 2;
  for (const std::string &dir : {one, many}) write_text(dir + "/tavo.inp", parameter_file(v, 2, 2));
  ASSERT_EQ(run_processes(one, 1), 0);
  ASSERT_EQ(run_processes(many, 2), 0) << read_text(many + "/stdout.txt");
  expect_same_files(one, many);
  if (!HasFailure()) remove_test_dir(one), remove_test_dir(many);
}

// A job stopped by a signal (SIGUSR1 to mpirun, which hands it to every process; each may see it
// at another step, and all stop at the step of the first) writes its checkpoint there and ends
// with status 75; resumed on another number of processes, it ends with the files of a run of one
// process that never stopped.
TEST(ProcessesContinuation, StoppedBySignalResumesOnAnotherNumberOfProcesses) {
  values19 v = case_values(cases[0]);
  v[v_itmax] = 300;  // twelve outputs
  const std::string one = make_temp_dir(), many = make_temp_dir();
  for (const std::string &dir : {one, many}) write_text(dir + "/tavo.inp", parameter_file(v, 2, 4));
  ASSERT_EQ(run_processes(one, 1), 0);

  const std::string command = mpirun_command(many, 3);
  const pid_t pid = fork();
  if (pid == 0) {
    execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char *>(nullptr));
    _exit(127);
  }
  const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(240);
  int status = 0;
  bool signalled = false;
  while (!signalled && std::chrono::steady_clock::now() < give_up && waitpid(pid, &status, WNOHANG) == 0) {
    const std::string console = read_text(many + "/stdout.txt");
    size_t outputs = 0;
    for (size_t at = console.find("|t="); at != std::string::npos; at = console.find("|t=", at + 1)) outputs++;
    if (outputs >= 4) signalled = kill(pid, SIGUSR1) == 0;
    else std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  if (signalled) waitpid(pid, &status, 0);
  ASSERT_TRUE(signalled) << "the job ended before its fourth output";
  ASSERT_TRUE(WIFEXITED(status));
  ASSERT_EQ(WEXITSTATUS(status), 75) << read_text(many + "/stderr.txt");
  EXPECT_NE(read_text(many + "/stderr.txt").find("| stopped by SIGUSR1 at t = "), std::string::npos);

  v[v_incon] = 2;
  write_text(many + "/tavo.inp", parameter_file(v, 2, 4));
  ASSERT_EQ(run_processes(many, 2), 0) << read_text(many + "/stdout.txt") << read_text(many + "/stderr.txt");
  EXPECT_EQ(without_progress(read_text(many + "/stderr.txt")).find("(seven significant digits)"), std::string::npos)
      << "resumed from restart.nc, not from the seven digits of restart.dat";
  expect_same_files(one, many, false);
  if (!HasFailure()) remove_test_dir(one), remove_test_dir(many);
}

// Measured plans (b_plan 1) across processes: the first job stores the wisdom of its MPI planners
// in a file of its own ("-2p"), the second imports it on process 0 and hands it to the others, which
// must plan alike; both write the files of a run of one process.
TEST(ProcessesPlans, MeasuredPlansKeepTheirWisdomPerProcessCount) {
  values19 v = case_values(cases[0]);
  v[v_bplan] = 1;
  v[v_itmax] = 50;
  const std::string one = make_temp_dir(), cache = make_temp_dir();
  const std::string environment = "XDG_CACHE_HOME='" + cache + "' TAVO_WISDOM=1";
  write_text(one + "/tavo.inp", parameter_file(v, 2, 2));
  ASSERT_EQ(run_processes(one, 1, environment), 0) << read_text(one + "/stderr.txt");
  const std::string stored = cache + "/tavo/wisdom-50x64-1t-2p";
  for (int run = 0; run < 2; run++) {
    SCOPED_TRACE(run == 0 ? "the first job" : "the second job");
    const std::string many = make_temp_dir();
    write_text(many + "/tavo.inp", parameter_file(v, 2, 2));
    ASSERT_EQ(run_processes(many, 2, environment), 0) << read_text(many + "/stdout.txt") << read_text(many + "/stderr.txt");
    const std::string wisdom = read_text(stored);
    EXPECT_EQ(wisdom.rfind("tavo wisdom ", 0), 0u) << stored;
    EXPECT_NE(wisdom.find(" 2p measure\n"), std::string::npos) << wisdom.substr(0, wisdom.find('\n'));
    expect_same_files(one, many);
    if (!HasFailure()) remove_test_dir(many);
  }
  if (!HasFailure()) remove_test_dir(one), std::filesystem::remove_all(cache);
}

// More processes than FFTW's slabs can give two rows each, or than the half spectrum has columns:
// one "|" line naming the grid, the processes and the most this grid can have, status 1, and
// nothing but the parameter file in the directory.
TEST(ProcessesRefusal, ALayoutWithoutRowsOrSpectrumTouchesNoFile) {
  struct layout {
    int nx, ny, processes;
    const char *line;
  };
  const layout layouts[] = {
      {5, 64, 3, "| nx = 5, ny = 64 (values 10, 11) on 3 processes: FFTW's slabs give a process 1 rows"},
      {64, 4, 4,
       "| nx = 64, ny = 4 (values 10, 11) on 4 processes: FFTW's layout leaves a process none of the half "
       "spectrum's 3 columns; use at most 3 processes for this grid"},
  };
  for (const layout &l : layouts) {
    values19 v = case_values(cases[0]);
    v[v_nx] = l.nx, v[v_ny] = l.ny;
    const std::string dir = make_temp_dir();
    write_text(dir + "/tavo.inp", parameter_file(v));
    EXPECT_EQ(run_processes(dir, l.processes), 1);
    const std::string console = read_text(dir + "/stdout.txt");
    const std::string named = "| nx = " + std::to_string(l.nx) + ",";
    EXPECT_NE(console.find(l.line), std::string::npos) << console;
    EXPECT_EQ(console.find(named), console.rfind(named)) << "one refusal line: " << console;
    const std::set<std::string> want = {"tavo.inp", "stdout.txt", "stderr.txt"};
    EXPECT_EQ(entries(dir), want);
    if (!HasFailure()) remove_test_dir(dir);
  }
}

// A check that fails in one process only (here: process 1's address space, ulimit -v) stops every
// process with that process's "|" line, status 1, before process 0 touches a file.
TEST(ProcessesRefusal, OneProcessStoppingStopsAllBeforeAnyFile) {
#ifdef TAVO_SANITIZE
  GTEST_SKIP() << "the sanitizer reserves far more address space than any ulimit -v that tests this";
#endif
  values19 v = case_values(cases[0]);
  v[v_nx] = v[v_ny] = 1024;
  v[v_itmax] = v[v_itstp] = 10;
  const std::string dir = make_temp_dir();
  write_text(dir + "/tavo.inp", parameter_file(v));
  const std::string command = "cd '" + dir +
                              "' && OMPI_ALLOW_RUN_AS_ROOT=1 OMPI_ALLOW_RUN_AS_ROOT_CONFIRM=1 mpirun --oversubscribe "
                              "-np 2 sh -c 'if [ \"$OMPI_COMM_WORLD_RANK\" = 1 ]; then ulimit -v 400000; fi; exec \"$0\"' '" +
                              tavo_program() + "' > stdout.txt 2> stderr.txt";
  const int status = system(command.c_str());
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 1);
  const std::string console = read_text(dir + "/stdout.txt");
  const size_t line = console.find("| nx = 1024, ny = 1024 (values 10, 11): the run needs");
  EXPECT_NE(line, std::string::npos) << console;
  EXPECT_EQ(console.find("| nx = 1024", line + 1), std::string::npos) << "one line: " << console;
  EXPECT_NE(console.find("(ulimit -v)"), std::string::npos) << console;
  const std::set<std::string> want = {"tavo.inp", "stdout.txt", "stderr.txt"};
  EXPECT_EQ(entries(dir), want);
  if (!HasFailure()) remove_test_dir(dir);
}

}  // namespace
