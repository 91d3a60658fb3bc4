// The start-up checks on standard error in whole runs: every bundled example starts without a
// warning of its labels or of its time step, and a file with swapped nx and ny lines runs on with
// the warning, its console on standard output unchanged.
#include <gtest/gtest.h>

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
      EXPECT_EQ(label_warnings(read_text(inp)), "");
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

TEST(StartupChecks, SwappedGridLinesWarnAndRunOn) {
  values19 v = test_values();
  v[v_nx] = 8;  // nx 8, ny 16, labelled the other way round
  std::string text = parameter_file(v);
  text.replace(text.find("nx = "), 2, "ny");
  text.replace(text.find("ny = 16"), 2, "nx");
  const std::string plain = make_temp_dir(), swapped = make_temp_dir();
  std::string want, got;
  ASSERT_EQ(run_in(plain, v, &want), 0) << want;
  write_text(swapped + "/tavo.inp", text);
  ASSERT_EQ(run_tavo(swapped, &got), 0) << got;
  EXPECT_EQ(read_text(plain + "/eng.dat"), read_text(swapped + "/eng.dat")) << "the values are read by place";
  const std::string errors = read_text(swapped + "/stderr.txt");
  EXPECT_EQ(errors.find("| warning: \"tavo.inp\": value 10 is labelled \"ny\""), 0u) << errors;
  EXPECT_NE(errors.find("| warning: \"tavo.inp\": value 11 is labelled \"nx\""), std::string::npos) << errors;
  // The consoles agree up to the timing report.
  EXPECT_EQ(got.substr(0, got.find("| total times")), want.substr(0, want.find("| total times")));
  remove_test_dir(plain);
  remove_test_dir(swapped);
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
