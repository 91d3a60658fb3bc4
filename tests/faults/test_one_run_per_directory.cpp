// One run per directory: a second run started where a run is going on stops at once with a "|"
// line naming the running process and exit status 1, before it touches any file, and the first
// run ends with exactly the files of a run that was alone. The lock goes with the process that
// held it, so the next run in the directory starts.
#include <gtest/gtest.h>

#include <signal.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "faults/fault_support.hpp"

namespace {

TEST(OneRunPerDirectory, SecondRunIsRefusedWhileTheFirstGoesOn) {
  values19 v = fault_values();
  v[v_itmax] = 100;  // 20 outputs: the second runs try after the third
  const std::string alone = make_temp_dir(), dir = make_temp_dir();
  std::string console;
  ASSERT_EQ(run_values(alone, v, &console), 0) << console;

  write_text(dir + "/tavo.inp", parameter_file(v));
  const pid_t first = start_tavo(dir);
  console.clear();
  const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(240);
  while (progress_lines(console) < 3 && std::chrono::steady_clock::now() < give_up) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
    console = read_text(dir + "/stdout.txt");
  }
  // The first run is held (SIGSTOP) while the second ones try, so that it is surely still going on,
  // however fast it is. A fresh start would empty the time series, a continuation trim them:
  // either would show in the first run's files.
  kill(first, SIGSTOP);
  ASSERT_EQ(read_text(dir + "/stdout.txt").find("| TAVO end."), std::string::npos) << "the first run ended too soon";
  for (int incon : {0, 2}) {
    SCOPED_TRACE("second run with incon " + std::to_string(incon));
    values19 second = v;
    second[v_incon] = incon;
    write_text(dir + "/tavo.inp", parameter_file(second));
    EXPECT_EQ(finish_tavo(start_tavo(dir, 0, "second-")), 1);
    const std::string refusal = read_text(dir + "/second-stdout.txt");
    const std::string want = "| another run is active in this directory (process " + std::to_string(first) +
                             " holds \"tavo.lock\"): one run per directory\n";
    EXPECT_EQ(refusal.substr(refusal.size() < want.size() ? 0 : refusal.size() - want.size()), want) << refusal;
  }
  write_text(dir + "/tavo.inp", parameter_file(v));
  kill(first, SIGCONT);
  const int status = finish_tavo(first);
  console = read_text(dir + "/stdout.txt");
  EXPECT_EQ(status, 0) << console;
  EXPECT_GE(progress_lines(console), 3) << "the second runs came after the first run's third output";
  for (const std::string &name : result_files(v))
    EXPECT_TRUE(read_text(dir + "/" + name) == read_text(alone + "/" + name)) << name << " differs from the run alone";

  // The lock went with the first run; a run killed while it holds the lock leaves none either.
  values19 again = v;
  again[v_itmax] = 1000000;
  write_text(dir + "/tavo.inp", parameter_file(again));
  const pid_t killed = start_tavo(dir);
  console.clear();
  while (progress_lines(console) < 1 && std::chrono::steady_clock::now() < give_up) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
    console = read_text(dir + "/stdout.txt");
  }
  kill(killed, SIGKILL);
  EXPECT_EQ(finish_tavo(killed), -SIGKILL);
  EXPECT_EQ(run_values(dir, v, &console), 0) << console;
  remove_dir(alone);
  remove_dir(dir);
}

}  // namespace
