// A run that blows up (a time step far too large for the explicit scheme) ends with the crash
// stop: exit status 1, the two crash lines, and nothing written by the crashing diagnostics call.
// Its files are compared with those of the same run cut off one interval before the crash, which
// makes exactly the calls that succeeded and then ends normally.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "faults/fault_support.hpp"

namespace {

TEST(BlowUp, CrashStopAddsNothingToAnyFile) {
  values19 v = fault_values();
  v[v_dt] = 0.5;  // forty times the stable step: the energy passes 1e43 by t = 5
  v[v_itmax] = 100;
  const std::string crashed = make_temp_dir(), cut = make_temp_dir();
  const std::string previous = "7.000000e+00  \n0  0  1 2 3 4 5 6 7 8 9 10 11 12\n";
  write_text(crashed + "/restart.dat", previous);

  std::string console;
  ASSERT_EQ(run_values(crashed, v, &console), 1) << console;
  // The progress lines of the calls that passed, then an empty line and the two crash lines; eno
  // in the second is the energy of the last call that passed, printed alike.
  std::vector<std::string> lines;
  std::istringstream stream(console);
  for (std::string line; std::getline(stream, line);) lines.push_back(line);
  ASSERT_GE(lines.size(), 4u) << console;
  const size_t n = lines.size();
  const std::string &good = lines[n - 4], &crash_time = lines[n - 2], &crash = lines[n - 1];
  double last_good = -1, end_time = -1, crash_at = -1;
  char enn_text[64] = "", crash_end[64] = "";
  ASSERT_EQ(sscanf(good.c_str(), "|t=%lf (%lf): enn=%63s", &last_good, &end_time, enn_text), 3) << console;
  EXPECT_EQ(lines[n - 3], "") << "the crash message begins with a line end";
  ASSERT_EQ(sscanf(crash_time.c_str(), "|t=%lf (%63[^)]): enn=", &crash_at, crash_end), 2) << console;
  EXPECT_STREQ(crash_end, "50.00") << "the end time with two decimals";
  EXPECT_EQ(crash_at, last_good + 2.5) << "the crash comes one interval after the last call that passed";
  EXPECT_EQ(crash.rfind("|TAVO CRASHED!  enn=", 0), 0u) << crash;
  EXPECT_EQ(crash.substr(crash.rfind(",   eno=") + 8), enn_text) << "eno is enn of the last call that passed";
  // Standard error: the start-up warnings and, last, the likely cause, one of the terms warned of
  // (the k^4 dissipation and the coupling are both about 4.4 times their limits), not the drift of
  // the fields that they made grow.
  const std::string errors = read_text(crashed + "/stderr.txt");
  EXPECT_NE(errors.find("| warning: dt = 0.5 is too large for the dissipation diff k^4"), std::string::npos) << errors;
  const size_t cause = errors.rfind("\n| likely cause: ");
  ASSERT_NE(cause, std::string::npos) << errors;
  const std::string term = errors.substr(cause + 17, errors.find(',', cause) - cause - 17);
  EXPECT_NE(errors.find("| warning: dt = 0.5 is too large for " + term + ":"), std::string::npos) << errors;
  EXPECT_EQ(errors.back(), '\n');
  EXPECT_FALSE(std::filesystem::exists(crashed + "/restart.dat")) << "a crashed run writes no restart file";
  EXPECT_EQ(read_text(crashed + "/restart.dat.old"), previous) << "the earlier run's, set aside by the fresh run";
  EXPECT_EQ(names_ending(crashed, ".tmp"), std::vector<std::string>()) << "no temporary file is left";
  EXPECT_EQ(names_ending(crashed, "0.dat"), std::vector<std::string>()) << "no temporary snapshot is left";

  // The same run, ending after the last interval that passed.
  values19 shorter = v;
  shorter[v_itmax] = static_cast<int>(last_good / 2.5 + 0.5) * 5;
  ASSERT_GE(shorter[v_itmax], 5) << "at least one interval passes before the crash";
  ASSERT_EQ(run_values(cut, shorter, &console), 0) << console;
  for (const std::string &name : result_files(v)) {
    if (name == "restart.dat" || name == "traces.dat" || name == "ptt_n.dat" || name == "ptt_p.dat") continue;
    const std::string want = read_text(cut + "/" + name), got = read_text(crashed + "/" + name);
    EXPECT_TRUE(got == want) << name << " differs from the run that stopped before the crash (" << got.size()
                             << " bytes, expected " << want.size() << ")";
  }
  EXPECT_EQ(read_text(crashed + "/traces.dat"), "") << "the probe traces are written only at a normal end";
  remove_dir(crashed);
  remove_dir(cut);
}

// With a checkpoint after every output, a run that blows up keeps the restart file of its last
// output that passed the crash check: the same bytes as the end of the run cut off there.
TEST(BlowUp, CheckpointKeepsTheLastStateThatPassed) {
  values19 v = fault_values();
  v[v_dt] = 0.5;
  v[v_itmax] = 100;
  const std::string crashed = make_temp_dir(), cut = make_temp_dir();
  write_text(crashed + "/tavo.inp", parameter_file(v, 1, 1));
  ASSERT_EQ(finish_tavo(start_tavo(crashed)), 1) << read_text(crashed + "/stdout.txt");
  const std::string checkpoint = read_text(crashed + "/restart.dat");
  double last_good = -1;
  ASSERT_EQ(sscanf(checkpoint.c_str(), "%lf", &last_good), 1) << "a checkpoint was written";
  EXPECT_EQ(checkpoint.find("nan"), std::string::npos);
  EXPECT_EQ(names_ending(crashed, ".tmp"), std::vector<std::string>()) << "no temporary file is left";

  values19 shorter = v;
  shorter[v_itmax] = static_cast<int>(last_good / 2.5 + 0.5) * 5;
  std::string console;
  ASSERT_EQ(run_values(cut, shorter, &console), 0) << console;
  EXPECT_NE(console.find("|t=" + std::to_string(last_good).substr(0, 5)), std::string::npos) << console;
  EXPECT_TRUE(read_text(cut + "/restart.dat") == checkpoint) << "the checkpoint at t = " << last_good;
  // the run cut off there makes one more call: the crashed run's next output is the crash
  values19 one_more = shorter;
  one_more[v_itmax] += 5;
  EXPECT_EQ(run_values(cut, one_more, &console), 1) << console;
  remove_dir(crashed);
  remove_dir(cut);
}

}  // namespace
