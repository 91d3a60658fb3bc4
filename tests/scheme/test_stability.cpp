// The rates that limit the time step against closed forms (the coupling C (1 + (1 + k^2 taui)/k^2)
// of the Pade model at the smallest coupled wavenumber, the spectral factor (k^2)^p at the grid's
// corner, the fourth-order Laplacian's eigenvalue on the checkerboard mode, the E x B rate of a
// sine), the start-up warnings with their stable dt or diff (which, set, silence the warning) and
// the cause named after a crash.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <string>

#include "common/state.hpp"
#include "driver/driver.hpp"
#include "operators/operators.hpp"
#include "scheme/scheme.hpp"
#include "setup/setup.hpp"
#include "support/fields.hpp"
#include "support/run_setup.hpp"

namespace {

array2d board, image, twice;  // the checkerboard mode and its Laplacians
[[maybe_unused]] const bool registered = register_test_fields({&board, &image, &twice});

// Run constants, fields and coefficient tables of v, no transforms.
void constants_of(const values19 &v) {
  set_run_constants(v.data());
  allocate_grid();
  allocate_test_fields();
  build_tables();
}

// The number after `key` in text (NaN when key is missing).
double number_after(const std::string &text, const std::string &key) {
  const size_t at = text.find(key);
  return at == std::string::npos ? NAN : strtod(text.c_str() + at + key.size(), nullptr);
}

// The step's stability region from the roots of its characteristic polynomial: alone, each term
// has its limit on its axis (coupling -40/42, drift 0.634, dissipation at level 0 -4.5); together
// the limit lies below the smallest of the single ones, and a rate of zero changes nothing.
TEST(Stability, CombinedLimitIsTheStabilityRegionOfTheStep) {
  struct region_case {
    double coupling, advection, dissipation, limit;  // limit < 0: below every single limit
  };
  const region_case cases[] = {{1, 0, 0, 40.0 / 42.0}, {0, 1, 0, 0.634}, {0, 0, 1, 4.5}, {2, 0, 0, 20.0 / 42.0},
                               {1, 1, 0, -1},          {1, 0, 1, -1},    {0, 1, 1, -1},   {1, 1, 1, -1}};
  for (const region_case &c : cases) {
    const double limit = combined_limit(c.coupling, c.advection, c.dissipation);
    if (c.limit > 0) {
      EXPECT_NEAR(limit, c.limit, 1e-3 * c.limit) << c.coupling << " " << c.advection << " " << c.dissipation;
      continue;
    }
    double single = INFINITY;
    if (c.coupling > 0) single = std::fmin(single, 40.0 / 42.0 / c.coupling);
    if (c.advection > 0) single = std::fmin(single, 0.634 / c.advection);
    if (c.dissipation > 0) single = std::fmin(single, 4.5 / c.dissipation);
    EXPECT_LT(limit, 0.99 * single) << c.coupling << " " << c.advection << " " << c.dissipation;
    EXPECT_GT(limit, 0.0);
  }
  EXPECT_EQ(combined_limit(0, 0, 0), INFINITY);
  EXPECT_EQ(combined_limit(NAN, 1, 0), 0.0);
}

TEST(Stability, CouplingRateAtTheSmallestCoupledWavenumber) {
  struct coupling_case {
    double chat, taui;
    int nx, ny;
    double box;  // the longer coupled side
  };
  // ly = 40: with nx = 2 ny the box is 80 along x, coupled only in the ordinary model.
  const coupling_case cases[] = {{-1.0, 0.0, 32, 16, 80}, {1.0, 0.0, 32, 16, 40}, {-0.5, 1.0, 16, 32, 40},
                                 {2.0, 1.0, 16, 16, 40}};
  for (const coupling_case &c : cases) {
    values19 v = test_values();
    v[v_chat] = c.chat, v[v_taui] = c.taui, v[v_nx] = c.nx, v[v_ny] = c.ny, v[v_ly] = 40;
    constants_of(v);
    double k;
    const double rate = coupling_rate(&k);
    const double want_k = 2 * M_PI / c.box;
    // Cold ions: the tables keep a gyro-radius of 1e-6 so that P stays invertible.
    const double tau = c.taui == 0 ? 1e-6 : c.taui;
    const double want = std::fabs(c.chat) * (1 + (1 + want_k * want_k * tau) / (want_k * want_k));
    EXPECT_NEAR(k, want_k, 1e-12) << "chat " << c.chat << ", grid " << c.nx << " x " << c.ny;
    EXPECT_NEAR(rate, want, 1e-10 * want) << "chat " << c.chat << ", grid " << c.nx << " x " << c.ny;
  }
  values19 v = test_values();
  v[v_ny] = 1;  // the modified model on a single column: every mode is zonal
  constants_of(v);
  double k;
  EXPECT_EQ(coupling_rate(&k), 0.0);
}

TEST(Stability, DissipationRateAtTheGridCorner) {
  values19 v = test_values();  // 16 x 16 on 2 pi: the corner is kx = ky = 8, k^2 = 128
  v[v_diff] = 1e-3;
  struct spectral_case {
    int ihype;
    double factor;
  };
  for (const spectral_case &c : {spectral_case{1, 128.0}, spectral_case{2, 128.0 * 128}, spectral_case{4, std::pow(128.0, 4)},
                                 spectral_case{8, std::pow(128.0, 6)}, spectral_case{3, 0.0}, spectral_case{-2, 0.0}}) {
    v[v_ihype] = c.ihype;
    constants_of(v);
    double k;
    EXPECT_NEAR(dissipation_rate(&k), 1e-3 * c.factor, 1e-12 * c.factor) << "ihype " << c.ihype;
    EXPECT_NEAR(k, std::sqrt(128.0), 1e-12);
  }

  // The finite-difference Laplacian: its eigenvalue on the checkerboard, the corner mode.
  v[v_diff] = -0.01;
  for (int ihype : {-1, 0}) {
    v[v_ihype] = ihype;
    constants_of(v);
    for (int x = 0; x < 16; x++)
      for (int y = 0; y < 16; y++) board[x][y] = (x + y) % 2 ? -1.0 : 1.0;
    laplace(image, board);
    laplace(twice, image);
    double k;
    const double eigen = (ihype == -1 ? image[3][5] : twice[3][5]) / board[3][5];
    EXPECT_NEAR(dissipation_rate(&k), 0.01 * std::fabs(eigen), 1e-10 * std::fabs(eigen)) << "ihype " << ihype;
  }
}

// A user's case: 512^2 on 2 pi/0.15 with k^8 dissipation 3.4e-11 and dt 0.005 is
// unstable on the corner modes; the dt and diff the warning calls stable silence it.
TEST(Stability, WarningNamesTheTermAndAStableValue) {
  values19 v = test_values();
  v[v_chat] = -1, v[v_taui] = 0, v[v_ly] = 2 * M_PI / 0.15, v[v_nx] = v[v_ny] = 512, v[v_dt] = 0.005;
  v[v_ihype] = 4, v[v_diff] = 3.4e-11;
  constants_of(v);
  const std::string text = stability_warnings(0.0);
  ASSERT_EQ(text.find("| warning: dt = 0.005 is too large for the dissipation diff k^8"), 0u) << text;
  EXPECT_EQ(text.find('\n'), text.size() - 1) << "one line:\n" << text;
  const double stable_dt = number_after(text, "dt below "), stable_diff = number_after(text, "|diff| below ");
  EXPECT_LT(stable_dt, 0.005);
  v[v_dt] = stable_dt;
  constants_of(v);
  EXPECT_EQ(stability_warnings(0.0), "") << "dt " << stable_dt;
  v[v_dt] = 0.005, v[v_diff] = stable_diff;
  constants_of(v);
  EXPECT_EQ(stability_warnings(0.0), "") << "diff " << stable_diff;
  v[v_ihype] = 2, v[v_diff] = 5e-6;  // the benchmark's k^4 dissipation
  constants_of(v);
  EXPECT_EQ(stability_warnings(0.0), "");

  v[v_chat] = -5, v[v_dt] = 0.02;  // coupling 5 (1 + 1/0.15^2) = 227
  constants_of(v);
  const std::string coupling = stability_warnings(0.0);
  EXPECT_EQ(coupling.find("| warning: dt = 0.02 is too large for the parallel coupling"), 0u) << coupling;
  EXPECT_NEAR(number_after(coupling, "dt below "), 0.00419, 1e-5) << coupling;
}

// A sine of amplitude A along y: the largest centred difference is A hy sin(2 pi/ny), so the rate
// is A hy^2 sin(2 pi/ny)/delta.
TEST(Stability, ExbRateOfASine) {
  values19 v = test_values();
  v[v_delta] = 0.5, v[v_dt] = 0.1;
  constants_of(v);
  array2d phi = image;  // a sine potential, in the storage of image
  for (int x = 0; x < 16; x++)
    for (int y = 0; y < 16; y++) phi[x][y] = 3.0 * std::sin(2 * M_PI * y / 16);
  const double want = 2 * 3.0 * hy * hy * std::sin(2 * M_PI / 16);
  EXPECT_NEAR(exb_rate(phi), want, 1e-12 * want);
  const std::string text = stability_warnings(exb_rate(phi));  // dt 0.1: 0.1 * 14.9 = 1.49
  EXPECT_EQ(text.find("| warning: dt = 0.1 is too large for the ExB drift"), 0u) << text;
  EXPECT_NEAR(number_after(text, "dt below "), advection_limit / want, 0.01 * advection_limit / want) << text;
}

TEST(Stability, CrashCauseFromTheRatesAtTheLastGoodOutput) {
  values19 v = test_values();
  v[v_chat] = 2, v[v_dt] = 0.5;  // coupling 2 (1 + 2/1) = 6 at k = 1: dt rate 3
  constants_of(v);
  std::string line = crash_cause(NAN, 0.1, 7.5);
  EXPECT_EQ(line.find("| likely cause: the parallel coupling"), 0u) << line;
  EXPECT_NE(line.find("t = 7.5"), std::string::npos) << line;
  EXPECT_NEAR(number_after(line, "dt below "), 0.158, 1e-3) << line;

  v[v_dt] = 0.01;
  constants_of(v);
  line = crash_cause(INFINITY, 100.0, 1);  // the drift: 0.01 * 100 of 0.634
  EXPECT_EQ(line.find("| likely cause: the ExB drift"), 0u) << line;
  EXPECT_NE(line.find("cfl = 0.5 (value 23)"), std::string::npos) << "the drift suggests adaptive steps: " << line;
  v[v_dt] = 0.5;
  constants_of(v);
  line = crash_cause(NAN, 1e6, 1);  // the coupling beyond its limit comes before the drift it drove
  EXPECT_EQ(line.find("| likely cause: the parallel coupling"), 0u) << line;
  v[v_dt] = 0.01;
  constants_of(v);
  line = crash_cause(NAN, 1.0, 1);
  EXPECT_EQ(line.find("| likely cause: a fast growth of the state itself"), 0u) << line;
  line = crash_cause(1e-20, 1.0, 1);
  EXPECT_EQ(line.find("| likely cause: the fields decayed to zero"), 0u) << line;
  EXPECT_EQ(line.back(), '\n');
}

// With adaptive steps no term's dt is too large: the controller sets it. The start-up speaks only
// of a cfl above the largest run on developed turbulence, a crash of the cfl it ran at.
TEST(Stability, AdaptiveStepsSpeakOfCfl) {
  values19 v = test_values();
  v[v_chat] = 2, v[v_dt] = 0.5;  // far beyond the explicit coupling's limit
  constants_of(v);
  cfl = 0.8;
  EXPECT_EQ(stability_warnings(1e6), "");
  cfl = 0.9;
  std::string text = stability_warnings(1e6);
  EXPECT_EQ(text.find("| warning: cfl = 0.9 "), 0u) << text;
  EXPECT_EQ(text.find("dt = "), std::string::npos) << text;
  const std::string line = crash_cause(NAN, 100.0, 7.5);
  EXPECT_EQ(line.find("| likely cause: the steps too close to the largest stable one (cfl = 0.9"), 0u) << line;
  EXPECT_NE(line.find("try cfl = 0.5"), std::string::npos) << line;
  cfl = 0.0;
}

}  // namespace
