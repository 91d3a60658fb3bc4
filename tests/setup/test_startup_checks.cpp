// The start-up checks in whole runs: every bundled example starts without a warning of its time
// step and with labels in their places, and a file whose values a comment holding '=' shifted is
// refused by the run and by --check before any file is touched.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cmath>
#include <filesystem>
#include <string>

#include "setup/setup.hpp"
#include "support/dirs.hpp"
#include "support/run_setup.hpp"

namespace {

// text with the token after the n-th marker (value n, from 1) replaced by value.
std::string with_value(const std::string &text, int n, const std::string &value) {
  size_t at = 0;
  int markers = 0;
  while (at < text.size()) {
    const size_t start = text.find_first_not_of(" \t\r\n", at);
    if (start == std::string::npos) break;
    at = text.find_first_of(" \t\r\n", start);
    if (at == std::string::npos) at = text.size();
    if (text.substr(start, at - start).find('=') == std::string::npos || ++markers < n) continue;
    const size_t from = text.find_first_not_of(" \t\r\n", at);
    const size_t to = text.find_first_of(" \t\r\n", from);
    return text.substr(0, from) + value + (to == std::string::npos ? "" : text.substr(to));
  }
  ADD_FAILURE() << "no value " << n;
  return text;
}

TEST(StartupChecks, EveryExampleStartsWithoutWarnings) {
  int examples = 0;
  for (const auto &entry : std::filesystem::directory_iterator(std::string(TAVO_SOURCE_DIR) + "/examples")) {
    const std::string inp = entry.path().string() + "/tavo.inp";
    if (!std::filesystem::exists(inp)) continue;
    examples++;
    // Set up and stop (itmax 0) with estimated plans: the checks run on the example's initial state.
    // The continuation example starts from a restart file; its own file is checked, not run.
    if (entry.path().filename() == "continuation") {
      EXPECT_EQ(label_problem(read_text(inp)), nullptr);
      continue;
    }
    const std::string text = with_value(with_value(read_text(inp), 14, "0"), 18, "0");
    const std::string dir = make_temp_dir();
    write_text(dir + "/tavo.inp", text);
    std::string output;
    EXPECT_EQ(run_tavo(dir, &output), 0) << entry.path() << "\n" << output;
    EXPECT_EQ(read_text(dir + "/stderr.txt"), "") << entry.path();
    remove_test_dir(dir);
  }
  EXPECT_GE(examples, 8);
}

// A comment holding '=' shifts the later values: the run and --check refuse the file with the line
// that names the first shifted value and the word that moved it, before any file is touched.
TEST(StartupChecks, AShiftedFileIsRefusedByTheRunAndByCheck) {
  std::string text = parameter_file(test_values());
  text.replace(text.find("itmax = 1\n"), 10, "itmax = 1   t = 400\n");
  const std::string dir = make_temp_dir();
  write_text(dir + "/tavo.inp", text);
  write_text(dir + "/eng.dat", "1.0 2.0 3.0 4.0 5.0 6.0\n");
  const std::string refusal = "| \"tavo.inp\" is misread: the value labelled \"ntrace\" is read as value 16 (ipade), "
                              "not 15 (ntrace), moved 1 place by the word \"t =\" on line 14";
  for (const std::string &command : {std::string(""), std::string(" --check")}) {
    const std::string console = dir + "/../console.txt";
    const int status = system(("cd '" + dir + "' && '" + TAVO_EXE + "'" + command + " > '" + console + "' 2>&1").c_str());
    EXPECT_EQ(WEXITSTATUS(status), 1) << command;
    const std::string said = read_text(console);
    EXPECT_NE(said.find(refusal), std::string::npos) << command << ": " << said;
    EXPECT_EQ(said.find("warning"), std::string::npos) << command << ": " << said;
    remove(console.c_str());
  }
  EXPECT_EQ(read_text(dir + "/eng.dat"), "1.0 2.0 3.0 4.0 5.0 6.0\n");
  EXPECT_EQ(entries(dir).size(), 2u) << "no file made";
  remove_test_dir(dir);
}

// The dissipation is taken at the newest level only, so its limit is dt |diff D(k)| = 4.5, not the
// coupling's 0.95: a bath with k^8 dissipation at 0.95 of it runs 4000 steps without a warning, at
// 1.3 of it the run warns, blows up and names the dissipation as the cause.
TEST(StartupChecks, DissipationLimitHoldsInARun) {
  for (double share : {0.95, 1.3}) {
    values19 v = test_values();
    v[v_chat] = -1, v[v_taui] = 0, v[v_incon] = 1, v[v_ihype] = 4, v[v_diff] = 3.4e-11;
    v[v_ly] = 16 / 12.22;  // the grid spacing of 512 points on 2 pi/0.15
    const double corner = 2 * std::pow(M_PI * 12.22, 2);
    v[v_dt] = share * 4.5 / (3.4e-11 * std::pow(corner, 4));
    v[v_itstp] = 500, v[v_itmax] = 4000;
    const std::string dir = make_temp_dir();
    std::string output;
    const int status = run_in(dir, v, &output);
    const std::string errors = read_text(dir + "/stderr.txt");
    if (share < 1) {
      EXPECT_EQ(status, 0) << output;
      EXPECT_EQ(errors.find("| warning"), std::string::npos) << errors;
    } else {
      EXPECT_EQ(status, 1) << output;
      EXPECT_EQ(errors.find("| warning: dt = "), 0u) << errors;
      EXPECT_NE(errors.find("\n| likely cause: the dissipation diff k^8,"), std::string::npos) << errors;
    }
    remove_test_dir(dir);
  }
}

}  // namespace
