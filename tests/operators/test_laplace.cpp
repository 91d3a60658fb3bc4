// The fourth-order Laplacian against its exact mode factors and an analytic Laplacian: every
// Fourier mode f = cos(theta i) (or sin) is an eigenvector with factor
// hysq (32 cos theta - 2 cos 2 theta - 30), also on grids of one, two and three points where the
// wrapped neighbours coincide; a smooth field converges with fourth order; the sum of the result
// vanishes; a cyclic shift of the input shifts the output.
#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "common/state.hpp"
#include "operators/operators.hpp"
#include "support/fields.hpp"
#include "support/run_setup.hpp"

namespace {

array2d field, result, twice, shifted;  // inputs and outputs of the Laplacian
[[maybe_unused]] const bool registered = register_test_fields({&field, &result, &twice, &shifted});

TEST(Laplace, ModesAreEigenvectorsIncludingTheSmallestGrids) {
  const int sizes[] = {1, 2, 3, 4, 5, 8};
  for (int n : sizes)
    for (int along_y = 0; along_y <= 1; along_y++) {
      // The other direction has three points, on which the field is constant.
      set_grid(along_y ? 3 : n, along_y ? n : 3, 2.5);
      for (int m = 0; m < n; m++)
        for (int phase = 0; phase <= 1; phase++) {  // cos and sin span every mode
          const double theta = 2 * M_PI * m / n;
          const double factor = hysq * (32 * std::cos(theta) - 2 * std::cos(2 * theta) - 30);
          for (int i = 0; i < nx; i++)
            for (int j = 0; j < ny; j++) field[i][j] = std::cos(theta * (along_y ? j : i) - phase * M_PI / 2);
          laplace(result, field);
          laplace(twice, result);  // the biharmonic branch applies it twice
          const double tolerance = 1e-13 * hysq * 64;
          for (int i = 0; i < nx; i++)
            for (int j = 0; j < ny; j++) {
              ASSERT_NEAR(result[i][j], factor * field[i][j], tolerance)
                  << (along_y ? "ny = " : "nx = ") << n << ", m = " << m << (phase ? " sin" : " cos") << " at [" << i << "][" << j << "]";
              ASSERT_NEAR(twice[i][j], factor * factor * field[i][j], tolerance * 64 * hysq)
                  << "twice: " << (along_y ? "ny = " : "nx = ") << n << ", m = " << m << " at [" << i << "][" << j << "]";
            }
        }
    }
  // The two factors quoted for the smallest even grids.
  set_grid(4, 3, 2.5);
  for (int i = 0; i < 4; i++)
    for (int j = 0; j < 3; j++) field[i][j] = std::cos(M_PI / 2 * i);
  laplace(result, field);
  EXPECT_NEAR(result[0][0], -28 * hysq, 1e-13 * hysq);
  set_grid(2, 3, 2.5);
  for (int j = 0; j < 3; j++) field[0][j] = 1, field[1][j] = -1;
  laplace(result, field);
  EXPECT_NEAR(result[0][0], -64 * hysq, 1e-13 * hysq);
}

// Largest error, relative to the largest exact value, of the Laplacian of
// f = exp(sin X) cos Y on an n by 3n/4 grid of y length 3.
double laplace_error(int n) {
  set_grid(n, 3 * n / 4, 3.0);
  const double cx = 2 * M_PI * hy / nx, cy = 2 * M_PI * hy / ny;  // d/dx = cx d/dX, d/dy = cy d/dY
  for (int i = 0; i < nx; i++)
    for (int j = 0; j < ny; j++) field[i][j] = std::exp(std::sin(2 * M_PI * i / nx)) * std::cos(2 * M_PI * j / ny);
  laplace(result, field);
  double worst = 0, size = 0;
  for (int i = 0; i < nx; i++)
    for (int j = 0; j < ny; j++) {
      double X = 2 * M_PI * i / nx, Y = 2 * M_PI * j / ny;
      double exact = (cx * cx * (std::cos(X) * std::cos(X) - std::sin(X)) - cy * cy) * std::exp(std::sin(X)) * std::cos(Y);
      double e = std::fabs(result[i][j] - exact);
      worst = std::isnan(e) ? INFINITY : std::fmax(worst, e);
      size = std::fmax(size, std::fabs(exact));
    }
  return worst / size;
}

TEST(Laplace, SmoothFieldConvergesWithFourthOrder) {
  double coarse = laplace_error(32), medium = laplace_error(64), fine = laplace_error(128);
  EXPECT_LT(coarse, 1e-2);
  EXPECT_NEAR(coarse / medium, 16.0, 1.5) << "errors " << coarse << ", " << medium;
  EXPECT_NEAR(medium / fine, 16.0, 1.0) << "errors " << medium << ", " << fine;
}

TEST(Laplace, SumVanishesAndConstantsGiveZero) {
  std::mt19937 rng(21);
  std::uniform_real_distribution<double> value(-1, 1);
  const int grids[][2] = {{1, 1}, {2, 3}, {5, 4}, {11, 7}};
  for (const auto &grid : grids) {
    set_grid(grid[0], grid[1], 1.3);
    for (int i = 0; i < nx; i++)
      for (int j = 0; j < ny; j++) field[i][j] = value(rng);
    laplace(result, field);
    double sum = 0;
    for (int i = 0; i < nx; i++)
      for (int j = 0; j < ny; j++) sum += result[i][j];
    EXPECT_NEAR(sum, 0.0, 1e-14 * 128 * hysq * nx * ny) << nx << " x " << ny;
    for (int i = 0; i < nx; i++)
      for (int j = 0; j < ny; j++) field[i][j] = -2.7;
    laplace(result, field);
    EXPECT_LT(max_abs_or_inf(result), 1e-14 * 128 * hysq) << nx << " x " << ny << ": constant field";
  }
}

TEST(Laplace, ShiftedInputShiftsTheOutput) {
  std::mt19937 rng(22);
  std::uniform_real_distribution<double> value(-1, 1);
  const int sizes[] = {1, 2, 3, 4, 5, 6};
  for (int gx : sizes)
    for (int gy : sizes) {
      set_grid(gx, gy, 1.0);
      for (int i = 0; i < nx; i++)
        for (int j = 0; j < ny; j++) field[i][j] = value(rng);
      laplace(result, field);
      for (int s = 0; s < nx; s++)
        for (int t = 0; t < ny; t++) {
          for (int i = 0; i < nx; i++)
            for (int j = 0; j < ny; j++) shifted[(i + s) % nx][(j + t) % ny] = field[i][j];
          laplace(twice, shifted);
          for (int i = 0; i < nx; i++)
            for (int j = 0; j < ny; j++)
              ASSERT_NEAR(twice[(i + s) % nx][(j + t) % ny], result[i][j], 1e-13 * hysq)
                  << nx << " x " << ny << " shifted by (" << s << ", " << t << ") at [" << i << "][" << j << "]";
        }
    }
}

}  // namespace
