// Wavenumber spectra against closed forms: a cosine along y gives |Re X_k0| = ny/2 per row, a
// field that does not depend on y gives nothing at k >= 1; line counts, the wavenumber column and
// the running means of a continued run.
#include "diagnostics/diag_fixture.hpp"

namespace {

const double rel = 2e-6;      // seven printed digits
const double floor_ = 1e-12;  // round-off of the transforms at k where the spectrum is zero

// pi = ne = pe = a_y cos(2 pi k0 y/ny) + a_x cos(2 pi k1 x/nx); ne gets 1 added so the run does
// not stop.
void set_cosines(double a_y, int k0, double a_x, int k1) {
  for (int x = 0; x < nx; x++)
    for (int y = 0; y < ny; y++) {
      const double f = a_y * std::cos(2 * M_PI * k0 * y / ny) + a_x * std::cos(2 * M_PI * k1 * x / nx);
      pi[x][y] = pe[x][y] = f;
      ne[x][y] = f + 1.0;
    }
}

// The spectrum column (2 or 3) of a file as a function of k = 1 .. n/2 - 1 (index k - 1).
std::vector<double> column(const char *name, int c) {
  std::vector<double> values;
  for (const auto &row : read_table(name)) values.push_back(row[size_t(c - 1)]);
  return values;
}

// Expect column c of a file to be `peak` at k = k_peak and zero elsewhere (k_peak 0: all zero).
void expect_single_peak(const char *name, int c, int k_peak, double peak) {
  std::vector<double> values = column(name, c);
  for (size_t i = 0; i < values.size(); i++) {
    const int k = int(i) + 1;
    EXPECT_TRUE(close_to(values[i], k == k_peak ? peak : 0.0, rel, floor_)) << name << " k = " << k << " column " << c;
  }
}

}  // namespace

// nx = 8, ny = 16, hy = 2. A cosine with k0 = 3 along y: pky_p, pky_n: (1/hy) ny/2 at k0;
// pky_w: (0.5/hy)(ky^2 ny/2)^2; pky_e: (Dy pi)^2 = hy^2 sin^2(b) sin^2(theta) gives
// (0.5/hy) hy^2 sin^2(b)/4 at 2 k0; pkx_p nothing. A cosine with k1 = 2 along x: (1/hy)/2 in
// pkx_p at k1, nothing at k >= 1 in the y-spectra.
TEST_F(DiagTest, SpectraOfCosines) {
  values19 v = test_values();
  v[v_nx] = 8;
  v[v_ny] = 16;
  v[v_ly] = 8.0;
  start(v);
  const double h = 2.0;
  const int k0 = 3, k1 = 2;
  set_cosines(1.0, k0, 0.0, 0);
  diagnose(0.0, 0.0, 0, 10, state_output_fields());
  const double ky = 2 * M_PI * k0 / 8.0, b = 2 * M_PI * k0 / 16;
  expect_single_peak("pky_p.dat", 2, k0, 1 / h * 8);
  expect_single_peak("pky_n.dat", 2, k0, 1 / h * 8);
  expect_single_peak("pky_w.dat", 2, k0, 0.5 / h * std::pow(ky * ky * 8, 2));
  expect_single_peak("pky_e.dat", 2, 2 * k0, 0.5 / h * h * h * std::sin(b) * std::sin(b) / 4);
  expect_single_peak("pkx_p.dat", 2, 0, 0.0);
  for (const char *name : {"pky_p.dat", "pky_n.dat", "pky_w.dat", "pky_e.dat", "pkx_p.dat"}) {
    expect_single_peak(name, 3, 0, 0.0);  // no running mean outside a continued run
    auto table = read_table(name);
    ASSERT_EQ(table.size(), std::string(name) == "pkx_p.dat" ? 3u : 7u) << name;
    // the wavenumber column steps by 2 pi/ly, also along x where nx differs from ny
    for (size_t i = 0; i < table.size(); i++)
      EXPECT_TRUE(close_to(table[i][0], (i + 1) * 2 * M_PI / 8.0, rel)) << name << " line " << i + 1;
  }

  set_cosines(0.0, 0, 1.0, k1);
  diagnose(0.0, 0.0, 0, 10, state_output_fields());
  for (const char *name : {"pky_p.dat", "pky_n.dat", "pky_w.dat", "pky_e.dat"}) expect_single_peak(name, 2, 0, 0.0);
  expect_single_peak("pkx_p.dat", 2, k1, 1 / h / 2);
  // the exact line format
  EXPECT_EQ(lines_of(read_text("pkx_p.dat"))[1] + "\n",
            format("%.6e  %.6e  %.6e\n", 2 * (2 * M_PI) / 8.0, column("pkx_p.dat", 2)[1], 0.0));
}

namespace {

class SpectrumLines : public DiagTest, public testing::WithParamInterface<std::pair<int, int>> {};

}  // namespace

// n/2 - 1 lines for n > 3, none (but the file exists) for n <= 3.
TEST_P(SpectrumLines, CountDependsOnTheLength) {
  values19 v = test_values();
  v[v_nx] = GetParam().first;
  v[v_ny] = GetParam().second;
  start(v);
  set_cosines(1.0, 1, 1.0, 1);
  diagnose(0.0, 0.0, 0, 10, state_output_fields());
  auto expected_lines = [](int n) { return n > 3 ? size_t(n / 2 - 1) : size_t(0); };
  for (const char *name : {"pky_p.dat", "pky_n.dat", "pky_w.dat", "pky_e.dat"}) {
    EXPECT_TRUE(std::filesystem::exists(name)) << name;
    EXPECT_EQ(lines_of(read_text(name)).size(), expected_lines(ny)) << name;
  }
  EXPECT_TRUE(std::filesystem::exists("pkx_p.dat"));
  EXPECT_EQ(lines_of(read_text("pkx_p.dat")).size(), expected_lines(nx));
}

INSTANTIATE_TEST_SUITE_P(Grids, SpectrumLines,
                         testing::Values(std::make_pair(3, 4), std::make_pair(4, 3), std::make_pair(16, 256)));

// In a continued run (incon = 2) the third column is the running mean weighted by iout: the
// calls with iout = 0, 0, 1, 2 give A1, A2, (A2 + A3)/2, (2 (A2 + A3)/2 + A4)/3.
TEST_F(DiagTest, RunningMeansOfAContinuedRun) {
  values19 v = test_values();
  v[v_incon] = 2;
  v[v_ly] = 8.0;
  start(v);
  const int k0 = 3, k1 = 2;
  const double unit_y = 0.5 * 8, unit_x = 0.5 / 2;  // pky_p and pkx_p peaks of unit amplitudes
  const double amplitude[4] = {1, 2, 3, 4};
  const int iout[4] = {0, 0, 1, 2};
  const double mean[4] = {1, 2, 2.5, 3};
  for (int call = 0; call < 4; call++) {
    set_cosines(amplitude[call], k0, amplitude[call], k1);
    diagnose(call, 0.0, iout[call], 10, state_output_fields());
    EXPECT_TRUE(close_to(column("pky_p.dat", 2)[k0 - 1], amplitude[call] * unit_y, rel)) << "call " << call;
    EXPECT_TRUE(close_to(column("pky_p.dat", 3)[k0 - 1], mean[call] * unit_y, rel)) << "call " << call;
    EXPECT_TRUE(close_to(column("pky_n.dat", 3)[k0 - 1], mean[call] * unit_y, rel)) << "call " << call;
    EXPECT_TRUE(close_to(column("pkx_p.dat", 3)[k1 - 1], mean[call] * unit_x, rel)) << "call " << call;
  }
}
