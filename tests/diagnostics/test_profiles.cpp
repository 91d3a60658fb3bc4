// Cuts and radial profiles: the cuts hold the fields at the middle row and column in the exact
// printf format; the radial profiles are the y-averages, checked on fields with known averages.
#include <random>

#include "diagnostics/diag_fixture.hpp"
#include "diagnostics/writers.hpp"

namespace {

class Cuts : public DiagTest, public testing::WithParamInterface<std::pair<int, int>> {};

}  // namespace

// "cutx.dat" lies at y = ny/2 and "cuty.dat" at x = nx/2 (integer division); one line per point.
TEST_P(Cuts, HoldTheFieldsAtTheMiddleRowAndColumn) {
  values19 v = test_values();
  v[v_nx] = GetParam().first;
  v[v_ny] = GetParam().second;
  v[v_ly] = 3.0;
  start(v);
  std::mt19937 random(7);
  std::uniform_real_distribution<double> value(-1.0, 1.0);
  for (int x = 0; x < nx; x++)
    for (int y = 0; y < ny; y++) {
      ne[x][y] = value(random);
      ni[x][y] = value(random) * 1e-3;
      pe[x][y] = value(random) * 1e5;
      gni[x][y] = value(random);
    }
  diagnose(0.0, 0.0, 0, 10, state_output_fields());

  const int ycut = ny / 2, xcut = nx / 2;
  const char *line = "%f  %.6e   %.6e   %.6e   %.6e   %.6e\n";
  std::string cutx, cuty;
  for (int x = 0; x < nx; x++)
    cutx += format(line, x / hy, ne[x][ycut], ni[x][ycut], pe[x][ycut], lap_pe[x][ycut], gni[x][ycut]);
  for (int y = 0; y < ny; y++)
    cuty += format(line, y / hy, ne[xcut][y], ni[xcut][y], pe[xcut][y], lap_pe[xcut][y], gni[xcut][y]);
  EXPECT_EQ(read_text("cutx.dat"), cutx);
  EXPECT_EQ(read_text("cuty.dat"), cuty);
  EXPECT_EQ(lines_of(read_text("xprof.dat")).size(), size_t(nx));
}

INSTANTIATE_TEST_SUITE_P(Grids, Cuts, testing::Values(std::make_pair(4, 5), std::make_pair(5, 4), std::make_pair(16, 16)));

// y-averages of pe = A sin(psi) + D cos(phi), ne = B + F cos(phi) + G sin(theta), ni = C with
// psi = phi + theta, phi = 2 pi q x/nx, theta = 2 pi m y/ny: <pe> = D cos(phi), <ne> = B + F
// cos(phi), <ni> = C, <lap pe> = -kx^2 D cos(phi), <Dx pe Dy pe> = hy^2 A^2 sin(b) sin(c)/2.
TEST_F(DiagTest, RadialProfilesAreTheYAverages) {
  values19 v = test_values();
  v[v_ny] = 32;
  v[v_ly] = 8.0;  // hy = 4
  start(v);
  const int q = 1, m = 3;
  const double A = 0.4, D = 0.3, B = 0.2, F = 0.1, G = 0.5, C = 0.6;
  for (int x = 0; x < nx; x++)
    for (int y = 0; y < ny; y++) {
      const double phi = 2 * M_PI * q * x / nx, theta = 2 * M_PI * m * y / ny;
      pe[x][y] = A * std::sin(phi + theta) + D * std::cos(phi);
      ne[x][y] = B + F * std::cos(phi) + G * std::sin(theta);
      ni[x][y] = C;
    }
  diagnose(0.0, 0.0, 0, 10, state_output_fields());

  const double kx = 2 * M_PI * q * hy / nx;
  const double b = 2 * M_PI * m / ny, c = 2 * M_PI * q / nx;
  const std::vector<std::string> lines = lines_of(read_text("xprof.dat"));
  auto table = read_table("xprof.dat");
  ASSERT_EQ(table.size(), size_t(nx));
  for (int x = 0; x < nx; x++) {
    const double phi = 2 * M_PI * q * x / nx;
    const double want[6] = {x / hy, D * std::cos(phi), B + F * std::cos(phi), C, -kx * kx * D * std::cos(phi),
                            hy * hy * A * A * std::sin(b) * std::sin(c) / 2};
    EXPECT_EQ(lines[x].substr(0, lines[x].find(' ')), format("%f", x / hy)) << "position of line " << x + 1;
    for (int k = 1; k < 6; k++)
      EXPECT_TRUE(close_to(table[x][k], want[k], 2e-6, 1e-13)) << "xprof.dat line " << x + 1 << " column " << k + 1;
  }
}

// A potential that does not depend on y carries no product Dx pe Dy pe: the last column is zero.
TEST_F(DiagTest, YIndependentPotentialHasNoStressProduct) {
  start(test_values());
  for (int x = 0; x < nx; x++)
    for (int y = 0; y < ny; y++) {
      pe[x][y] = std::cos(2 * M_PI * x / nx) + 0.1 * x;
      ne[x][y] = 0.5;
    }
  diagnose(0.0, 0.0, 0, 10, state_output_fields());
  for (const std::string &line : lines_of(read_text("xprof.dat")))
    EXPECT_EQ(line.substr(line.rfind(' ') + 1), "0.000000e+00") << line;
}
