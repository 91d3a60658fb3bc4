// Tests of scripts/scan: a three-point ensemble of tiny bath runs under GNU parallel, one point made
// to fail (its "eng.dat" is a directory), reported with the program's message, then resumed alone;
// the collection, whose rows must equal each run's own summary and whose ensemble row must be the
// mean and sample spread of those rows; the Slurm job array of a scan; and the refusals.
//
// The analysis command is a stand-in written by the test (TAVO_ANALYSE): it writes summary.json in
// the analysis command's layout from the run's "fne.dat" and "eng.dat" and logs each call. One
// more scan runs the real scripts/analyse, whose summaries the collection must hold as they are.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "setup/setup.hpp"
#include "support/dirs.hpp"
#include "support/run_setup.hpp"

namespace fs = std::filesystem;

namespace {

const std::string scan = std::string(TAVO_SOURCE_DIR) + "/scripts/scan";

bool have_parallel() { return system("command -v parallel >/dev/null 2>&1") == 0; }

// Run a shell command in dir with standard output and error into *output; its exit status.
int shell(const std::string &dir, const std::string &command, std::string *output) {
  const std::string log = dir + "/command.log";
  const int status = system(("cd '" + dir + "' && " + command + " > '" + log + "' 2>&1").c_str());
  *output = read_text(log);
  fs::remove(log);
  return status != -1 && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// The stand-in analysis: flux and E as the means of "fne.dat" column 2 and "eng.dat" column 5,
// printed to 17 digits, the other quantities fixed; every call appends its directory to calls.log.
const char *const stand_in =
    "#!/bin/bash\n"
    "d=$1; echo \"$d\" >> \"$(dirname \"$0\")/calls.log\"\n"
    "f=$(awk '{s+=$2;n++} END {printf \"%.17g\", s/n}' < \"$d/fne.dat\")\n"
    "e=$(awk '{s+=$5;n++} END {printf \"%.17g\", s/n}' < \"$d/eng.dat\")\n"
    "q() { echo \"\\\"$1\\\": {\\\"mean\\\": $2, \\\"error\\\": $3, \\\"long_name\\\": \\\"$1\\\", \\\"units\\\": \\\"1\\\"}\"; }\n"
    "echo \"{\\\"program\\\": \\\"tavo\\\", \\\"version\\\": \\\"test\\\", \\\"run\\\": \\\"$d\\\", \\\"window\\\": "
    "{\\\"t_start\\\": 0, \\\"t_end\\\": 0.2, \\\"method\\\": \\\"all\\\"}, \\\"error_method\\\": \\\"none\\\", "
    "\\\"quantities\\\": {$(q flux $f 0.25), $(q enn 1 0.5), $(q E_K 2 0.5), $(q E $e 0.125), $(q EZ_over_EK 0.5 0.5)}}\" "
    "> \"$d/summary.json\"\n";

// The mean and error of quantity in a summary.json text, compact or indented (NaN when missing).
std::pair<double, double> summary_value(const std::string &json, const std::string &quantity) {
  const size_t at = json.find("\"" + quantity + "\":");
  if (at == std::string::npos) return {NAN, NAN};
  auto number = [&](const std::string &key) {
    const size_t k = json.find("\"" + key + "\":", at);
    return k == std::string::npos ? NAN : strtod(json.c_str() + k + key.size() + 3, nullptr);
  };
  return {number("mean"), number("error")};
}

// The rows of a CSV file split at commas (header first).
std::vector<std::vector<std::string>> csv_rows(const std::string &path) {
  std::vector<std::vector<std::string>> rows;
  std::istringstream lines(read_text(path));
  for (std::string line; std::getline(lines, line);) {
    std::vector<std::string> cells;
    std::istringstream fields(line);
    for (std::string cell; std::getline(fields, cell, ',');) cells.push_back(cell);
    rows.push_back(cells);
  }
  return rows;
}

// A base directory with a tiny bath run: 16 x 16, 20 steps in four intervals.
std::string make_base(const std::string &dir) {
  values19 v = test_values();
  v[v_incon] = 1, v[v_itmax] = 20, v[v_itstp] = 5, v[v_ihype] = 2, v[v_diff] = 1e-3;
  fs::create_directory(dir + "/base");
  write_text(dir + "/base/tavo.inp", parameter_file(v));
  return dir + "/base";
}

// The values of a parameter file as the program reads them.
std::vector<double> values_of(const std::string &path) {
  std::vector<double> values(nknown, NAN);
  for (int k = nvalues; k < nknown; k++) values[k] = parameter_table[k].fallback;  // as the program reads them
  read_values(read_text(path), values.data(), nknown);
  return values;
}

TEST(Scan, EnsembleUnderParallelResumesTheFailedPointAndCollects) {
  if (!have_parallel()) GTEST_SKIP() << "GNU parallel is not installed";
  const std::string dir = make_temp_dir();
  make_base(dir);
  write_text(dir + "/analyse", stand_in);
  fs::permissions(dir + "/analyse", fs::perms::owner_all);
  fs::create_directories(dir + "/out/iseed_2/eng.dat");  // the program cannot write its energies there
  const std::string command = "TAVO_ANALYSE='" + dir + "/analyse' '" + scan + "' -j 2 base out iseed=1..3";

  std::string output;
  EXPECT_EQ(shell(dir, command, &output), 1) << output;
  EXPECT_NE(output.find("| point iseed_2 failed: tavo failed (exit status 1): | cannot open \"eng.dat\""),
            std::string::npos)
      << output;
  std::string calls = read_text(dir + "/calls.log");
  EXPECT_EQ(std::count(calls.begin(), calls.end(), '\n'), 2) << calls;
  EXPECT_EQ(calls.find("iseed_2"), std::string::npos) << calls;

  fs::remove(dir + "/out/iseed_2/eng.dat");
  ASSERT_EQ(shell(dir, command, &output), 0) << output;
  std::vector<std::string> called;
  std::istringstream lines(read_text(dir + "/calls.log"));
  for (std::string line; std::getline(lines, line);) called.push_back(line.substr(line.rfind('/') + 1));
  ASSERT_EQ(called.size(), 3u) << "only the failed point runs again";
  EXPECT_EQ(called[2], "iseed_2");
  EXPECT_NE(called[0], called[1]);

  // Each point's file is the base with its seed added as value 22 (defaults for 20 and 21).
  const std::vector<double> base = values_of(dir + "/base/tavo.inp");
  for (int seed = 1; seed <= 3; seed++) {
    std::vector<double> want = base;
    want[19] = 1, want[20] = 10, want[21] = seed;
    EXPECT_EQ(values_of(dir + "/out/iseed_" + std::to_string(seed) + "/tavo.inp"), want) << "iseed " << seed;
  }

  ASSERT_EQ(shell(dir, "'" + scan + "' collect out", &output), 0) << output;
  const auto rows = csv_rows(dir + "/out/collect.csv");
  ASSERT_EQ(rows.size(), 4u) << read_text(dir + "/out/collect.csv");
  EXPECT_EQ(rows[0][0], "iseed");
  EXPECT_EQ(rows[0][1] + "," + rows[0][2] + "," + rows[0][7] + "," + rows[0][8], "flux_mean,flux_error,E_mean,E_error");
  double sum = 0, squares = 0;
  std::vector<double> fluxes;
  for (int seed = 1; seed <= 3; seed++) {
    const std::vector<std::string> &row = rows[seed];
    const std::string summary = read_text(dir + "/out/iseed_" + std::to_string(seed) + "/summary.json");
    EXPECT_EQ(row[0], std::to_string(seed));
    const auto flux = summary_value(summary, "flux"), energy = summary_value(summary, "E");
    EXPECT_EQ(strtod(row[1].c_str(), nullptr), flux.first) << "iseed " << seed << ": " << row[1];
    EXPECT_EQ(strtod(row[2].c_str(), nullptr), flux.second);
    EXPECT_EQ(strtod(row[7].c_str(), nullptr), energy.first) << "iseed " << seed << ": " << row[7];
    EXPECT_EQ(strtod(row[8].c_str(), nullptr), energy.second);
    fluxes.push_back(flux.first);
    sum += flux.first;
  }
  EXPECT_NE(fluxes[0], fluxes[1]) << "two seeds, two baths";
  EXPECT_NE(fluxes[1], fluxes[2]) << "two seeds, two baths";
  const double mean = sum / 3;
  for (double f : fluxes) squares += (f - mean) * (f - mean);
  const auto ensemble = csv_rows(dir + "/out/ensemble.csv");
  ASSERT_EQ(ensemble.size(), 2u) << read_text(dir + "/out/ensemble.csv");
  EXPECT_EQ(ensemble[0][0] + "," + ensemble[0][1] + "," + ensemble[0][2], "seeds,flux_mean,flux_spread");
  EXPECT_EQ(ensemble[1][0], "3");
  EXPECT_NEAR(strtod(ensemble[1][1].c_str(), nullptr), mean, 1e-14 * std::fabs(mean));
  EXPECT_NEAR(strtod(ensemble[1][2].c_str(), nullptr), std::sqrt(squares / 2), 1e-12 * std::sqrt(squares / 2));
  EXPECT_EQ(read_text(dir + "/out/flux_vs_iseed.png").substr(0, 8), "\x89PNG\r\n\x1a\n");
  EXPECT_NE(read_text(dir + "/out/collect.txt").find("# over the seeds"), std::string::npos);
  if (!testing::Test::HasFailure()) fs::remove_all(dir);
}

// The same chain with the real analysis command: two points of 40 outputs each, analysed by
// scripts/analyse after their runs, collected into rows equal to each run's own summary.json.
TEST(Scan, RealAnalysisSummariesAreCollected) {
  if (!have_parallel()) GTEST_SKIP() << "GNU parallel is not installed";
  const std::string dir = make_temp_dir();
  values19 v = test_values();
  v[v_incon] = 1, v[v_itmax] = 200, v[v_itstp] = 5, v[v_ihype] = 2, v[v_diff] = 1e-3;
  fs::create_directory(dir + "/base");
  write_text(dir + "/base/tavo.inp", parameter_file(v));
  std::string output;
  ASSERT_EQ(shell(dir, "env -u TAVO_ANALYSE '" + scan + "' -j 2 -t 1 base out iseed=1..2", &output), 0) << output;
  ASSERT_EQ(shell(dir, "'" + scan + "' collect out", &output), 0) << output;
  const auto rows = csv_rows(dir + "/out/collect.csv");
  ASSERT_EQ(rows.size(), 3u) << read_text(dir + "/out/collect.csv");
  for (int seed = 1; seed <= 2; seed++) {
    const std::string summary = read_text(dir + "/out/iseed_" + std::to_string(seed) + "/summary.json");
    ASSERT_FALSE(summary.empty()) << "iseed " << seed << " has no summary.json";
    const auto flux = summary_value(summary, "flux"), energy = summary_value(summary, "E");
    EXPECT_TRUE(std::isfinite(flux.first) && std::isfinite(flux.second)) << summary;
    EXPECT_EQ(strtod(rows[seed][1].c_str(), nullptr), flux.first) << "iseed " << seed << ": " << rows[seed][1];
    EXPECT_EQ(strtod(rows[seed][7].c_str(), nullptr), energy.first) << "iseed " << seed << ": " << rows[seed][7];
  }
  if (!testing::Test::HasFailure()) fs::remove_all(dir);
}

TEST(Scan, SlurmArrayHoldsOneTaskPerPoint) {
  const std::string dir = make_temp_dir();
  make_base(dir);
  std::string output;
  ASSERT_EQ(shell(dir, "'" + scan + "' --slurm -t 2 base out chat=0.5,-1 iseed=1..3", &output), 0) << output;
  const std::string script = read_text(dir + "/out/scan.slurm");
  EXPECT_EQ(shell(dir, "bash -n out/scan.slurm", &output), 0) << output;
  EXPECT_NE(script.find("\n#SBATCH --array=0-5\n"), std::string::npos) << script;
  EXPECT_NE(script.find("\n#SBATCH --cpus-per-task=2\n"), std::string::npos) << script;
  // The array lists the six points, chat outer, iseed inner; each holds its values and npar 2.
  const std::string list = script.substr(script.find("points=("), script.find(")\n") - script.find("points=("));
  int task = 0;
  for (const char *chat : {"0.5", "-1"})
    for (int seed = 1; seed <= 3; seed++, task++) {
      const std::string point = std::string("chat_") + chat + "_iseed_" + std::to_string(seed);
      const size_t at = list.find("\n  " + dir + "/out/" + point + "\n");
      EXPECT_NE(at, std::string::npos) << point << " in\n" << list;
      EXPECT_EQ(std::count(list.begin(), list.begin() + (at == std::string::npos ? 0 : at), '\n'), task) << point;
      const std::vector<double> v = values_of(dir + "/out/" + point + "/tavo.inp");
      EXPECT_EQ(v[0], atof(chat));
      EXPECT_EQ(v[21], seed);
      EXPECT_EQ(v[18], 2) << "npar";
      EXPECT_FALSE(fs::exists(dir + "/out/" + point + "/eng.dat")) << "nothing runs";
    }
  EXPECT_EQ(std::count(list.begin(), list.end(), '\n'), 7) << "the opening line and six points\n" << list;
  fs::remove_all(dir);
}

// What a scan counts as done, and its exit status, in the cases that used to report points done
// that never ran: each case runs a one- or three-point scan in a fresh directory and must end
// with the status and the count line given; then a plain second call must finish every point.
TEST(Scan, CountsOnlyPointsThatRanAndWereAnalysed) {
  if (!have_parallel()) GTEST_SKIP() << "GNU parallel is not installed";
  struct scan_case {
    const char *what;
    std::string command;  // run in the case's directory; {scan} is the script, {dir} the directory
    int status;
    const char *line;     // a line the output must hold
    int done;             // points done after it (summary.json and "| TAVO end.")
  };
  const scan_case cases[] = {
      {"an empty TAVO_ANALYSE is refused", "TAVO_ANALYSE= {scan} base out chat=0.5", 1,
       "| TAVO_ANALYSE is empty", 0},
      {"a TAVO_ANALYSE of several words is one command line",
       "TAVO_ANALYSE=\"/bin/bash {dir}/analyse\" {scan} base out chat=0.5", 0, "| 1 of 1 points done", 1},
      {"a point whose directory a running program holds is not started",
       "mkdir -p out/chat_0.5 && (python3 -c \"import fcntl, os, time; f = os.open('out/chat_0.5/tavo.lock', "
       "os.O_RDWR | os.O_CREAT); fcntl.flock(f, fcntl.LOCK_EX); time.sleep(20)\" & h=$!; sleep 1; "
       "TAVO_ANALYSE={dir}/analyse {scan} base out chat=0.5; s=$?; kill $h; wait $h; exit $s)",
       1, "| 0 of 1 points done", 0},
      {"SIGTERM stops the scan and its points, which are not counted",
       "TAVO_ANALYSE={dir}/slow {scan} -j 1 base out iseed=1..3 & p=$!; sleep 2; kill -TERM $p; wait $p", 1,
       "| the scan was stopped by signal 15", -1},
  };
  for (const scan_case &c : cases) {
    const std::string dir = make_temp_dir();
    make_base(dir);
    write_text(dir + "/analyse", stand_in);
    write_text(dir + "/slow", std::string(stand_in) + "sleep 3\n");
    fs::permissions(dir + "/analyse", fs::perms::owner_all);
    fs::permissions(dir + "/slow", fs::perms::owner_all);
    std::string command = "(" + c.command + ")";
    // Each placeholder once, left to right: the paths put in may hold any text.
    for (const auto &[key, value] : {std::pair<std::string, std::string>{"{scan}", "'" + scan + "'"}, {"{dir}", dir}})
      for (size_t at = 0; (at = command.find(key, at)) != std::string::npos; at += value.size())
        command.replace(at, key.size(), value);
    std::string output;
    EXPECT_EQ(shell(dir, command, &output), c.status) << c.what << "\n" << output;
    EXPECT_NE(output.find(c.line), std::string::npos) << c.what << "\n" << output;
    int done = 0, points = 0;
    for (const auto &entry : fs::directory_iterator(dir + "/out")) {
      if (!entry.is_directory()) continue;
      points++;
      // Nothing the scan started runs on: no lock of the point is held once it has returned.
      for (const char *name : {"/tavo.lock", "/point.lock"}) {
        const int fd = open((entry.path().string() + name).c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0) continue;
        EXPECT_EQ(flock(fd, LOCK_EX | LOCK_NB), 0) << c.what << ": " << entry.path() << name << " still held";
        close(fd);
      }
      const std::string console = read_text(entry.path().string() + "/tavo.out");
      if (fs::exists(entry.path() / "summary.json") && console.find("| TAVO end.") != std::string::npos) done++;
    }
    if (c.done >= 0) EXPECT_EQ(done, c.done) << c.what << "\n" << output;
    else EXPECT_LT(done, points) << c.what << ": stopped before the last point\n" << output;
    if (c.done >= 0 || c.status != 0) {
      // The next call runs what is not done, and nothing that is.
      if (std::string(c.command).rfind("TAVO_ANALYSE= ", 0) == 0) continue;
      const std::string again = "TAVO_ANALYSE='" + dir + "/analyse' '" + scan + "' base out " +
                                (points == 3 ? "iseed=1..3" : "chat=0.5");
      EXPECT_EQ(shell(dir, again, &output), 0) << c.what << ", called again\n" << output;
      EXPECT_NE(output.find("| " + std::to_string(points) + " of " + std::to_string(points) + " points done"),
                std::string::npos)
          << c.what << ", called again\n" << output;
    }
    if (!testing::Test::HasFailure()) fs::remove_all(dir);
  }
}

TEST(Scan, RefusalsAreOneLineWithStatusOne) {
  const std::string dir = make_temp_dir();
  make_base(dir);
  std::string output;
  ASSERT_EQ(shell(dir, "'" + scan + "' --slurm base out chat=1,2", &output), 0) << output;
  struct refusal {
    std::string arguments, message;
  };
  const refusal cases[] = {
      {"base out2 tau=1", "| \"tau\" is not a value of tavo.inp"},
      {"base out2 chat=1,x", "| chat=1,x: \"x\" is not a number"},
      {"base out2 iseed=5..1", "| iseed=5..1: the range 5..1 is empty"},
      {"base out2 chat=1 chat=2", "| chat is scanned twice"},
      {"nowhere out2 chat=1", "| cannot read the base parameter file nowhere/tavo.inp"},
      {"--slurm base out iseed=1,3", "| " + dir + "/out holds another scan"},
      {"collect nowhere", "| " + dir + "/nowhere holds no scan record"},
      {"base out2", "| nothing to scan"},
  };
  for (const refusal &r : cases) {
    EXPECT_EQ(shell(dir, "'" + scan + "' " + r.arguments, &output), 1) << r.arguments << "\n" << output;
    EXPECT_EQ(output.find(r.message), 0u) << r.arguments << "\n" << output;
    EXPECT_EQ(std::count(output.begin(), output.end(), '\n'), 1) << r.arguments << "\n" << output;
  }
  fs::remove_all(dir);
}

}  // namespace
