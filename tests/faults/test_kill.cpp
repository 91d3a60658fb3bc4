// A run killed with SIGKILL loses nothing that was complete: the restart file and the snapshots
// of the run before stay whole and readable, no result file is left cut short under its final
// name, and a run continued from what the kill left starts and ends normally, with every time of
// its time series once (the kill leaves no lock and no records beyond the restart time behind).
//
// The kill is placed three ways. A pipe (FIFO) put where the program writes a file holds it inside
// that write once the pipe's 4096-byte buffer is full, so the kill lands in the middle of a
// snapshot, of the restart file or of a profile, every time. A rename() loaded before the C
// library's (tests/faults/preload/rename_hook.cpp) kills the run right after a given rename of a
// checkpoint file, between the two files of a checkpoint. A kill after some progress lines of a
// long run lands wherever the run happens to be.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <random>
#include <filesystem>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "faults/fault_support.hpp"
#include "support/dirs.hpp"

namespace {

const char *const snapshot_names[] = {"n2d.dat", "w2d.dat", "p2d.dat", "i2d.dat"};

// A finished run of the fault values in a fresh directory: what the killed runs continue from.
class KilledRun : public testing::Test {
 protected:
  void SetUp() override {
    dir_ = make_temp_dir();
    values_ = fault_values();
    std::string console;
    ASSERT_EQ(run_values(dir_, values_, &console), 0) << console;
    first_restart_ = read_text(dir_ + "/restart.dat");
    ASSERT_EQ(first_restart_.substr(0, 16), "4.000000e-01  \n0") << "the run ends at t = 20 dt";
    for (const char *name : snapshot_names) first_snapshots_.push_back(read_text(dir_ + "/" + name));
    // The continued runs read "restart.dat".
    values_[v_incon] = 2;
    write_text(dir_ + "/tavo.inp", parameter_file(values_));
  }
  void TearDown() override { remove_dir(dir_); }

  // A continued run started on what the kill left ends normally, from the first run's end time.
  void expect_continued_run_from_first_restart() {
    std::string console;
    ASSERT_EQ(run_values(dir_, values_, &console), 0) << console;
    EXPECT_NE(console.find("| continued data set... \n"), std::string::npos) << console;
    EXPECT_NE(console.find("|t=0.500 (0.800)"), std::string::npos) << "first interval after t = 0.4:\n" << console;
    EXPECT_EQ(read_text(dir_ + "/restart.dat").substr(0, 15), "8.000000e-01  \n");
    EXPECT_EQ(whole_files_faults(dir_, values_), std::vector<std::string>());
  }

  std::string dir_;
  values19 values_;
  std::string first_restart_;
  std::vector<std::string> first_snapshots_;
};

// Kill the continued run while it writes the file called temporary (a pipe that nobody reads
// beyond its buffer); returns false when the run ended before it blocked there.
bool kill_inside_write(const std::string &dir, const std::string &temporary, std::string *console) {
  const std::string path = dir + "/" + temporary;
  if (mkfifo(path.c_str(), 0644) != 0) return false;
  // The reader end opened first lets the program's open go through at once.
  const int reader = open(path.c_str(), O_RDONLY | O_NONBLOCK);
  if (reader < 0) return false;
  const int capacity = fcntl(reader, F_SETPIPE_SZ, 4096);
  const pid_t pid = start_tavo(dir);
  bool blocked = false;
  int status = 0;
  const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(240);
  while (std::chrono::steady_clock::now() < give_up) {
    int queued = 0;
    ioctl(reader, FIONREAD, &queued);
    if (capacity > 0 && queued >= capacity) {
      blocked = true;
      break;
    }
    if (waitpid(pid, &status, WNOHANG) == pid) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  if (blocked) {
    kill(pid, SIGKILL);
    EXPECT_EQ(finish_tavo(pid), -SIGKILL);
  } else if (waitpid(pid, &status, WNOHANG) == 0) {
    kill(pid, SIGKILL);
    finish_tavo(pid);
  }
  close(reader);
  unlink(path.c_str());
  *console = read_text(dir + "/stdout.txt");
  return blocked;
}

// Killed inside the write of a snapshot: the four snapshot names still hold the complete snapshot
// of the run before, the restart file is the one of the run before.
TEST_F(KilledRun, InsideASnapshotKeepsThePreviousSnapshots) {
  std::string console;
  ASSERT_TRUE(kill_inside_write(dir_, "i2d0.dat", &console)) << "the run did not block in i2d0.dat:\n" << console;
  EXPECT_EQ(console.find("|t="), std::string::npos) << "killed inside the first diagnostics call:\n" << console;
  for (int f = 0; f < 4; f++)
    EXPECT_TRUE(read_text(dir_ + "/" + snapshot_names[f]) == first_snapshots_[size_t(f)]) << snapshot_names[f];
  EXPECT_TRUE(read_text(dir_ + "/restart.dat") == first_restart_);
  EXPECT_EQ(whole_files_faults(dir_, values_), std::vector<std::string>());
  expect_continued_run_from_first_restart();
}

// Killed inside the write of the restart file at the end of the run: "restart.dat" is still the
// file of the run before, the snapshots hold the last call of the killed run, and "restart.nc"
// (renamed first) its end, from which the next continuation goes on: the killed run's outputs are
// all there, so it starts a run of its own at t = 0.8.
TEST_F(KilledRun, InsideTheRestartFileKeepsThePreviousOne) {
  std::string console;
  ASSERT_TRUE(kill_inside_write(dir_, "restart.dat.tmp", &console)) << "did not block in restart.dat.tmp:\n" << console;
  EXPECT_NE(console.find("|t=0.800 (0.800)"), std::string::npos) << "killed after the last interval:\n" << console;
  EXPECT_TRUE(read_text(dir_ + "/restart.dat") == first_restart_);
  EXPECT_FALSE(read_text(dir_ + "/n2d.dat") == first_snapshots_[0]) << "the killed run's own snapshot";
  EXPECT_EQ(whole_files_faults(dir_, values_), std::vector<std::string>());
  ASSERT_EQ(run_values(dir_, values_, &console), 0) << console;
  EXPECT_NE(console.find("|t=0.900 (1.200)"), std::string::npos) << "first interval after t = 0.8:\n" << console;
  EXPECT_EQ(read_text(dir_ + "/restart.dat").substr(0, 15), "1.200000e+00  \n");
  const auto times = rows_of(read_text(dir_ + "/eng.dat"));
  ASSERT_EQ(times.size(), 12u) << "three runs of four outputs, each once";
  for (size_t k = 1; k < times.size(); k++) EXPECT_GT(times[k][0], times[k - 1][0]) << "line " << k + 1;
  EXPECT_EQ(whole_files_faults(dir_, values_), std::vector<std::string>());
}

// Killed inside the rewrite of a profile: "cutx.dat" keeps the complete profile of the run before.
TEST_F(KilledRun, InsideAProfileKeepsThePreviousProfile) {
  const std::string first_cut = read_text(dir_ + "/cutx.dat");
  std::string console;
  ASSERT_TRUE(kill_inside_write(dir_, "cutx.dat.tmp", &console)) << "did not block in cutx.dat.tmp:\n" << console;
  EXPECT_TRUE(read_text(dir_ + "/cutx.dat") == first_cut);
  EXPECT_TRUE(read_text(dir_ + "/restart.dat") == first_restart_);
  EXPECT_EQ(whole_files_faults(dir_, values_), std::vector<std::string>());
  expect_continued_run_from_first_restart();
}

// Killed at some moment of a long run, after a few intervals: every result file is whole and the
// restart file is the one of the run before. Five kills at different moments of the cycle.
TEST_F(KilledRun, AnywhereInALongRunLeavesWholeFiles) {
  values19 long_run = values_;
  long_run[v_itmax] = 1000000;
  // no checkpoint during the run: the restart file stays the one of the run before
  write_text(dir_ + "/tavo.inp", parameter_file(long_run, 1, 0));
  for (int delay_ms : {0, 3, 7, 12, 19}) {
    SCOPED_TRACE("killed " + std::to_string(delay_ms) + " ms after the third progress line");
    const pid_t pid = start_tavo(dir_);
    std::string console;
    const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(240);
    size_t progress = 0;
    while (progress < 3 && std::chrono::steady_clock::now() < give_up) {
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
      console = read_text(dir_ + "/stdout.txt");
      progress = 0;
      for (size_t at = console.find("|t="); at != std::string::npos; at = console.find("|t=", at + 1)) progress++;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(delay_ms));
    kill(pid, SIGKILL);
    ASSERT_EQ(finish_tavo(pid), -SIGKILL) << read_text(dir_ + "/stdout.txt");
    ASSERT_GE(progress, 3u) << console;
    EXPECT_TRUE(read_text(dir_ + "/restart.dat") == first_restart_);
    // The probe files are still those of the first run, in its layout.
    EXPECT_EQ(whole_files_faults(dir_, values_), std::vector<std::string>());
  }
  write_text(dir_ + "/tavo.inp", parameter_file(values_));
  expect_continued_run_from_first_restart();
}

// The times of a series, in file order: the first number of every record of "eng.dat",
// "eng-transfer.dat", "fne.dat" and "gamma.dat"; of "zfx.dat" one time per block (a block is the
// run of lines between empty lines, all of one time; "" returned when a block mixes times).
std::vector<double> series_times(const std::string &text, bool blocks, std::string *fault) {
  std::vector<double> times;
  bool in_block = false;
  for (const std::vector<double> &row : rows_of(text)) {
    if (row.empty()) {
      in_block = false;
      continue;
    }
    if (!blocks || !in_block) times.push_back(row[0]);
    else if (row[0] != times.back()) *fault = "a block of " + std::to_string(times.back()) + " holds another time";
    in_block = true;
  }
  return times;
}

// "" when every time of the series in dir appears once and the times increase, else the fault.
std::string series_order_fault(const std::string &dir) {
  for (const char *name : {"eng.dat", "eng-transfer.dat", "fne.dat", "gamma.dat", "zfx.dat"}) {
    std::string fault;
    const std::vector<double> times = series_times(read_text(dir + "/" + name), std::string(name) == "zfx.dat", &fault);
    if (!fault.empty()) return std::string(name) + ": " + fault;
    if (times.size() < 2) return std::string(name) + ": fewer than two records";
    for (size_t k = 1; k < times.size(); k++)
      if (!(times[k] > times[k - 1]))
        return std::string(name) + ": record " + std::to_string(k + 1) + " at t = " + std::to_string(times[k]) +
               " follows t = " + std::to_string(times[k - 1]);
  }
  return "";
}

// A continued run killed four times at random moments, then run to its end: every series holds
// each time once, in increasing order. First without checkpoints, where the kills cannot have
// replaced the restart file and the series are byte for byte those of a continuation never
// killed; then with a checkpoint at every output, so that each kill leaves a restart file of its
// own and the next continuation resumes the killed run from there (it then ends where that run
// would have ended, so the kills stop once a continuation got to the end by itself).
TEST_F(KilledRun, KilledContinuationsLeaveEachTimeOnce) {
  values19 longer = values_;
  longer[v_itmax] = 100;  // 20 outputs after t = 0.4
  std::mt19937 random(20261210);
  for (const int nckpt : {0, 1}) {
    SCOPED_TRACE("nckpt = " + std::to_string(nckpt));
    const std::string restart_before = read_text(dir_ + "/restart.dat");
    write_text(dir_ + "/tavo.inp", parameter_file(longer, 1, nckpt));

    // The same continuation, never killed, in a copy of the directory.
    const std::string reference = make_temp_dir();
    std::filesystem::copy(dir_, reference, std::filesystem::copy_options::recursive |
                                               std::filesystem::copy_options::overwrite_existing);
    ASSERT_EQ(finish_tavo(start_tavo(reference)), 0) << read_text(reference + "/stdout.txt");

    bool finished = false;
    for (int kill_number = 1; kill_number <= 4 && !finished; kill_number++) {
      const int after = std::uniform_int_distribution<int>(2, 15)(random);
      const int delay_ms = std::uniform_int_distribution<int>(0, 15)(random);
      SCOPED_TRACE("kill " + std::to_string(kill_number) + ", " + std::to_string(delay_ms) +
                   " ms after progress line " + std::to_string(after));
      const double t0 = strtod(read_text(dir_ + "/restart.dat").c_str(), nullptr);
      const pid_t pid = start_tavo(dir_);
      std::string console;
      const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(240);
      // The initial call prints a progress line too. A resumed run may end before that many lines:
      // the wait ends with it (the process is looked at, not reaped: finish_tavo does that).
      auto ended = [pid] {
        siginfo_t info{};
        return waitid(P_PID, pid, &info, WEXITED | WNOHANG | WNOWAIT) == 0 && info.si_pid == pid;
      };
      while (progress_lines(console) < after + 1 && !ended() && std::chrono::steady_clock::now() < give_up) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
        console = read_text(dir_ + "/stdout.txt");
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(delay_ms));
      kill(pid, SIGKILL);
      const int status = finish_tavo(pid);
      if (nckpt == 1 && status == 0) {
        finished = true;  // a resumed run ended before it had printed that many lines
        break;
      }
      ASSERT_EQ(status, -SIGKILL) << read_text(dir_ + "/stdout.txt");
      // Without checkpoints the killed run appended beyond the restart time: what the next
      // continuation must drop. With a checkpoint at every output it may have died just after one.
      const std::vector<std::vector<double>> rows = rows_of(read_text(dir_ + "/eng.dat"));
      ASSERT_FALSE(rows.empty());
      if (nckpt == 0) {
        EXPECT_GT(rows.back()[0], t0) << "no record beyond the restart time";
      }
    }
    const std::string restart = read_text(dir_ + "/restart.dat");
    if (!finished) {
      ASSERT_EQ(finish_tavo(start_tavo(dir_)), 0) << read_text(dir_ + "/stdout.txt");
    }
    EXPECT_EQ(series_order_fault(dir_), "");
    EXPECT_EQ(whole_files_faults(dir_, longer), std::vector<std::string>());
    EXPECT_EQ(series_order_fault(reference), "") << "the run never killed";
    if (nckpt == 0) {
      EXPECT_EQ(restart, restart_before) << "a kill replaced the restart file without checkpoints";
      for (const char *name : {"eng.dat", "eng-transfer.dat", "fne.dat", "gamma.dat", "zfx.dat", "restart.dat"})
        EXPECT_TRUE(read_text(dir_ + "/" + name) == read_text(reference + "/" + name)) << name;
    }
    remove_dir(reference);
  }
}

// A kill right after a rename of a checkpoint file, at the first file of the run's first
// checkpoint (no earlier pair), at the first file of its second (the new file beside the other's
// previous one), and after a whole pair: the continuation (incon 2) goes on from the newest state
// and ends with the files of the run that was never killed, byte for byte; it never starts a new
// run of itmax steps from the older file.
TEST(KillBetweenRenames, TheContinuationReachesThePlannedEndExactly) {
  values19 v = fault_values();  // four outputs: checkpoints after the first three and at the end
  const std::string whole = make_temp_dir();
  write_text(whole + "/tavo.inp", parameter_file(v, 1, 1));
  ASSERT_EQ(finish_tavo(start_tavo(whole)), 0) << read_text(whole + "/stdout.txt");
  const std::set<std::string> own_to_each_run = {"stdout.txt", "stderr.txt", "tavo.inp", "tavo.lock"};
  const std::string asan = getenv("ASAN_OPTIONS") ? getenv("ASAN_OPTIONS") : "";
  for (const int at : {1, 3, 4}) {
    const std::string dir = make_temp_dir();
    write_text(dir + "/tavo.inp", parameter_file(v, 1, 1));
    // The hook is loaded before the sanitizers' runtime, which then must not insist on coming first.
    setenv("LD_PRELOAD", TAVO_RENAME_HOOK, 1);
    setenv("TAVO_KILL_AFTER_RENAME", std::to_string(at).c_str(), 1);
    setenv("ASAN_OPTIONS", (asan + (asan.empty() ? "" : ":") + "verify_asan_link_order=0").c_str(), 1);
    const int status = finish_tavo(start_tavo(dir));
    unsetenv("LD_PRELOAD");
    unsetenv("TAVO_KILL_AFTER_RENAME");
    if (asan.empty()) unsetenv("ASAN_OPTIONS");
    else setenv("ASAN_OPTIONS", asan.c_str(), 1);
    ASSERT_EQ(status, -SIGKILL) << "rename " << at << ": " << read_text(dir + "/stderr.txt");

    values19 continued = v;
    continued[v_incon] = 2;
    write_text(dir + "/tavo.inp", parameter_file(continued, 1, 1));
    ASSERT_EQ(finish_tavo(start_tavo(dir)), 0) << "rename " << at << ": " << read_text(dir + "/stderr.txt");
    std::set<std::string> expected, found;
    for (const std::string &name : entries(whole))
      if (!own_to_each_run.count(name)) expected.insert(name);
    for (const std::string &name : entries(dir))
      if (!own_to_each_run.count(name)) found.insert(name);
    EXPECT_EQ(found, expected) << "rename " << at;
    for (const std::string &name : expected)
      EXPECT_TRUE(read_text(whole + "/" + name) == read_text(dir + "/" + name)) << "rename " << at << ": " << name;
    if (!testing::Test::HasFailure()) remove_dir(dir);
  }
  if (!testing::Test::HasFailure()) remove_dir(whole);
}

}  // namespace
