// The diagnostics call: energies, flux and transfer rates of fields with known sums, the clamp of
// vanishing energies, which call writes which line of the time series, the growth rate, the phase
// speed of a single mode and the crash stop.
#include "diagnostics/diag_fixture.hpp"

namespace {

const double rel = 2e-6;  // values are printed with seven significant digits

// Mode fields with sums known in closed form; ne, ni, pi, hyve, hyvi along y with mode m, pe adds
// a radial profile D cos(phi) and hyve a radial part J cos(phi), phi = 2 pi q x / nx.
struct mode_state {
  int m = 1, q = 2;
  double A = 0.3, D = 0.2, B = 0.5, C = 0.4, P = 0.25, H = 0.6, J = 0.7, K = 0.9;
};

void set_mode_state(const mode_state &s) {
  for (int x = 0; x < nx; x++)
    for (int y = 0; y < ny; y++) {
      const double theta = 2 * M_PI * s.m * y / ny, phi = 2 * M_PI * s.q * x / nx;
      pe[x][y] = s.A * std::sin(theta) + s.D * std::cos(phi);
      ne[x][y] = s.B * std::cos(theta);
      ni[x][y] = s.C * std::cos(theta);
      pi[x][y] = s.P * std::sin(theta);
      hyve[x][y] = s.H * std::cos(theta) + s.J * std::cos(phi);
      hyvi[x][y] = s.K * std::sin(theta);
    }
}

class DiagnoseSums : public DiagTest, public testing::WithParamInterface<bool> {};

}  // namespace

// Every column of "eng.dat", "eng-transfer.dat" and "fne.dat" against its closed form, with the
// coupling on row deviations (b_mhw) or on the full difference.
TEST_P(DiagnoseSums, EnergiesFluxAndRatesOfModeFields) {
  const bool mhw = GetParam();
  values19 v = test_values();
  v[v_chat] = mhw ? 0.7 : -0.7;
  v[v_taui] = 1.5;
  v[v_delta] = 0.5;
  v[v_diff] = 0.3;
  v[v_ly] = 8.0;  // hy = 2
  start(v);
  const mode_state s;
  set_mode_state(s);
  diagnose(1.0, 0.0, 0, 10, state_output_fields());

  const double d = 2.0, h = 2.0;  // delinv, hy
  const double sb = std::sin(2 * M_PI * s.m / ny), sc = std::sin(2 * M_PI * s.q / nx);
  const double sc2 = std::sin(M_PI * s.q / nx);
  const double enn = d * 0.5 * (s.B * s.B / 2 + 1.5 * s.C * s.C / 2);
  const double ek = d * d * 0.5 * (h * h * s.A * s.A * sb * sb / 2 + h * h * s.D * s.D * sc * sc / 2);
  const double ez = d * d * h * h * s.D * s.D * sc2 * sc2;
  const double flux_mean = -s.B * h * s.A * sb / 2;
  const double drive = flux_mean - 1.5 * s.C * h * s.P * sb / 2;
  // the radial profile of pe enters the coupling only when the full difference is coupled
  const double coupling = -0.7 * (s.A * s.A + s.B * s.B + (mhw ? 0.0 : s.D * s.D)) / 2;
  // ... but always enters the dissipation, through the radial part of hyve
  const double dissipation = 0.3 * (-s.B * s.H / 2 + s.D * s.J / 2 - s.P * s.K / 2);

  auto eng = read_table("eng.dat");
  ASSERT_EQ(eng.size(), 1u);
  const double want_eng[6] = {1.0, enn, ek, ez, ek + enn, ez / ek};
  for (int c = 0; c < 6; c++) EXPECT_TRUE(close_to(eng[0][c], want_eng[c], rel)) << "eng.dat column " << c + 1;
  auto transfer = read_table("eng-transfer.dat");
  ASSERT_EQ(transfer.size(), 1u);
  const double want_transfer[5] = {1.0, drive, coupling, dissipation, drive + coupling + dissipation};
  for (int c = 0; c < 5; c++)
    EXPECT_TRUE(close_to(transfer[0][c], want_transfer[c], rel, 1e-15)) << "eng-transfer.dat column " << c + 1;
  auto fne = read_table("fne.dat");
  ASSERT_EQ(fne.size(), 1u);
  EXPECT_TRUE(close_to(fne[0][1], d * d * flux_mean, rel)) << "flux";
}

INSTANTIATE_TEST_SUITE_P(Coupling, DiagnoseSums, testing::Values(true, false),
                         [](const testing::TestParamInfo<bool> &p) { return p.param ? "RowDeviations" : "FullDifference"; });

// The lines of each call, in the exact printf formats, on a state whose sums are exact: ne = 1/2,
// ni = 0, pe = x (a ramp that wraps at the edge), delinv = 2, hy = 2, 16 by 16.
TEST_F(DiagTest, EachCallWritesItsLinesInTheirFormats) {
  values19 v = test_values();
  v[v_delta] = 0.5;
  v[v_ly] = 8.0;
  v[v_dt] = 0.01;
  start(v);
  ddtt = 0.5;
  for (int x = 0; x < nx; x++)
    for (int y = 0; y < ny; y++) {
      ne[x][y] = 0.5;
      pe[x][y] = x;
    }

  // the call before the loop: files created, only the empty line of "zfx.dat"
  testing::internal::CaptureStdout();
  diagnose(0.0, 0.0, 0, 100, state_output_fields());
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "|t=0.000 (1.000): enn=2.500e-01\n");
  for (const char *name : {"eng.dat", "eng-transfer.dat", "fne.dat", "gamma.dat"}) {
    EXPECT_TRUE(std::filesystem::exists(name)) << name;
    EXPECT_EQ(read_text(name), "") << name;
  }
  EXPECT_EQ(read_text("zfx.dat"), "\n");

  // three calls after intervals (iout 0, 1, 2) of a run that started at t0 = 0.5
  double times[3] = {1.0, 2.0, 3.0};
  for (int k = 0; k < 3; k++) {
    testing::internal::CaptureStdout();
    diagnose(times[k], 0.5, k, 100, state_output_fields());
    EXPECT_EQ(testing::internal::GetCapturedStdout(), format("|t=%.3f (1.500): enn=2.500e-01\n", times[k]));
  }
  // E_K = 4/2 mean((Dx pe)^2) = 2 (14*4 + 2*196)/16 = 56, E_Z = 2 (15*4 + 900)/16 = 120
  std::string eng, transfer, flux, zonal = "\n";
  for (double t : times) {
    eng += format("%.8f  %.6e  %.6e  %.6e  %.6e  %.6e\n", t, 0.25, 56.0, 120.0, 56.25, 120.0 / 56.0);
    transfer += format("%.8f  %.6e  %.6e  %.6e  %.6e\n", t, 0.0, 0.0, 0.0, 0.0);
    flux += format("%.8f  %.6e\n", t, 0.0);
    // vz = y-average of Dx pe: 2 inside, (1 - 15) at both edges
    for (int x = 0; x < nx; x++) zonal += format("%.3f  %d  %.6e \n", t, x, x == 0 || x == nx - 1 ? -14.0 : 2.0);
    zonal += "\n";
  }
  EXPECT_EQ(read_text("eng.dat"), eng);
  EXPECT_EQ(read_text("eng-transfer.dat"), transfer);
  EXPECT_EQ(read_text("fne.dat"), flux);
  EXPECT_EQ(read_text("zfx.dat"), zonal);
  // only the call with iout = 2 writes "gamma.dat"; W did not change, incon is not 5
  EXPECT_EQ(read_text("gamma.dat"), "3.000  0.000000e+00  0.000000e+00\n");
}

// A constant potential has no gradients: E_K and E_Z are clamped to delinv^2 1e-12 and their
// ratio is exactly 1.
TEST_F(DiagTest, ConstantPotentialGivesClampedEnergies) {
  values19 v = test_values();
  v[v_delta] = 0.5;
  start(v);
  for (int x = 0; x < nx; x++)
    for (int y = 0; y < ny; y++) {
      ne[x][y] = 0.5;
      pe[x][y] = 0.7;
    }
  diagnose(1.0, 0.0, 0, 10, state_output_fields());
  EXPECT_EQ(read_text("eng.dat"),
            format("%.8f  %.6e  %.6e  %.6e  %.6e  %.6e\n", 1.0, 0.25, 4e-12, 4e-12, 0.25 + 4e-12, 1.0));
}

// gamma = (sqrt(W) - sqrt(W_before)) / (sqrt(W_before) ddtt): 1/ddtt when W grows fourfold, 0 when
// it stays; a previous W of exactly 1e-12 (clamped) is replaced by the current one.
TEST_F(DiagTest, GrowthRateOfTheVorticityEnergy) {
  start(test_values());
  ddtt = 0.25;
  for (int x = 0; x < nx; x++)
    for (int y = 0; y < ny; y++) {
      ne[x][y] = 0.5;
      pe[x][y] = 0.1 * std::sin(2 * M_PI * (x + 2.0 * y) / 16);
    }
  diagnose(0.0, 0.0, 0, 10, state_output_fields());
  diagnose(1.0, 0.0, 0, 10, state_output_fields());
  diagnose(2.0, 0.0, 1, 10, state_output_fields());
  for (int x = 0; x < nx; x++)
    for (int y = 0; y < ny; y++) pe[x][y] *= 2.0;  // W grows by 4
  diagnose(3.0, 0.0, 2, 10, state_output_fields());
  diagnose(4.0, 0.0, 3, 10, state_output_fields());
  auto gamma = read_table("gamma.dat");
  ASSERT_EQ(gamma.size(), 2u);
  EXPECT_TRUE(close_to(gamma[0][0], 3.0, 0.0));
  EXPECT_TRUE(close_to(gamma[0][1], 0.0, 0.0)) << "phase speed outside a single-mode run";
  EXPECT_TRUE(close_to(gamma[0][2], 1.0 / 0.25, rel)) << "fourfold W";
  EXPECT_TRUE(close_to(gamma[1][2], 0.0, 0.0, 1e-9)) << "constant W";

  // a constant potential (W clamped to exactly 1e-12 with delinv = 1) followed by a mode: the
  // clamped value is replaced by the mode's W, so gamma is 0 instead of huge
  for (int x = 0; x < nx; x++)
    for (int y = 0; y < ny; y++) pe[x][y] = 0.3;
  diagnose(5.0, 0.0, 4, 10, state_output_fields());
  EXPECT_EQ(enwo, 1e-12);
  for (int x = 0; x < nx; x++)
    for (int y = 0; y < ny; y++) pe[x][y] = 0.1 * std::sin(2 * M_PI * y / 16);
  diagnose(6.0, 0.0, 5, 10, state_output_fields());
  gamma = read_table("gamma.dat");
  ASSERT_EQ(gamma.size(), 4u);
  EXPECT_TRUE(close_to(gamma[3][2], 0.0, 0.0)) << "after a clamped W";
}

// The phase speed of a single ky mode: the drift of the first sign change along the row nxh,
// counted only towards smaller y and from the call with iout = 2 on, averaged over the calls.
TEST_F(DiagTest, PhaseSpeedOfASingleMode) {
  values19 v = test_values();
  v[v_incon] = 5;
  v[v_sigma] = 2.0;
  v[v_ly] = 8.0;  // hy = 2
  start(v);
  ddtt = 0.25;
  // row nxh positive (the first point a negative zero, which counts as positive) below j0
  auto set_crossing = [](int j0) {
    for (int x = 0; x < nx; x++)
      for (int y = 0; y < ny; y++) {
        ne[x][y] = 0.5;
        pe[x][y] = x == nxh ? (y == 0 ? -0.0 : (y < j0 ? 0.1 : -0.1)) : 0.05;
      }
  };
  set_crossing(5);
  diagnose(0.0, 0.0, 0, 10, state_output_fields());
  diagnose(1.0, 0.0, 0, 10, state_output_fields());
  diagnose(2.0, 0.0, 1, 10, state_output_fields());
  EXPECT_EQ(jnull_old, 5);
  EXPECT_EQ(vde_avg, -1e-9);
  set_crossing(3);  // moved by -2 points = -1 length unit in ddtt: v = -4
  diagnose(3.0, 0.0, 2, 10, state_output_fields());
  const double after_two = (2 * -1e-9 + -4.0) / 3;
  set_crossing(7);  // moved towards larger y: counts as -1e-9
  diagnose(4.0, 0.0, 3, 10, state_output_fields());
  const double after_three = (3 * after_two + -1e-9) / 4;
  auto gamma = read_table("gamma.dat");
  ASSERT_EQ(gamma.size(), 2u);
  EXPECT_TRUE(close_to(gamma[0][1], std::fabs(after_two * 2.0), rel));
  EXPECT_TRUE(close_to(gamma[1][1], std::fabs(after_three * 2.0), rel));
  EXPECT_EQ(jnull_old, 7);
}

namespace {

class CrashStop : public DiagTest, public testing::WithParamInterface<double> {};

}  // namespace

// A vanishing or undefined density energy stops the run with status 1 and the two crash lines,
// before any file of the call is opened.
TEST_P(CrashStop, StopsBeforeAnyFileIsTouched) {
  values19 v = test_values();
  v[v_dt] = 0.01;
  start(v);
  const double density = GetParam();
  ne[3][4] = density;
  write_text("eng.dat", "earlier line\n");
  const auto before = directory_content(dir);
  eno = 0.125;
  share_directory_with_child();
  const std::string energy = std::isnan(density) ? "-?nan" : "0\\.000e\\+00";
  EXPECT_EXIT(
      {
        enter_parent_directory();
        diagnose(1.0, 0.5, 3, 100, state_output_fields());
      },
      testing::ExitedWithCode(1),
      "\n\\|t=1\\.000 \\(1\\.50\\): enn=" + energy + "\n\\|TAVO CRASHED!  enn=" + energy + ",   eno=1\\.250e-01\n");
  EXPECT_TRUE(directory_content(dir) == before) << "the crashing call changed the directory";
}

INSTANTIATE_TEST_SUITE_P(Energy, CrashStop, testing::Values(0.0, std::nan("")),
                         [](const testing::TestParamInfo<double> &p) { return std::isnan(p.param) ? "NaN" : "Zero"; });

// A grid of one point: every neighbour is the point itself, so all differences vanish.
TEST_F(DiagTest, SinglePointGrid) {
  values19 v = test_values();
  v[v_nx] = 1;
  v[v_ny] = 1;
  start(v);
  ne[0][0] = 0.5;
  pe[0][0] = 0.25;
  diagnose(1.0, 0.0, 0, 10, state_output_fields());
  EXPECT_EQ(read_text("eng.dat"),
            format("%.8f  %.6e  %.6e  %.6e  %.6e  %.6e\n", 1.0, 0.125, 1e-12, 1e-12, 0.125 + 1e-12, 1.0));
  EXPECT_EQ(read_text("zfx.dat"), "1.000  0  0.000000e+00 \n\n");
  EXPECT_EQ(read_text("p2d.dat"), "0  0  2.500000e-01\n\n");
  EXPECT_EQ(lines_of(read_text("cutx.dat")).size(), 1u);
  EXPECT_EQ(read_text("pky_p.dat"), "");
  EXPECT_EQ(read_text("pkx_p.dat"), "");
}
