// Shared set-up of the diagnostics tests: a small grid, a clean state and a temporary working
// directory (the diagnostics write into the working directory), plus file and number helpers.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "common/state.hpp"
#include "diagnostics/diagnostics.hpp"
#include "scheme/scheme.hpp"
#include "support/dirs.hpp"
#include "support/run_setup.hpp"

class DiagTest : public TempDirTest {
 protected:
  void SetUp() override {
    // the death tests re-run the test in a fresh process instead of forking a threaded one
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    TempDirTest::SetUp();
  }

  void TearDown() override {
    TempDirTest::TearDown();
    free_transforms();
  }

  // Set up the run of v with a zero state and the diagnostics' memory cleared.
  void start(const values19 &v) {
    setup_run(v);  // fresh zero fields, profiles and spectrum means; the tables built for v
    eno = enwo = vde_avg = 0.0;
    jnull_old = 0;
  }

  // A death test's child runs in this test's directory and shows its standard output on stderr.
  void share_directory_with_child() { setenv("TAVO_DIAG_TEST_DIR", dir.c_str(), 1); }
};

// First statement of a death test's body: enter the parent's directory (removing the child's own
// directory when the child is a re-run of the test) and route stdout to stderr.
inline void enter_parent_directory() {
  const char *parent = getenv("TAVO_DIAG_TEST_DIR");
  char here[4096];
  if (!parent || !getcwd(here, sizeof here)) exit(3);
  if (std::string(here) != parent) std::filesystem::remove_all(here);
  if (chdir(parent) != 0) exit(3);
  fflush(stdout);
  dup2(STDERR_FILENO, STDOUT_FILENO);
}

// The lines of a text (the line ends removed).
inline std::vector<std::string> lines_of(const std::string &text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) lines.push_back(line);
  return lines;
}

// The numbers of every non-empty line of a file.
inline std::vector<std::vector<double>> read_table(const std::string &name) {
  std::vector<std::vector<double>> table;
  for (const std::string &line : lines_of(read_text(name))) {
    std::istringstream in(line);
    std::vector<double> row;
    std::string token;
    while (in >> token) row.push_back(strtod(token.c_str(), nullptr));
    if (!row.empty()) table.push_back(row);
  }
  return table;
}

// Every regular file of the working directory with its content.
inline std::map<std::string, std::string> directory_content(const std::string &dir) {
  std::map<std::string, std::string> files;
  for (const auto &entry : std::filesystem::directory_iterator(dir))
    files[entry.path().filename().string()] = read_text(entry.path().string());
  return files;
}

// got within tolerance of want (relative to |want|, with an absolute floor); NaN fails.
inline testing::AssertionResult close_to(double got, double want, double relative, double floor = 0.0) {
  double difference = got - want;
  if (std::fabs(difference) <= relative * std::fabs(want) + floor) return testing::AssertionSuccess();
  return testing::AssertionFailure() << "measured " << got << ", expected " << want << ", difference "
                                     << difference;
}

// printf into a std::string.
template <typename... Args>
std::string format(const char *fmt, Args... args) {
  char buffer[512];
  int n = snprintf(buffer, sizeof buffer, fmt, args...);
  return std::string(buffer, size_t(n));
}
