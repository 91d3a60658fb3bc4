// Test support: small grids without a parameter file, and end-to-end runs of the program.
#include "support/run_setup.hpp"

#include <gtest/gtest.h>

#include <omp.h>
#include <sys/wait.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

#include "driver/driver.hpp"
#include "scheme/scheme.hpp"
#include "setup/setup.hpp"
#include "support/fields.hpp"

// Every run of the program that a test starts (directly or through a script) stores its FFTW
// wisdom in the build tree, never in the user's cache directory.
[[maybe_unused]] static const bool test_cache = setenv("XDG_CACHE_HOME", TAVO_TEST_CACHE, 1) == 0;

values19 test_values() {
  values19 v{};
  v[v_chat] = 1.0;
  v[v_taui] = 1.0;
  v[v_delta] = 1.0;
  v[v_diff] = 0.0;
  v[v_incon] = 0;
  v[v_sigma] = 1.0;
  v[v_amp] = 0.1;
  v[v_vorfree] = 0;
  v[v_ly] = 2 * M_PI;
  v[v_nx] = 16;
  v[v_ny] = 16;
  v[v_dt] = 0.01;
  v[v_itstp] = 1;
  v[v_itmax] = 1;
  v[v_ntrace] = 0;
  v[v_ipade] = 0;
  v[v_ihype] = -5;
  v[v_bplan] = 0;
  v[v_npar] = 1;
  return v;
}

void setup_run(const values19 &v, double cfl_value) {
  // FFTW's thread support must be up before any planner thread count is set (initpar does this).
  static bool fftw_threads = fftw_init_threads() != 0;
  (void)fftw_threads;
  set_run_constants(v.data());
  cfl = cfl_value;
  // Fresh zero fields, so tables start from zero as in a fresh process (chyv is not written for
  // every ihype).
  omp_set_num_threads(npar);
  allocate_grid();
  allocate_test_fields();
  build_tables();
  // The planning inside a test process stays out of the stored wisdom: this process may have set
  // up FFTW in another order than the program, and its wisdom would then not be the program's.
  setenv("TAVO_WISDOM", "0", 1);
  make_transforms();
  unsetenv("TAVO_WISDOM");
  fresh_history_steps();
  start_controller(0.0);
}

void clear_state() {
  for (int k = 0; k < nfield_records; k++) zero_field(*field_table[k].field);
}

void write_text(const std::string &path, const std::string &text) {
  std::ofstream out(path, std::ios::binary);
  out << text;
}

std::string read_text(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream buffer;
  buffer << in.rdbuf();
  return buffer.str();
}

std::string parameter_file(const values19 &v) {
  std::string text;
  char line[128];
  for (int i = 0; i < nvalues; i++) {
    snprintf(line, sizeof line, "%s = %.17g\n", parameter_table[i].name, v[i]);
    text += line;
  }
  return text;
}

std::string parameter_file(const values19 &v, int nframe, int nckpt) {
  return parameter_file(v) + "nframe = " + std::to_string(nframe) + "\nnckpt = " + std::to_string(nckpt) + "\n";
}

std::string parameter_file(const values19 &v, int nframe, int nckpt, double cfl) {
  char line[64];
  snprintf(line, sizeof line, "iseed = 0\ncfl = %.17g\n", cfl);
  return parameter_file(v, nframe, nckpt) + line;
}

std::string make_temp_dir() {
  const char *base = getenv("TMPDIR");
  std::string pattern = std::string(base && *base ? base : "/tmp") + "/tavo-test-XXXXXX";
  std::string path = pattern;
  if (!mkdtemp(&path[0])) {
    perror("mkdtemp");
    abort();
  }
  return path;
}

std::string tavo_program() {
  const char *tier = getenv("TAVO_TEST_TIER");
  if (!tier || strcmp(tier, "unit") != 0) return TAVO_EXE;
  ADD_FAILURE() << "a unit test runs without the program: name its suite in a tier of CMakeLists.txt";
  return "/nonexistent/tavo";
}

int run_tavo(const std::string &dir, std::string *output) {
  std::string command = "cd '" + dir + "' && '" + tavo_program() + "' > stdout.txt 2> stderr.txt";
  int status = system(command.c_str());
  if (output) *output = read_text(dir + "/stdout.txt");
  if (status == -1 || !WIFEXITED(status)) return -1;
  return WEXITSTATUS(status);
}

std::string without_progress(const std::string &errors) {
  std::string kept;
  size_t at = 0;
  while (at < errors.size()) {
    size_t end = errors.find('\n', at);
    end = end == std::string::npos ? errors.size() : end + 1;
    if (errors.compare(at, 12, "| progress: ") != 0 && errors.compare(at, 9, "| steps: ") != 0)
      kept += errors.substr(at, end - at);
    at = end;
  }
  return kept;
}
