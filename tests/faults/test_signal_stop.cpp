// A run stopped by a signal writes its checkpoint and exits with status 75; continued (incon 2)
// as often as it was stopped, it ends with the files of the run that never stopped, byte for byte,
// with fixed steps and with adaptive ones (whose stops fall between outputs and probe samples):
// every file the program writes, the time series, profiles, snapshots and spectra, the probe
// analysis, the field history "tavo.nc", "restart.dat" and "restart.nc" (two threads, estimated
// plans). A second signal during the checkpoint ends the run at once and leaves the previous
// checkpoint and no temporary file.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "faults/fault_support.hpp"
#include "support/dirs.hpp"

namespace {

// The console and lock files, which differ between runs by nature, and the parameter file (incon).
const std::set<std::string> own_to_each_run = {"stdout.txt", "stderr.txt", "tavo.inp", "tavo.lock"};

// Run tavo in dir and send it `sig` once its standard output holds `outputs` progress lines (it
// is held with SIGSTOP meanwhile, so the signal arrives during the run wherever it is); returns
// the exit status as finish_tavo. The console goes into <prefix>stdout.txt and <prefix>stderr.txt.
int stop_after(const std::string &dir, int outputs, int sig, const std::string &prefix) {
  const pid_t pid = start_tavo(dir, 0, prefix);
  const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(240);
  int status = 0;
  while (std::chrono::steady_clock::now() < give_up) {
    if (progress_lines(read_text(dir + "/" + prefix + "stdout.txt")) >= outputs) {
      kill(pid, SIGSTOP);
      kill(pid, sig);
      kill(pid, SIGCONT);
      return finish_tavo(pid);
    }
    if (waitpid(pid, &status, WNOHANG) == pid) return WIFEXITED(status) ? WEXITSTATUS(status) : -1000;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  kill(pid, SIGKILL);
  finish_tavo(pid);
  return -1000;
}

values19 stop_values() {
  values19 v = fault_values();
  v[v_itmax] = 60;  // twelve outputs
  v[v_npar] = 2;
  v[v_bplan] = 0;
  return v;
}

class SignalStopOfSteps : public testing::TestWithParam<double> {};

TEST_P(SignalStopOfSteps, RunStoppedTwiceEndsWithTheFilesOfTheRunThatDidNotStop) {
  const double cfl = GetParam();
  values19 v = stop_values();
  if (cfl > 0) v[v_dt] = 0.2;  // steps far shorter than dt, set by the drift and the start
  const std::string whole = make_temp_dir(), stopped = make_temp_dir();
  // a frame every 2 outputs, a checkpoint every 3
  const std::string parameters = cfl > 0 ? parameter_file(v, 2, 3, cfl) : parameter_file(v, 2, 3);
  write_text(whole + "/tavo.inp", parameters);
  ASSERT_EQ(finish_tavo(start_tavo(whole)), 0) << read_text(whole + "/stdout.txt");
  if (cfl > 0) {
    // More steps than itmax (steps of dt): the stops fall past the step itmax names too.
    const std::string errors = read_text(whole + "/stderr.txt");
    const size_t at = errors.find("| steps: ");
    ASSERT_NE(at, std::string::npos) << errors;
    EXPECT_GT(atol(errors.c_str() + at + 9), 2 * v[v_itmax]) << errors;
  }

  write_text(stopped + "/tavo.inp", parameters);
  ASSERT_EQ(stop_after(stopped, 4, SIGTERM, "first-"), 75) << read_text(stopped + "/first-stdout.txt");
  const std::string first_errors = read_text(stopped + "/first-stderr.txt");
  EXPECT_NE(first_errors.find("| stopped by SIGTERM at t = "), std::string::npos) << first_errors;
  EXPECT_EQ(names_ending(stopped, ".tmp"), std::vector<std::string>());

  values19 continued = v;
  continued[v_incon] = 2;
  write_text(stopped + "/tavo.inp", cfl > 0 ? parameter_file(continued, 2, 3, cfl) : parameter_file(continued, 2, 3));
  ASSERT_EQ(stop_after(stopped, 4, SIGUSR1, "second-"), 75) << read_text(stopped + "/second-stdout.txt");
  EXPECT_NE(read_text(stopped + "/second-stderr.txt").find("| stopped by SIGUSR1 at t = "), std::string::npos);
  ASSERT_EQ(finish_tavo(start_tavo(stopped)), 0) << read_text(stopped + "/stdout.txt");
  EXPECT_EQ(without_progress(read_text(stopped + "/stderr.txt")), "") << "no fallback note";

  std::set<std::string> expected, found;
  for (const std::string &name : entries(whole))
    if (!own_to_each_run.count(name)) expected.insert(name);
  for (const std::string &name : entries(stopped))
    if (!own_to_each_run.count(name) && name.find("first-") != 0 && name.find("second-") != 0) found.insert(name);
  EXPECT_EQ(found, expected);
  EXPECT_TRUE(expected.count("restart.nc") && expected.count("tavo.nc") && expected.count("ptt_n.dat"));
  for (const std::string &name : expected)
    EXPECT_TRUE(read_text(whole + "/" + name) == read_text(stopped + "/" + name)) << name << " differs";
  if (!testing::Test::HasFailure()) {
    remove_dir(whole);
    remove_dir(stopped);
  }
}

INSTANTIATE_TEST_SUITE_P(Steps, SignalStopOfSteps, testing::Values(0.0, 0.8),
                         [](const testing::TestParamInfo<double> &info) {
                           return std::string(info.param > 0 ? "Adaptive" : "Fixed");
                         });

// A second SIGTERM while the run is held inside the write of its checkpoint ("restart.dat.tmp" a
// pipe that nobody reads beyond its buffer): the run ends by the signal at once, the checkpoint of
// the run before stays, no temporary file is left, every file is whole, and the run continues.
TEST(SignalStop, SecondSignalDuringTheCheckpointLeavesWholeFiles) {
  values19 v = fault_values();
  const std::string dir = make_temp_dir();
  ASSERT_EQ(run_values(dir, v, nullptr), 0);
  const std::string restart = read_text(dir + "/restart.dat"), checkpoint = read_text(dir + "/restart.nc");
  ASSERT_FALSE(checkpoint.empty());
  v[v_incon] = 2;
  write_text(dir + "/tavo.inp", parameter_file(v, 1, 1));  // a checkpoint after every output

  const std::string pipe = dir + "/restart.dat.tmp";
  ASSERT_EQ(mkfifo(pipe.c_str(), 0644), 0);
  const int reader = open(pipe.c_str(), O_RDONLY | O_NONBLOCK);
  ASSERT_GE(reader, 0);
  const int capacity = fcntl(reader, F_SETPIPE_SZ, 4096);
  const pid_t pid = start_tavo(dir);
  bool blocked = false;
  const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(240);
  while (!blocked && std::chrono::steady_clock::now() < give_up) {
    int queued = 0;
    ioctl(reader, FIONREAD, &queued);
    blocked = capacity > 0 && queued >= capacity;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  ASSERT_TRUE(blocked) << "the run did not block in restart.dat.tmp";
  kill(pid, SIGTERM);
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  int status = 0;
  EXPECT_EQ(waitpid(pid, &status, WNOHANG), 0) << "the first signal waits for the checkpoint";
  kill(pid, SIGTERM);
  EXPECT_EQ(finish_tavo(pid), -SIGTERM);
  close(reader);

  EXPECT_TRUE(read_text(dir + "/restart.dat") == restart);
  EXPECT_TRUE(read_text(dir + "/restart.nc") == checkpoint);
  EXPECT_EQ(names_ending(dir, ".tmp"), std::vector<std::string>());
  EXPECT_EQ(whole_files_faults(dir, v), std::vector<std::string>());

  // A checkpoint that cannot be read: the continuation takes "restart.dat", with a note.
  write_text(dir + "/restart.nc", "not a checkpoint\n");
  ASSERT_EQ(finish_tavo(start_tavo(dir)), 0) << read_text(dir + "/stdout.txt");
  EXPECT_NE(read_text(dir + "/stderr.txt").find("| \"restart.nc\" cannot be read: continuing from \"restart.dat\""),
            std::string::npos)
      << read_text(dir + "/stderr.txt");
  EXPECT_EQ(whole_files_faults(dir, v), std::vector<std::string>());
  if (!testing::Test::HasFailure()) remove_dir(dir);
}

}  // namespace
