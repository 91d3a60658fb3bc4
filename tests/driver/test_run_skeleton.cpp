// The program run end to end in a temporary directory on a 16 by 16 grid: the exact console text
// of a run (banner, thread report, start-up lines, timing report and end line), the number and
// times of the output intervals (itmax/itstp in integer division), the early end of a run without
// steps, a run too short for one interval, and which start modes keep or empty the time series.
#include <gtest/gtest.h>

#include <regex.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "support/dirs.hpp"
#include "support/run_setup.hpp"

namespace {

const std::string start_lines = std::string(41, '_') +
                                "\n| TAVO start...\n"
                                "| parallel threads 0/ of 1 active.\n"
                                "| initialisation ... | blob initial condition...\n"
                                "| start time stepping ...\n";

// One timing line of the report: label, then the eight stages with two decimals (captured).
std::string timing_line(const char *label) {
  const char *stages[] = {"ini", "upd", "poi1", "poi2", "pol", "bnd", "out"};
  std::string line = std::string("\\| ") + label + ":";
  for (const char *stage : stages) line += std::string(" ") + stage + ": ([0-9]+\\.[0-9][0-9])";
  return line + " mem:([0-9]+\\.[0-9][0-9])\n";
}

// text with every character that is special in an extended regular expression escaped.
std::string literal(const std::string &text) {
  std::string escaped;
  for (char c : text) {
    if (strchr(".^$|()[]{}*+?\\", c)) escaped += '\\';
    escaped += c;
  }
  return escaped;
}

// Match pattern (POSIX extended) against text from offset on; on success store the groups and
// the end of the match.
bool posix_match(const std::string &pattern, const std::string &text, size_t offset,
                 std::vector<std::string> *groups, size_t *end) {
  regex_t compiled;
  if (regcomp(&compiled, pattern.c_str(), REG_EXTENDED) != 0) {
    ADD_FAILURE() << "bad pattern " << pattern;
    return false;
  }
  std::vector<regmatch_t> match(compiled.re_nsub + 1);
  bool found = regexec(&compiled, text.c_str() + offset, match.size(), match.data(), 0) == 0;
  if (found) {
    groups->clear();
    for (const regmatch_t &m : match)
      groups->push_back(m.rm_so < 0 ? "" : text.substr(offset + m.rm_so, m.rm_eo - m.rm_so));
    *end = offset + match[0].rm_eo;
  }
  regfree(&compiled);
  return found;
}

// The whole console of a run with at least one diagnostics call; the lines between the start
// and the report are the diagnostics' own. Groups 2 .. 17 are the sixteen report values.
const std::string run_console = "^" + literal(start_lines) + "(\\|[^\n]*\n)+" + "\\|\n" +
                                timing_line("total times") + timing_line("rela\\. times") +
                                "\\|\n\\| TAVO end\\.\n\n$";

// Whether output is the console of a complete run.
bool is_run_console(const std::string &output) {
  std::vector<std::string> groups;
  size_t end;
  return posix_match(run_console, output, 0, &groups, &end);
}

// The simulation times of the progress lines "|t=%.3f ...", in order.
std::vector<std::string> progress_times(const std::string &output) {
  std::vector<std::string> times, groups;
  size_t at = 0;
  while (posix_match("\\|t=([-0-9.]+) \\(", output, at, &groups, &at)) times.push_back(groups[1]);
  return times;
}

// First line of a file.
std::string first_line(const std::string &path) {
  std::string text = read_text(path);
  return text.substr(0, text.find('\n') + 1);
}

// The eight values of both report lines of a run console (empty when it does not match).
std::vector<double> report_values(const std::string &output) {
  std::vector<std::string> groups;
  std::vector<double> values;
  size_t end;
  if (!posix_match(run_console, output, 0, &groups, &end)) return values;
  for (size_t k = 2; k < groups.size(); k++) values.push_back(atof(groups[k].c_str()));
  return values;
}

TEST(RunSkeleton, ConsoleAndIntervalsOfAShortRun) {
  values19 v = test_values();
  v[v_itmax] = 10;
  v[v_itstp] = 4;  // two intervals; the two remaining steps are dropped
  v[v_dt] = 0.01;
  std::string dir = make_temp_dir(), output;
  ASSERT_EQ(run_in(dir, v, &output), 0) << output;
  EXPECT_TRUE(is_run_console(output)) << "console:\n" << output;

  // The initial call at t = 0, then one call at the end of each interval.
  EXPECT_EQ(progress_times(output), (std::vector<std::string>{"0.000", "0.040", "0.080"})) << output;
  EXPECT_EQ(first_line(dir + "/restart.dat"), "8.000000e-02  \n");
  // Standard error: one progress line per interval, the second one at the end.
  const std::string number = "[0-9]+\\.[0-9]", clock = "[0-9]+:[0-5][0-9]:[0-5][0-9]";
  const std::string progress = "\\| progress: step ([48]) of 8, " + clock + " elapsed, " + number + " steps/s, about (" +
                               clock + ") to the end\n";
  std::vector<std::string> groups;
  size_t end;
  const std::string errors = read_text(dir + "/stderr.txt");
  EXPECT_TRUE(posix_match("^" + progress + progress + "$", errors, 0, &groups, &end)) << errors;
  if (groups.size() == 5) {
    EXPECT_EQ(groups[1] + groups[3] + groups[4], "480:00:00") << errors;
  }

  std::vector<double> report = report_values(output);
  ASSERT_EQ(report.size(), 16u) << output;
  // The absolute times of so short a run may all print as 0.00; the shares still add up to 100.
  double shares = 0;
  for (int k = 0; k < 8; k++) shares += report[8 + k];
  EXPECT_NEAR(shares, 100.0, 0.041) << "relative times, each rounded to 0.01:\n" << output;
  remove_test_dir(dir);
}

TEST(RunSkeleton, NoStepsEndsAfterTheStartLines) {
  values19 v = test_values();
  v[v_itmax] = 0;
  std::string dir = make_temp_dir(), output;
  ASSERT_EQ(run_in(dir, v, &output), 0) << output;
  EXPECT_EQ(output, start_lines);
  // Only the directory's lock and the emptied time series appear: no diagnostics, no restart file.
  std::set<std::string> want = {"tavo.inp", "stdout.txt", "stderr.txt", "tavo.lock"};
  for (const char *name : series_files) want.insert(name);
  EXPECT_EQ(entries(dir), want);
  for (const char *name : series_files) EXPECT_EQ(read_text(dir + "/" + name), "") << name;
  remove_test_dir(dir);
}

TEST(RunSkeleton, RunShorterThanOneIntervalTakesNoStep) {
  values19 v = test_values();
  v[v_itmax] = 3;
  v[v_itstp] = 5;
  std::string dir = make_temp_dir(), output;
  ASSERT_EQ(run_in(dir, v, &output), 0) << output;
  ASSERT_TRUE(is_run_console(output)) << "console:\n" << output;
  EXPECT_EQ(progress_times(output), std::vector<std::string>{"0.000"}) << output;
  EXPECT_EQ(first_line(dir + "/restart.dat"), "0.000000e+00  \n");
  // The stage timers of the time step stay zero: upd, poi1, poi2, pol, bnd and mem.
  std::vector<double> report = report_values(output);
  ASSERT_EQ(report.size(), 16u);
  for (int line = 0; line < 2; line++)
    for (int stage : {1, 2, 3, 4, 5, 7}) EXPECT_EQ(report[8 * line + stage], 0.0) << "stage " << stage << " of line " << line << "\n" << output;
  double shares = 0;
  for (int k = 8; k < 16; k++) shares += report[k];
  EXPECT_NEAR(shares, 100.0, 0.041) << output;
  remove_test_dir(dir);
}

TEST(RunSkeleton, ContinuedRunKeepsTheTimeSeriesAndAFreshRunEmptiesThem) {
  values19 v = test_values();
  v[v_itmax] = 4;
  v[v_itstp] = 2;
  v[v_dt] = 0.01;
  std::string dir = make_temp_dir(), output;
  ASSERT_EQ(run_in(dir, v, &output), 0) << output;
  ASSERT_EQ(first_line(dir + "/restart.dat"), "4.000000e-02  \n");
  for (const char *name : series_files) write_text(dir + "/" + name, std::string("earlier ") + name + "\n");
  const std::string restart = read_text(dir + "/restart.dat");

  // Continued without steps: every file stays as it was.
  values19 continued = v;
  continued[v_incon] = 2;
  continued[v_itmax] = 0;
  ASSERT_EQ(run_in(dir, continued, &output), 0) << output;
  for (const char *name : series_files) EXPECT_EQ(read_text(dir + "/" + name), std::string("earlier ") + name + "\n") << name;
  EXPECT_EQ(read_text(dir + "/restart.dat"), restart);

  // Continued with one interval: appended after the earlier text; the initial call still at 0.
  continued[v_itmax] = 2;
  ASSERT_EQ(run_in(dir, continued, &output), 0) << output;
  EXPECT_EQ(progress_times(output), (std::vector<std::string>{"0.000", "0.060"})) << output;
  EXPECT_EQ(first_line(dir + "/restart.dat"), "6.000000e-02  \n");
  for (const char *name : series_files) {
    std::string text = read_text(dir + "/" + name), earlier = std::string("earlier ") + name + "\n";
    EXPECT_EQ(text.compare(0, earlier.size(), earlier), 0) << name << " lost its earlier text:\n" << text;
  }

  // A fresh run empties all seven.
  values19 fresh = v;
  fresh[v_itmax] = 0;
  ASSERT_EQ(run_in(dir, fresh, &output), 0) << output;
  for (const char *name : series_files) EXPECT_EQ(read_text(dir + "/" + name), "") << name;
  remove_test_dir(dir);
}

}  // namespace
