// Runs that cannot spoil their directory or misreport: a fresh run sets an earlier checkpoint
// aside (so no continuation splices it onto the new series); refusals that used to come after the
// series were emptied now come before the first file; the memory check under a limit on the
// address space (ulimit -v) refuses or runs, never crashes; a history cut short is kept aside; the
// trimming of a continuation at t = 1e5, where the restart header's seven digits are coarser than
// the output spacing; and the bath start's check of its E x B drift.
#include <gtest/gtest.h>
#include <netcdf.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "faults/fault_support.hpp"
#include "setup/setup.hpp"
#include "support/dirs.hpp"
#include "support/run_setup.hpp"

namespace fs = std::filesystem;

namespace {

// Run a shell command in dir; its exit status, standard output and error into output.
int shell_in(const std::string &dir, const std::string &command, std::string *output) {
  const std::string line = "cd '" + dir + "' && (" + command + ") 2>&1";
  FILE *pipe = popen(line.c_str(), "r");
  output->clear();
  char block[4096];
  size_t n;
  while ((n = fread(block, 1, sizeof block, pipe)) > 0) output->append(block, n);
  const int status = pclose(pipe);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// The last line of text that begins with "|".
std::string last_bar_line(const std::string &text) {
  std::string last;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    if (text.compare(start, 1, "|") == 0) last = text.substr(start, end - start);
    start = end + 1;
  }
  return last;
}

// The values of a netCDF variable of the history in dir.
std::vector<double> history_values(const std::string &dir, const char *name) {
  int file, var, dim;
  size_t length = 0;
  std::vector<double> values;
  if (nc_open((dir + "/tavo.nc").c_str(), NC_NOWRITE, &file) != NC_NOERR) return values;
  if (nc_inq_varid(file, name, &var) == NC_NOERR && nc_inq_vardimid(file, var, &dim) == NC_NOERR &&
      nc_inq_dimlen(file, dim, &length) == NC_NOERR) {
    values.resize(length);
    if (length > 0) nc_get_var_double(file, var, values.data());
  }
  nc_close(file);
  return values;
}

TEST(RunSafety, AFreshRunSetsTheEarlierCheckpointAsideSoNoContinuationSplicesIt) {
  const std::string dir = make_temp_dir();
  std::string output;
  values19 a = fault_values();
  write_text(dir + "/tavo.inp", parameter_file(a, 1, 10));
  ASSERT_EQ(run_tavo(dir, &output), 0) << output;
  const std::string checkpoint_a = read_text(dir + "/restart.dat");
  ASSERT_FALSE(checkpoint_a.empty());

  // Run B, fresh, another amplitude, ends before any checkpoint (no step at all).
  values19 b = a;
  b[v_amp] = 0.3;
  b[v_itmax] = 0;
  write_text(dir + "/tavo.inp", parameter_file(b, 1, 10));
  ASSERT_EQ(run_tavo(dir, &output), 0) << output;
  EXPECT_FALSE(fs::exists(dir + "/restart.dat")) << "B wrote no checkpoint, and A's is not B's";
  EXPECT_EQ(read_text(dir + "/restart.dat.old"), checkpoint_a) << "A's checkpoint is kept whole";

  // Continuing B finds no checkpoint of its own: refused, A's state is not appended to B's series.
  const std::string series_b = read_text(dir + "/eng.dat");
  values19 c = a;
  c[v_incon] = 2;
  write_text(dir + "/tavo.inp", parameter_file(c, 1, 10));
  EXPECT_EQ(run_tavo(dir, &output), 1) << output;
  EXPECT_EQ(last_bar_line(output).rfind("| cannot open \"restart.dat\"", 0), 0u) << output;
  EXPECT_EQ(read_text(dir + "/eng.dat"), series_b);

  // A third fresh run keeps both earlier checkpoints under free names.
  write_text(dir + "/tavo.inp", parameter_file(a, 1, 10));
  ASSERT_EQ(run_tavo(dir, &output), 0) << output;
  write_text(dir + "/tavo.inp", parameter_file(a, 1, 10));
  ASSERT_EQ(run_tavo(dir, &output), 0) << output;
  EXPECT_EQ(read_text(dir + "/restart.dat.old"), checkpoint_a);
  EXPECT_EQ(read_text(dir + "/restart.dat.old2"), checkpoint_a) << "the third run's, equal to A's";
  if (!testing::Test::HasFailure()) fs::remove_all(dir);
}

// Refusals before the first file: each case prepares the directory, and the run must stop with a
// "|" line and exit status 1 while the series of the earlier run stay as they were.
TEST(RunSafety, LateRefusalsComeBeforeTheFirstFile) {
  struct refusal {
    const char *what;
    int itstp, itmax;
    bool history_directory;
    const char *message;
  };
  const refusal cases[] = {
      {"more outputs than the history's series hold", 1, 2147483647, false, "| itmax/itstp = 2147483647 outputs"},
      {"tavo.nc is a directory", 5, 20, true, "| \"tavo.nc\" is there but is not a file"},
  };
  for (const refusal &r : cases) {
    const std::string dir = make_temp_dir();
    std::string output;
    values19 v = fault_values();
    write_text(dir + "/tavo.inp", parameter_file(v, 1, 10));
    ASSERT_EQ(run_tavo(dir, &output), 0) << output;
    const std::string series = read_text(dir + "/eng.dat"), checkpoint = read_text(dir + "/restart.dat");
    if (r.history_directory) {
      fs::remove(dir + "/tavo.nc");
      fs::create_directory(dir + "/tavo.nc");
    }
    v[v_itstp] = r.itstp, v[v_itmax] = r.itmax, v[v_ntrace] = 0;  // no probe stores of itmax samples
    write_text(dir + "/tavo.inp", parameter_file(v, 1, 10));
    EXPECT_EQ(run_tavo(dir, &output), 1) << r.what << "\n" << output;
    EXPECT_EQ(last_bar_line(output).rfind(r.message, 0), 0u) << r.what << "\n" << output;
    EXPECT_EQ(read_text(dir + "/eng.dat"), series) << r.what << ": the series are untouched";
    EXPECT_EQ(read_text(dir + "/restart.dat"), checkpoint) << r.what;
    EXPECT_FALSE(fs::exists(dir + "/tavo.nc.tmp")) << r.what;
    if (!testing::Test::HasFailure()) fs::remove_all(dir);
  }
}

// A 512 x 512 grid under limits of the address space from too small for the fields to enough:
// every run either ends well or stops with a "|" line before it empties the series. (The program's
// libraries, MPI among them through netCDF's PnetCDF build, take some 130 MB before the run reserves
// anything; the 512 x 512 run needs about 190 MB more. Below about 150 MB the OpenMP runtime cannot
// start its second thread and ends the program with its own message, before any file is touched.) AddressSanitizer reserves terabytes of
// address space for its shadow memory, so the sanitizer build cannot run under such limits.
TEST(RunSafety, MemoryLimitsRefuseOrRunNeverCrash) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "AddressSanitizer cannot run under ulimit -v";
#endif
  const std::string dir = make_temp_dir();
  values19 v = fault_values();
  v[v_nx] = 512, v[v_ny] = 512, v[v_itstp] = 1, v[v_itmax] = 1, v[v_ntrace] = 1, v[v_npar] = 2, v[v_bplan] = 0;
  v[v_diff] = 0;
  write_text(dir + "/tavo.inp", parameter_file(v, 1, 10));
  bool ran = false, refused = false;
  for (int megabytes = 160; megabytes <= 400; megabytes += 30) {
    write_text(dir + "/eng.dat", "kept\n");
    std::string output;
    const int status = shell_in(dir, "ulimit -v " + std::to_string(megabytes * 1024) + "; exec '" +
                                         tavo_program() + "' 2>/dev/null", &output);
    if (status == 0) {
      ran = true;
      EXPECT_NE(output.find("| TAVO end."), std::string::npos) << megabytes << " MB\n" << output;
      continue;
    }
    refused = true;
    EXPECT_EQ(status, 1) << megabytes << " MB\n" << output;
    const std::string message = last_bar_line(output);
    EXPECT_TRUE(message.find("ulimit -v") != std::string::npos || message.find("cannot allocate") != std::string::npos)
        << megabytes << " MB\n" << output;
    EXPECT_EQ(read_text(dir + "/eng.dat"), "kept\n") << megabytes << " MB: refused before the series are emptied";
  }
  EXPECT_TRUE(ran && refused) << "the limits span both outcomes";
  if (!testing::Test::HasFailure()) fs::remove_all(dir);
}

TEST(RunSafety, AHistoryCutShortIsKeptAsideNotCopiedOn) {
  const std::string dir = make_temp_dir();
  std::string output;
  values19 v = fault_values();
  v[v_itmax] = 40;
  write_text(dir + "/tavo.inp", parameter_file(v, 1, 10));
  ASSERT_EQ(run_tavo(dir, &output), 0) << output;
  const auto size = fs::file_size(dir + "/tavo.nc");
  fs::resize_file(dir + "/tavo.nc", size / 2);
  v[v_incon] = 2, v[v_itmax] = 10;
  write_text(dir + "/tavo.inp", parameter_file(v, 1, 10));
  ASSERT_EQ(run_tavo(dir, &output), 0) << output;
  const std::string errors = read_text(dir + "/stderr.txt");
  EXPECT_NE(errors.find("| \"tavo.nc\" is cut short"), std::string::npos) << errors;
  EXPECT_NE(errors.find("kept as \"tavo.nc.old\""), std::string::npos) << errors;
  EXPECT_EQ(fs::file_size(dir + "/tavo.nc.old"), size / 2);
  const std::vector<double> times = history_values(dir, "time");
  ASSERT_EQ(times.size(), 3u) << "the new history: the frame at t0 and two more";
  EXPECT_NEAR(times[0], 0.8, 1e-9);
  EXPECT_LT(times[1], times[2]);
  if (!testing::Test::HasFailure()) fs::remove_all(dir);
}

// Continuations at t0 = 1e5 with dt 0.02 and one step per output: the header's seven digits
// (1.000000e+05) cannot tell the outputs apart. A continuation killed before its first checkpoint
// (its restart file is the one it started from) and continued again must leave every series with
// increasing times, each once.
TEST(RunSafety, TrimmingAtLargeTimesKeepsEachOutputOnce) {
  const std::string dir = make_temp_dir();
  std::string output;
  values19 v = fault_values();
  v[v_itmax] = 10;
  write_text(dir + "/tavo.inp", parameter_file(v, 1, 100));
  ASSERT_EQ(run_tavo(dir, &output), 0) << output;
  std::string checkpoint = read_text(dir + "/restart.dat");
  checkpoint.replace(0, checkpoint.find(' '), "1.000000e+05");
  write_text(dir + "/restart.dat", checkpoint);
  const std::string full = read_text(dir + "/restart.nc");  // of t = 0.2: the continuation reads restart.dat
  v[v_incon] = 2, v[v_itstp] = 1, v[v_itmax] = 6;
  write_text(dir + "/tavo.inp", parameter_file(v, 1, 100));
  ASSERT_EQ(run_tavo(dir, &output), 0) << output;
  // As if killed before it replaced the checkpoint: both files as they were.
  write_text(dir + "/restart.dat", checkpoint);
  write_text(dir + "/restart.nc", full);
  ASSERT_EQ(run_tavo(dir, &output), 0) << output;

  for (const char *name : {"eng.dat", "eng-transfer.dat", "fne.dat"}) {
    const auto rows = rows_of(read_text(dir + "/" + name));
    ASSERT_EQ(rows.size(), 2u + 6u) << name << ": the first run's two outputs, then the last continuation's six";
    for (size_t k = 1; k < rows.size(); k++) EXPECT_GT(rows[k][0], rows[k - 1][0]) << name << " line " << k + 1;
    EXPECT_NEAR(rows.back()[0], 100000.12, 1e-6) << name;
  }
  const std::vector<double> series = history_values(dir, "series_time");
  size_t written = 0;
  for (size_t k = 0; k < series.size() && !std::isnan(series[k]); k++, written++)
    if (k > 0) {
      EXPECT_GT(series[k], series[k - 1]) << "series entry " << k + 1;
    }
  EXPECT_EQ(written, 8u);
  const std::vector<double> frames = history_values(dir, "time");
  for (size_t k = 1; k < frames.size(); k++) EXPECT_GT(frames[k], frames[k - 1]) << "frame " << k + 1;
  if (!testing::Test::HasFailure()) fs::remove_all(dir);
}

// The bath leaves the potential zero until the first step; the start-up check takes the potential
// its densities imply, so a bath too strong for dt is warned of.
TEST(RunSafety, TheBathStartIsCheckedForItsExBDrift) {
  const std::string dir = make_temp_dir();
  std::string output;
  values19 v = fault_values();
  v[v_incon] = 1, v[v_amp] = 10, v[v_dt] = 0.05, v[v_itmax] = 0, v[v_chat] = 0.05, v[v_diff] = 0;
  write_text(dir + "/tavo.inp", parameter_file(v, 1, 10));
  ASSERT_EQ(run_tavo(dir, &output), 0) << output;
  const std::string errors = read_text(dir + "/stderr.txt");
  EXPECT_NE(errors.find("| warning: dt = 0.05 is too large for the ExB drift of the initial state"), std::string::npos)
      << errors;
  if (!testing::Test::HasFailure()) fs::remove_all(dir);
}

}  // namespace
