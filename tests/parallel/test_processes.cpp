// Runs across processes (mpirun --oversubscribe -np 2 and 3) against the run of one process: every
// file the same. The processes change only the order of the transforms' sums (and so their
// round-off), so:
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

#include <cmath>
#include <algorithm>
#include <cstdlib>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "support/dirs.hpp"
#include "support/run_setup.hpp"

namespace {

// mpirun for n processes of the program in dir; the sanitizer build runs them without its leak
// report (OpenMPI keeps memory it never frees).
int run_processes(const std::string &dir, int n) {
  std::string command = "cd '" + dir +
                        "' && OMPI_ALLOW_RUN_AS_ROOT=1 OMPI_ALLOW_RUN_AS_ROOT_CONFIRM=1 "
                        "ASAN_OPTIONS=detect_leaks=0 mpirun --oversubscribe -x ASAN_OPTIONS -np " +
                        std::to_string(n) + " '" + tavo_program() + "' > stdout.txt 2> stderr.txt";
  const int status = system(command.c_str());
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

// Every file of the run of one process in `one` against the run in `other`.
void expect_same_files(const std::string &one, const std::string &other) {
  for (const std::string &name : entries(one)) {
    if (name == "stderr.txt" || name == "tavo.lock" || name == "tavo.inp") continue;
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
};

// Start modes, warm and cold ions, the edge damping, every dissipation and both couplings, on grids
// whose rows split evenly over the processes and grids whose rows do not.
const process_case cases[] = {
    {"bath_warm_k4", 50, 64, 1.0, 0.5, 1, 0, 2, 0, 2e-3},
    {"bath_cold_k12", 33, 40, 0.0, 1.0, 1, 0, 8, 0, 1e-12},
    {"blob_cold_laplacian", 51, 40, 0.0, 1.0, 0, 0, -1, 0, 5e-3},
    {"merger_biharmonic_ordinary", 48, 48, 1.0, -0.8, 3, 0, 0, 0, 1e-3},
    {"edge_damping_warm_k2", 45, 32, 1.0, 0.5, 1, 2, 1, 1, 2e-3},
    {"edge_damping_cold_k8", 40, 36, 0.0, 0.5, 0, 2, 4, 0, 1e-9},
    {"shear_flow_k2_gamma0", 36, 48, 0.5, 0.3, 4, 0, 1, 1, 2e-3},
    {"ky_mode", 24, 32, 1.0, 0.2, 5, 0, -1, 0, 5e-3},
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
  v[v_dt] = 0.01;
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
  write_text(one + "/tavo.inp", parameter_file(v, 2, 2));
  ASSERT_EQ(run_processes(one, 1), 0) << read_text(one + "/stdout.txt") << read_text(one + "/stderr.txt");
  for (int n : {2, 3}) {
    SCOPED_TRACE(std::to_string(n) + " processes");
    const std::string many = make_temp_dir();
    write_text(many + "/tavo.inp", parameter_file(v, 2, 2));
    ASSERT_EQ(run_processes(many, n), 0) << read_text(many + "/stdout.txt") << read_text(many + "/stderr.txt");
    expect_same_files(one, many);
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

// More processes than FFTW's slabs can give two rows each: one "|" line naming the grid and the
// processes, status 1, and nothing but the parameter file in the directory.
TEST(ProcessesRefusal, TooFewRowsPerProcessTouchesNoFile) {
  values19 v = case_values(cases[0]);
  v[v_nx] = 5;
  const std::string dir = make_temp_dir();
  write_text(dir + "/tavo.inp", parameter_file(v));
  EXPECT_EQ(run_processes(dir, 3), 1);
  const std::string console = read_text(dir + "/stdout.txt");
  EXPECT_NE(console.find("| nx = 5, ny = 64 (values 10, 11) on 3 processes: FFTW's slabs give a process 1 rows"),
            std::string::npos)
      << console;
  EXPECT_EQ(console.find("| nx = 5"), console.rfind("| nx = 5")) << "one refusal line: " << console;
  const std::set<std::string> want = {"tavo.inp", "stdout.txt", "stderr.txt"};
  EXPECT_EQ(entries(dir), want);
  if (!HasFailure()) remove_test_dir(dir);
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
