// The field history "tavo.nc" against the text files of the same run: its last frame equals the
// snapshots (and ni the restart file) written at that output, its series equal the columns of
// "eng.dat", "eng-transfer.dat" and "fne.dat"; a continued run keeps what lies before its restart
// time and appends after it; a run killed at any moment leaves a history that opens and holds
// every frame up to its last checkpoint, and a restart file that a continued run starts from.
//
// Tolerances: the text files keep seven significant digits (%.6e, a relative rounding of at most
// 5e-7) and the frames single precision (6e-8), so a frame value and its text differ by at most
// 6e-7 of the value; 1e-6 leaves room. Times are printed with eight decimals.
#include <gtest/gtest.h>
#include <netcdf.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "faults/fault_support.hpp"
#include "support/dirs.hpp"

namespace {

const auto variable = netcdf_variable;

// The values of column `column` of the lines of a text file that have at least that many.
std::vector<double> column(const std::string &path, size_t column) {
  std::vector<double> values;
  for (const auto &row : rows_of(read_text(path)))
    if (row.size() > column) values.push_back(row[column]);
  return values;
}

// Expect got to equal want entry by entry within rel * |want| (+ abs).
void expect_close(const std::string &what, const std::vector<double> &got, const std::vector<double> &want,
                  double rel, double abs = 1e-30) {
  ASSERT_EQ(got.size(), want.size()) << what;
  for (size_t i = 0; i < want.size(); i++)
    if (!(std::fabs(got[i] - want[i]) <= rel * std::fabs(want[i]) + abs)) {
      ADD_FAILURE() << what << " [" << i << "]: " << got[i] << ", expected " << want[i] << ", difference "
                    << got[i] - want[i];
      return;
    }
}

// The last nx*ny values of a (time, x, y) variable: its last frame.
std::vector<double> last_frame(const std::vector<double> &all, size_t points) {
  if (all.size() < points) return {};
  return std::vector<double>(all.end() - long(points), all.end());
}

// Frame times strictly increasing.
bool increasing(const std::vector<double> &times) {
  for (size_t i = 1; i < times.size(); i++)
    if (!(times[i] > times[i - 1])) return false;
  return true;
}

class History : public testing::Test {
 protected:
  void SetUp() override {
    dir_ = make_temp_dir();
    values_ = fault_values();  // 64 x 64, four outputs of five steps, dt 0.02
  }
  void TearDown() override { remove_dir(dir_); }

  // Run the values v with the optional nframe and nckpt; the exit status.
  int run(const values19 &v, int nframe, int nckpt, std::string *console) {
    write_text(dir_ + "/tavo.inp", parameter_file(v, nframe, nckpt));
    const int status = finish_tavo(start_tavo(dir_));
    *console = read_text(dir_ + "/stdout.txt") + read_text(dir_ + "/stderr.txt");
    return status;
  }
  std::string path(const char *name) const { return dir_ + "/" + name; }

  std::string dir_;
  values19 values_;
};

TEST_F(History, FramesAndSeriesEqualTheTextFilesOfTheSameOutputs) {
  std::string console;
  ASSERT_EQ(run(values_, 2, 0, &console), 0) << console;
  const std::string nc = path("tavo.nc");
  // frames at the output at t0 = 0 and at every second output after it
  expect_close("time", variable(nc, "time"), {0.0, 0.2, 0.4}, 1e-12, 1e-12);
  const size_t points = 64 * 64;
  expect_close("x", variable(nc, "x"), column(path("cutx.dat"), 0), 1e-6);

  // the last frame is the output that wrote the snapshots and, at the end, the restart file
  const char *field[] = {"ne", "phi", "vorticity"};
  const char *snapshot[] = {"n2d.dat", "p2d.dat", "w2d.dat"};
  for (int f = 0; f < 3; f++)
    expect_close(field[f], last_frame(variable(nc, field[f]), points), column(path(snapshot[f]), 2), 1e-6);
  std::vector<double> ni_text = column(path("restart.dat"), 7);  // x y eno pe ne ne1 ne2 ni ...
  expect_close("ni", last_frame(variable(nc, "ni"), points), ni_text, 1e-6);

  // the series: every column of the three text files
  struct source {
    const char *file;
    std::vector<const char *> names;
  };
  const source sources[] = {{"eng.dat", {"series_time", "enn", "E_K", "E_Z", "E", "EZ_over_EK"}},
                            {"eng-transfer.dat", {"series_time", "drive", "coupling", "dissipation", "rate_sum"}},
                            {"fne.dat", {"series_time", "flux"}}};
  for (const source &s : sources)
    for (size_t c = 0; c < s.names.size(); c++)
      expect_close(std::string(s.file) + " column " + std::to_string(c + 1), variable(nc, s.names[c]),
                   column(path(s.file), c), c == 0 ? 0.0 : 1e-6, c == 0 ? 1e-8 : 1e-30);
  EXPECT_EQ(without_progress(read_text(path("stderr.txt"))), "");
}

// A continued run in a directory where the run before went on past its restart file (as a killed
// run does): the frames and series entries after the restart time are dropped and written anew,
// so each time appears once and the times increase.
TEST_F(History, ContinuedRunDropsWhatFollowsItsRestartAndAppends) {
  std::string console;
  ASSERT_EQ(run(values_, 1, 0, &console), 0) << console;  // ends at t = 0.4
  const std::string restart_at_04 = read_text(path("restart.dat"));
  values19 longer = values_;
  longer[v_itmax] = 30;  // on to t = 0.6
  ASSERT_EQ(run(longer, 1, 0, &console), 0) << console;
  write_text(path("restart.dat"), restart_at_04);

  values19 continued = values_;
  continued[v_incon] = 2;
  continued[v_itmax] = 10;  // t = 0.4 .. 0.6 once more
  ASSERT_EQ(run(continued, 1, 0, &console), 0) << console;
  const std::string nc = path("tavo.nc");
  expect_close("time", variable(nc, "time"), {0.0, 0.1, 0.2, 0.3, 0.4, 0.5, 0.6}, 1e-9, 1e-9);
  expect_close("series_time", variable(nc, "series_time"), {0.1, 0.2, 0.3, 0.4, 0.5, 0.6}, 1e-9, 1e-9);
  // the appended entries are those of the continued run's text lines
  std::vector<double> flux = column(path("fne.dat"), 1);
  // the text series dropped the longer run's lines after t0 too: four lines, then two more
  ASSERT_EQ(flux.size(), 6u) << "four lines up to t0, then two more";
  expect_close("flux", last_frame(variable(nc, "flux"), 2), {flux[4], flux[5]}, 1e-6);
  // the continued frame at t0 is the state of the restart file it started from
  std::vector<double> ne_restart;
  for (const auto &row : rows_of(restart_at_04))
    if (row.size() > 4) ne_restart.push_back(row[4]);  // x y eno pe ne ...
  const std::vector<double> ne = variable(nc, "ne");
  ASSERT_EQ(ne.size(), 7u * 4096);
  expect_close("ne at t0", std::vector<double>(ne.begin() + 4 * 4096, ne.begin() + 5 * 4096), ne_restart, 1e-6);
}

// A continued run whose directory holds the history of another grid keeps that file under
// another name, says so on standard error, and starts a new history at t0.
TEST_F(History, ContinuedRunOnAnotherGridStartsANewFile) {
  std::string console;
  values19 coarse = values_;
  coarse[v_nx] = coarse[v_ny] = 32;
  ASSERT_EQ(run(coarse, 1, 0, &console), 0) << console;
  const std::string coarse_history = read_text(path("tavo.nc"));
  const std::string kept = path("tavo.nc") + ".keep";
  std::filesystem::rename(path("tavo.nc"), kept);
  ASSERT_EQ(run(values_, 1, 0, &console), 0) << console;
  std::filesystem::rename(kept, path("tavo.nc"));

  values19 continued = values_;
  continued[v_incon] = 2;
  continued[v_itmax] = 10;
  ASSERT_EQ(run(continued, 1, 0, &console), 0) << console;
  const std::string warning = read_text(path("stderr.txt"));
  EXPECT_EQ(warning.rfind("| \"tavo.nc\" holds a 32 x 32 grid", 0), 0u) << warning;
  EXPECT_NE(warning.find("kept as \"tavo.nc.old\""), std::string::npos) << warning;
  EXPECT_TRUE(read_text(path("tavo.nc.old")) == coarse_history);
  expect_close("time", variable(path("tavo.nc"), "time"), {0.4, 0.5, 0.6}, 1e-9, 1e-9);
}

// With adaptive steps the history adds the steps of every output interval (dt, dt_min, dt_max,
// steps) and cfl among the parameters; with fixed steps it holds neither, the file of earlier
// versions. A fixed-step continuation of an adaptive run keeps the series both hold, with a note
// that the scheme starts afresh.
TEST_F(History, AdaptiveStepsAddTheStepsOfEveryOutput) {
  values19 v = values_;
  v[v_dt] = 0.2;  // the steps are shorter: the drift and the start set them
  write_text(path("tavo.inp"), parameter_file(v, 1, 0, 0.8));
  ASSERT_EQ(finish_tavo(start_tavo(dir_)), 0) << read_text(path("stdout.txt"));
  const std::string nc = path("tavo.nc"), errors = read_text(path("stderr.txt"));
  const std::vector<double> step = variable(nc, "dt"), shortest = variable(nc, "dt_min"),
                            longest = variable(nc, "dt_max"), steps = variable(nc, "steps");
  ASSERT_EQ(steps.size(), 4u) << "one entry per output after the start";
  double total = 0;
  for (size_t k = 0; k < steps.size(); k++) {
    SCOPED_TRACE("output " + std::to_string(k + 1));
    total += steps[k];
    EXPECT_LE(shortest[k], longest[k]);
    EXPECT_LE(longest[k], 0.2 * (1 + 1e-9));
    EXPECT_LE(step[k], 0.2);
    // The interval, itstp dt = 1, in steps between its shortest and its longest.
    EXPECT_LE(shortest[k] * steps[k], 1.0 + 1e-9);
    EXPECT_GE(longest[k] * steps[k], 1.0 - 1e-9);
  }
  const size_t at = errors.find("| steps: ");
  ASSERT_NE(at, std::string::npos) << errors;
  EXPECT_EQ(total, std::atof(errors.c_str() + at + 9)) << errors;
  int file = -1;
  double stored = 0;
  ASSERT_EQ(nc_open(nc.c_str(), NC_NOWRITE, &file), NC_NOERR);
  EXPECT_EQ(nc_get_att_double(file, NC_GLOBAL, "cfl", &stored), NC_NOERR);
  EXPECT_EQ(stored, 0.8);
  nc_close(file);

  // Continued with fixed steps: the series before the continuation stay, the step series go.
  values19 continued = v;
  continued[v_incon] = 2;
  continued[v_dt] = 0.02;
  continued[v_itmax] = 10;
  write_text(path("tavo.inp"), parameter_file(continued, 1, 0));
  ASSERT_EQ(finish_tavo(start_tavo(dir_)), 0) << read_text(path("stdout.txt"));
  EXPECT_EQ(without_progress(read_text(path("stderr.txt"))),
            "| \"restart.nc\" holds the history of adaptive steps, this run makes fixed ones: the scheme starts "
            "afresh from the state (with equal levels, as a fresh run does)\n");
  EXPECT_EQ(variable(nc, "series_time").size(), 6u);
  EXPECT_TRUE(variable(nc, "dt").empty() && variable(nc, "steps").empty());
  ASSERT_EQ(nc_open(nc.c_str(), NC_NOWRITE, &file), NC_NOERR);
  EXPECT_NE(nc_get_att_double(file, NC_GLOBAL, "cfl", &stored), NC_NOERR) << "cfl 0 is left out";
  nc_close(file);
}

// Killed with SIGKILL at several moments of a long run (in the time step, in the text output, in
// a frame write, in a checkpoint): the history opens and holds every frame up to the time of the
// restart file, which a continued run starts from; after it the frame times increase, each once.
TEST_F(History, KilledAtAnyMomentKeepsEveryFrameUpToTheLastCheckpoint) {
  values19 long_run = values_;
  long_run[v_itmax] = 1000000;
  values19 continued = values_;
  continued[v_incon] = 2;
  continued[v_itmax] = 10;
  for (int moment = 0; moment < 6; moment++) {
    const int lines = 5 + moment;  // progress lines before the kill (the first is the output at t0)
    const int delay_us = 350 * moment;  // and the delay after the last of them
    SCOPED_TRACE("killed " + std::to_string(delay_us) + " us after progress line " + std::to_string(lines));
    std::filesystem::remove(path("restart.dat"));
    std::filesystem::remove(path("tavo.nc"));
    write_text(path("tavo.inp"), parameter_file(long_run, 1, 3));
    const pid_t pid = start_tavo(dir_);
    const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(120);
    size_t progress = 0;
    while (progress < size_t(lines) && std::chrono::steady_clock::now() < give_up) {
      std::this_thread::sleep_for(std::chrono::microseconds(200));
      const std::string console = read_text(path("stdout.txt"));
      progress = 0;
      for (size_t at = console.find("|t="); at != std::string::npos; at = console.find("|t=", at + 1)) progress++;
    }
    std::this_thread::sleep_for(std::chrono::microseconds(delay_us));
    kill(pid, SIGKILL);
    ASSERT_EQ(finish_tavo(pid), -SIGKILL);
    ASSERT_GE(progress, size_t(lines)) << "the run was too slow to reach the kill";

    // the checkpoint after output 3 (or a later one) is there, and every frame up to its time
    double restart_time = -1;
    ASSERT_EQ(sscanf(read_text(path("restart.dat")).c_str(), "%lf", &restart_time), 1);
    EXPECT_GE(restart_time, 0.3 - 1e-9);
    const std::vector<double> times = variable(path("tavo.nc"), "time");
    ASSERT_FALSE(times.empty()) << "the history does not open";
    const size_t wanted = size_t(std::lround(restart_time / 0.1)) + 1;
    ASSERT_GE(times.size(), wanted) << "frames up to t = " << restart_time;
    for (size_t i = 0; i < times.size(); i++) EXPECT_NEAR(times[i], 0.1 * double(i), 1e-9) << "frame " << i;

    std::string console;
    ASSERT_EQ(run(continued, 1, 3, &console), 0) << console;
    const std::vector<double> after = variable(path("tavo.nc"), "time");
    EXPECT_TRUE(increasing(after));
    ASSERT_EQ(after.size(), wanted + 2);
    EXPECT_NEAR(after.back(), restart_time + 0.2, 1e-6);
    const std::vector<double> series = variable(path("tavo.nc"), "series_time");
    EXPECT_TRUE(increasing(series));
    EXPECT_NEAR(series.back(), restart_time + 0.2, 1e-6);
  }
}

}  // namespace
