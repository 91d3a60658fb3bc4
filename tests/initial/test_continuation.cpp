// A run continued from its own restart file: its intervals end at the start time plus multiples
// of itstp*dt, it appends to the time series, and it reproduces the energies of an uninterrupted
// run over the same span to within the seven-digit rounding of the restart file.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "support/dirs.hpp"
#include "support/run_setup.hpp"

namespace {

// A small turbulent blob: warm ions, hyper-dissipation; one thread, so that equal runs agree to
// the last bit.
values19 blob_values(int itmax) {
  values19 v = test_values();
  v[v_chat] = 0.5;
  v[v_diff] = 0.002;
  v[v_incon] = 0;
  v[v_sigma] = 1.5;
  v[v_amp] = 0.3;
  v[v_ly] = 12;
  v[v_dt] = 0.02;
  v[v_itstp] = 10;
  v[v_itmax] = itmax;
  v[v_ihype] = 2;
  return v;
}

// Run tavo in dir with the parameters v; returns its console output.
std::string run_with(const std::string &dir, const values19 &v, int expected_status) {
  std::string console;
  EXPECT_EQ(run_in(dir, v, &console), expected_status) << console;
  return console;
}

TEST(Continuation, ReproducesAnUninterruptedRun) {
  // Uninterrupted: 200 steps. Interrupted: 100 steps, then 100 more from "restart.dat".
  const std::string whole = make_temp_dir(), parts = make_temp_dir();
  run_with(whole, blob_values(200), 0);
  run_with(parts, blob_values(100), 0);
  EXPECT_EQ(read_text(parts + "/restart.dat").substr(0, 15), "2.000000e+00  \n");
  values19 more = blob_values(100);
  more[v_incon] = 2;
  const std::string console = run_with(parts, more, 0);
  EXPECT_NE(console.find("| initialisation ... | continued data set... \n| start time stepping ...\n"), std::string::npos)
      << console;
  EXPECT_EQ(console.find("holds"), std::string::npos) << "the file covers the grid";
  EXPECT_EQ(read_text(parts + "/restart.dat").substr(0, 15), "4.000000e+00  \n") << "start time + 10 * 10 * 0.02";

  // eng.dat: the continued run appends ten lines at t = 2 + k * 0.2 to the first run's ten.
  const auto want = rows_of(read_text(whole + "/eng.dat"));
  const auto got = rows_of(read_text(parts + "/eng.dat"));
  ASSERT_EQ(want.size(), 20u);
  ASSERT_EQ(got.size(), 20u);
  double worst = 0;
  for (size_t k = 0; k < 20; k++) {
    ASSERT_EQ(got[k].size(), 6u) << "line " << k + 1;
    EXPECT_NEAR(got[k][0], 0.2 * (k + 1), 1e-8) << "time of line " << k + 1;
    for (int c = 1; c < 6; c++) {
      const double d = std::fabs(got[k][c] - want[k][c]) / std::fabs(want[k][c]);
      if (k < 10) EXPECT_EQ(got[k][c], want[k][c]) << "line " << k + 1 << " column " << c + 1 << " before the restart";
      else if (!std::isnan(worst) && (std::isnan(d) || d > worst)) worst = d;
    }
  }
  // The restart keeps seven digits (relative rounding up to 5e-7 per value); a hundred steps of
  // this flow must not amplify that beyond a few units of the seventh digit that eng.dat prints.
  // Measured: 6.7e-7, one unit of the last printed digit.
  EXPECT_LE(worst, 3e-6) << "largest relative difference of the energies after the restart";
  printf("| largest relative energy difference after 100 continued steps: %.2e\n", worst);

  // zfx.dat: one leading empty line and 10 blocks per run, each block 16 lines and an empty line.
  const std::string zfx = read_text(parts + "/zfx.dat");
  EXPECT_EQ(std::count(zfx.begin(), zfx.end(), '\n'), 2 * (1 + 10 * 17));

  // Fewer steps than one interval: no step, and the restart file holds the start time.
  values19 none = more;
  none[v_itmax] = 5;
  run_with(parts, none, 0);
  EXPECT_EQ(read_text(parts + "/restart.dat").substr(0, 15), "4.000000e+00  \n");
  EXPECT_EQ(rows_of(read_text(parts + "/eng.dat")).size(), 20u);

  // A fresh run stopped by the crash check (zero fields) writes no restart file; the earlier one
  // is kept aside, whole.
  const std::string kept = read_text(parts + "/restart.dat");
  values19 empty = blob_values(100);
  empty[v_incon] = 6;
  run_with(parts, empty, 1);
  EXPECT_FALSE(std::filesystem::exists(parts + "/restart.dat"));
  EXPECT_EQ(read_text(parts + "/restart.dat.old"), kept);

  std::filesystem::remove_all(whole);
  std::filesystem::remove_all(parts);
}

}  // namespace

namespace {

// A continued run with no complete interval (itmax below itstp) ends with the files of its start
// output: their gni column is the gyro-average of the restored ion density, as at every output,
// not that of a zero field. "cutx.dat" holds x, ne, ni, pe, the vorticity and gni at y = ny/2.
TEST(Continuation, StartOutputOfAContinuedRunHoldsTheGyroAveragedDensity) {
  const std::string dir = make_temp_dir();
  run_with(dir, blob_values(20), 0);
  values19 v = blob_values(5);  // itstp 10: no interval, only the start output
  v[v_incon] = 2;
  run_with(dir, v, 0);
  const std::vector<std::vector<double>> rows = rows_of(read_text(dir + "/cutx.dat"));
  ASSERT_EQ(rows.size(), 16u);
  double ni_size = 0.0, worst = 0.0;
  for (const std::vector<double> &row : rows) {
    ASSERT_EQ(row.size(), 6u);
    ni_size = std::max(ni_size, std::fabs(row[2]));
    // Gamma damps each mode a little on this smooth blob: gni stays close to ni, never zero.
    worst = std::max(worst, std::fabs(row[5] - row[2]));
  }
  EXPECT_GT(ni_size, 1e-3);
  EXPECT_LT(worst, 0.5 * ni_size) << "gni at t0 of a continued run is not the gyro-average of ni";
  remove_test_dir(dir);
}

// A single ky mode with adaptive steps of at most dt: from t = 0 to 1 with dt 2h, continued from
// "restart.nc" to t = 2 with dt h. The continuation goes on from the history of steps 2h with the
// weights of unequal steps, so the error against the exact linear solution (exp(2M) of the
// mode's 2 x 2 matrix, see tests/scheme/test_linear_growth.cpp) falls eightfold with h; a history
// taken as one of steps h would leave an error of first order.
TEST(Continuation, WithAnotherDtStaysThirdOrder) {
  auto error_at = [](double h) {
    values19 v = test_values();
    v[v_chat] = 1.0;
    v[v_incon] = 5;  // ne = amp sin(sigma y), ni = 0, the brackets off
    v[v_sigma] = 0.5;
    v[v_amp] = 0.01;
    v[v_ly] = 8 * M_PI;
    v[v_nx] = 4;
    v[v_ny] = 32;
    v[v_dt] = 2 * h;
    v[v_itstp] = std::round(0.5 / (2 * h));
    v[v_itmax] = 2 * static_cast<int>(v[v_itstp]);
    const std::string dir = make_temp_dir();
    write_text(dir + "/tavo.inp", parameter_file(v, 1, 0, 0.5));
    std::string console;
    EXPECT_EQ(run_tavo(dir, &console), 0) << console;
    v[v_incon] = 2;
    v[v_dt] = h;
    v[v_itstp] = 2 * v[v_itstp];
    v[v_itmax] = 2 * v[v_itmax];
    write_text(dir + "/tavo.inp", parameter_file(v, 1, 0, 0.5));
    EXPECT_EQ(run_tavo(dir, &console), 0) << console;
    const std::vector<double> ne = netcdf_variable(dir + "/restart.nc", "ne");
    // The exact solution: M of the mode ky = 0.5 (kx = 0), warm ions, Pade form.
    typedef std::complex<double> complex;
    const double hy = 32 / (8 * M_PI), ky = 0.5, k2 = ky * ky, b = k2, g = 1 / (1 + 0.5 * b), p = k2 / (1 + b);
    const double kd = hy * std::sin(ky / hy), c = 1.0;
    const complex i(0, 1);
    const complex m[2][2] = {{-c * (1 + 1 / p) + i * kd / p, c * g / p - i * kd * g / p},
                             {i * kd * g / p, -i * kd * g * g / p}};
    const complex half = 0.5 * (m[0][0] + m[1][1]), root = std::sqrt(0.25 * (m[0][0] - m[1][1]) * (m[0][0] - m[1][1]) + m[0][1] * m[1][0]);
    const complex l1 = half + root, l2 = half - root, e1 = std::exp(2.0 * l1), e2 = std::exp(2.0 * l2);
    const complex start = complex(0, -0.01);  // amp sin(ky y) = Re(-i amp exp(i ky y)); ni = 0
    const complex end = (e1 * (m[0][0] - l2) - e2 * (m[0][0] - l1)) / (l1 - l2) * start;
    double largest = 0.0;
    for (int x = 0; x < 4; x++)
      for (int y = 0; y < 32; y++) {
        const double want = (end * std::polar(1.0, ky * y / hy)).real();
        largest = std::max(largest, std::fabs(ne.at(size_t(x) * 32 + size_t(y)) - want));
      }
    if (!testing::Test::HasFailure()) remove_test_dir(dir);
    return largest;
  };
  // (From h = 0.00625 on the coupling's fast decay, rate 7, is resolved: the ratios are 7.7 and 7.8.)
  const double errors[3] = {error_at(0.00625), error_at(0.003125), error_at(0.0015625)};
  for (int k = 1; k < 3; k++)
    EXPECT_NEAR(errors[k - 1] / errors[k], 8.0, 1.0) << "errors " << errors[k - 1] << " at h = " << 0.0125 / (2 << k)
                                                     << " and " << errors[k] << ": expected third order";
}

}  // namespace
