// Arakawa's bracket against its invariants and an analytic answer: the sums of out, a*out and
// b*out vanish on random fields, swapping the inputs negates the result, a cyclic shift of both
// inputs shifts the output (the periodic wrap, down to one-point grids), and trigonometric
// fields converge to the exact bracket with second order.
#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "common/state.hpp"
#include "operators/operators.hpp"
#include "support/fields.hpp"
#include "support/run_setup.hpp"

namespace {

array2d fa, fb, fout, fswap;  // inputs and outputs of the bracket
array2d shifted_a, shifted_b;  // the inputs moved along the grid
[[maybe_unused]] const bool registered = register_test_fields({&fa, &fb, &fout, &fswap, &shifted_a, &shifted_b});

// Uniform random values in [-scale, scale] over the used extent.
void fill_random(array2d f, double scale, std::mt19937 &rng) {
  std::uniform_real_distribution<double> value(-scale, scale);
  for (int i = 0; i < nx; i++)
    for (int j = 0; j < ny; j++) f[i][j] = value(rng);
}

const int small_grids[][2] = {{1, 1}, {1, 4}, {4, 1}, {2, 2}, {2, 5}, {3, 3}, {3, 4}, {5, 2}, {7, 6}, {12, 10}};

TEST(Arakawa, SumsOfOutAndOfItsProductsWithTheInputsVanish) {
  std::mt19937 rng(11);
  for (const auto &grid : small_grids) {
    set_grid(grid[0], grid[1], 1.7);
    fill_random(fa, 1.0, rng);
    fill_random(fb, 3.0, rng);
    arakawa(fa, fb, fout);
    double sum = 0, sum_a = 0, sum_b = 0;
    for (int i = 0; i < nx; i++)
      for (int j = 0; j < ny; j++) {
        sum += fout[i][j];
        sum_a += fa[i][j] * fout[i][j];
        sum_b += fb[i][j] * fout[i][j];
      }
    // Round-off of nx*ny terms, each about 16 products of inputs of size 1 and 3 times hysq.
    double scale = nx * ny * 16 * 3.0 * hysq * 3.0;
    EXPECT_NEAR(sum, 0.0, 1e-14 * scale) << nx << " x " << ny;
    EXPECT_NEAR(sum_a, 0.0, 1e-14 * scale) << nx << " x " << ny;
    EXPECT_NEAR(sum_b, 0.0, 1e-14 * scale) << nx << " x " << ny;
    if (grid[0] > 2 && grid[1] > 2) {
      EXPECT_GT(max_abs_or_inf(fout), 1e-3 * hysq) << "bracket vanishes on random fields";
    }
  }
}

TEST(Arakawa, SwappedInputsNegateAndEqualOrConstantInputsGiveZero) {
  std::mt19937 rng(12);
  set_grid(9, 8, 2.3);
  fill_random(fa, 1.0, rng);
  fill_random(fb, 1.0, rng);
  arakawa(fa, fb, fout);
  arakawa(fb, fa, fswap);
  const double scale = max_abs_or_inf(fout);
  for (int i = 0; i < nx; i++)
    for (int j = 0; j < ny; j++)
      EXPECT_NEAR(fswap[i][j], -fout[i][j], 1e-14 * scale) << "[" << i << "][" << j << "]";

  arakawa(fa, fa, fout);
  EXPECT_LT(max_abs_or_inf(fout), 1e-14 * scale) << "{a, a}";
  for (int i = 0; i < nx; i++)
    for (int j = 0; j < ny; j++) fswap[i][j] = 0.75;
  arakawa(fa, fswap, fout);
  EXPECT_LT(max_abs_or_inf(fout), 1e-14 * scale) << "{a, constant}";
  arakawa(fswap, fa, fout);
  EXPECT_LT(max_abs_or_inf(fout), 1e-14 * scale) << "{constant, a}";
}

TEST(Arakawa, ShiftedInputsShiftTheOutput) {
  // Every point sees the same stencil, so the wrapped edges must agree with the interior.
  std::mt19937 rng(13);
  for (const auto &grid : small_grids) {
    set_grid(grid[0], grid[1], 1.0);
    fill_random(fa, 1.0, rng);
    fill_random(fb, 1.0, rng);
    arakawa(fa, fb, fout);
    const double scale = std::fmax(max_abs_or_inf(fout), hysq);
    for (int s = 0; s < nx; s++)
      for (int t = 0; t < ny; t++) {
        for (int i = 0; i < nx; i++)
          for (int j = 0; j < ny; j++) {
            shifted_a[(i + s) % nx][(j + t) % ny] = fa[i][j];
            shifted_b[(i + s) % nx][(j + t) % ny] = fb[i][j];
          }
        arakawa(shifted_a, shifted_b, fswap);
        for (int i = 0; i < nx; i++)
          for (int j = 0; j < ny; j++)
            ASSERT_NEAR(fswap[(i + s) % nx][(j + t) % ny], fout[i][j], 1e-14 * scale)
                << nx << " x " << ny << " shifted by (" << s << ", " << t << ") at [" << i << "][" << j << "]";
      }
    if (nx == 1 || ny == 1) {
      EXPECT_LT(max_abs_or_inf(fout), 1e-14 * scale) << nx << " x " << ny << ": a single row or column has no bracket";
    }
  }
}

// Largest error, relative to the largest exact value, of the bracket of two trigonometric
// fields on an n by 3n/4 grid of y length 3; pair 0 is sin X with sin Y, pair 1 has mixed terms.
double bracket_error(int n, int pair) {
  set_grid(n, 3 * n / 4, 3.0);
  const double cx = 2 * M_PI * hy / nx, cy = 2 * M_PI * hy / ny;  // d/dx = cx d/dX, d/dy = cy d/dY
  auto X = [](int i) { return 2 * M_PI * i / nx; };
  auto Y = [](int j) { return 2 * M_PI * j / ny; };
  auto exact = [&](int i, int j) {
    if (pair == 0) return cx * cy * std::cos(X(i)) * std::cos(Y(j));
    // {sin(X + 2Y), cos 2X sin Y} = cx cy cos(X + 2Y) (cos 2X cos Y + 4 sin 2X sin Y)
    return cx * cy * std::cos(X(i) + 2 * Y(j)) *
           (std::cos(2 * X(i)) * std::cos(Y(j)) + 4 * std::sin(2 * X(i)) * std::sin(Y(j)));
  };
  for (int i = 0; i < nx; i++)
    for (int j = 0; j < ny; j++) {
      fa[i][j] = pair == 0 ? std::sin(X(i)) : std::sin(X(i) + 2 * Y(j));
      fb[i][j] = pair == 0 ? std::sin(Y(j)) : std::cos(2 * X(i)) * std::sin(Y(j));
    }
  arakawa(fa, fb, fout);
  double worst = 0, size = 0;
  for (int i = 0; i < nx; i++)
    for (int j = 0; j < ny; j++) {
      double e = std::fabs(fout[i][j] - exact(i, j));
      worst = std::isnan(e) ? INFINITY : std::fmax(worst, e);
      size = std::fmax(size, std::fabs(exact(i, j)));
    }
  return worst / size;
}

TEST(Arakawa, TrigonometricFieldsConvergeWithSecondOrder) {
  for (int pair = 0; pair < 2; pair++) {
    double coarse = bracket_error(32, pair), medium = bracket_error(64, pair), fine = bracket_error(128, pair);
    EXPECT_LT(coarse, 0.2) << "pair " << pair;
    double first = coarse / medium, second = medium / fine;
    EXPECT_NEAR(first, 4.0, 0.4) << "pair " << pair << ": errors " << coarse << ", " << medium;
    EXPECT_NEAR(second, 4.0, 0.2) << "pair " << pair << ": errors " << medium << ", " << fine;
  }
}

}  // namespace
