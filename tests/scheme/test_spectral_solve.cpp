// The spectral solve: the tables applied to single Fourier modes give the analytic
// factors (-k^2 for clap, the Pade gyro-average 1/(1 + k^2 tau/2) for cpoti, -(1 + k^2 tau)/k^2
// for cvort) on even and odd grids, gyro-averaging and un-averaging are inverse, a table equal to
// 1/(nx ny) returns the field, cvort removes the mean, and the input may be the output array.
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

#include "common/state.hpp"
#include "parallel/processes.hpp"
#include "scheme/scheme.hpp"
#include "setup/setup.hpp"
#include "support/fields.hpp"
#include "support/run_setup.hpp"

namespace {

array2d field, solved, back;  // inputs and outputs of the solve
[[maybe_unused]] const bool registered = register_test_fields({&field, &solved, &back});

// Set up a grid (12 by 8 unless named) of y length 3 with warm ions (taui = 1, Pade form) and the
// transforms.
void set_grid(int gridx = 12, int gridy = 8) {
  values19 v = test_values();
  v[v_nx] = gridx;
  v[v_ny] = gridy;
  v[v_ly] = 3.0;
  setup_run(v);
}

// Random values in [-1, 1] over the used extent.
void fill_random(array2d f, unsigned seed) {
  std::mt19937 rng(seed);
  std::uniform_real_distribution<double> value(-1, 1);
  for (int i = 0; i < nx; i++)
    for (int j = 0; j < ny; j++) f[i][j] = value(rng);
}

// Largest |f - g| over the used extent (infinite when either holds a NaN).
double max_difference(array2d f, array2d g) {
  double m = 0;
  for (int i = 0; i < nx; i++)
    for (int j = 0; j < ny; j++) {
      double d = std::fabs(f[i][j] - g[i][j]);
      m = std::isnan(d) ? INFINITY : std::fmax(m, d);
    }
  return m;
}

TEST(SpectralSolve, TablesActOnModesWithTheirAnalyticFactors) {
  for (const auto &grid : {std::pair<int, int>{12, 8}, {11, 9}}) {
    set_grid(grid.first, grid.second);
    SCOPED_TRACE(std::to_string(nx) + " x " + std::to_string(ny));
    const int modes[][2] = {{1, 0}, {0, 1}, {2, 0}, {0, 3}, {5, 0}, {1, 1}, {3, -2}, {-4, 3}};
    for (const auto &mode : modes) {
      // (an odd grid's highest index stands for two wavenumbers, k and k - n: its modes are below)
      if (std::abs(mode[0]) >= nx / 2 || std::abs(mode[1]) >= ny / 2) continue;
      const double kx = 2 * M_PI * mode[0] * hy / nx, ky = 2 * M_PI * mode[1] * hy / ny;
      const double k2 = kx * kx + ky * ky;
      for (int i = 0; i < nx; i++)
        for (int j = 0; j < ny; j++)
          field[i][j] = std::cos(2 * M_PI * (mode[0] * i / double(nx) + mode[1] * j / double(ny)) + 0.3);
      struct expectation {
        const char *name;
        const double *table;
        double factor;
      };
      const expectation expectations[] = {
          {"clap", clap, -k2},
          {"cpoti", cpoti, 1 / (1 + 0.5 * k2)},  // taui = 1
          {"cvfis", cvfis, 1 + 0.5 * k2},
          {"cvort", cvort, -(1 + k2) / k2},      // P = k^2 / (1 + k^2 taui)
      };
      for (const expectation &e : expectations) {
        spectral_solve(field, e.table, solved);
        for (int i = 0; i < nx; i++)
          for (int j = 0; j < ny; j++)
            ASSERT_NEAR(solved[i][j], e.factor * field[i][j], 1e-13 * std::fmax(1.0, std::fabs(e.factor)))
                << e.name << " on mode (" << mode[0] << ", " << mode[1] << ") at [" << i << "][" << j << "]";
      }
    }
  }
}

TEST(SpectralSolve, GyroAverageAndItsInverseRoundTrip) {
  set_grid();
  fill_random(field, 31);
  spectral_solve(field, cpoti, solved);
  spectral_solve(solved, cvfis, back);
  EXPECT_LT(max_difference(back, field), 1e-13);
  EXPECT_GT(max_difference(solved, field), 1e-2) << "cpoti left a random field unchanged";
}

TEST(SpectralSolve, NormalisationAloneIsTheIdentity) {
  set_grid();
  const std::vector<double> unit_table(size_t(spectrum_elements()), 1.0 / (nx * ny));
  fill_random(field, 32);
  spectral_solve(field, unit_table.data(), solved);
  EXPECT_LT(max_difference(solved, field), 1e-14);
}

TEST(SpectralSolve, PotentialOfAConstantVorticityIsZero) {
  set_grid();
  fill_random(field, 33);
  double mean = 0;
  for (int i = 0; i < nx; i++)
    for (int j = 0; j < ny; j++) mean += field[i][j];
  mean /= nx * ny;
  spectral_solve(field, cvort, solved);
  double solved_mean = 0;
  for (int i = 0; i < nx; i++)
    for (int j = 0; j < ny; j++) solved_mean += solved[i][j], back[i][j] = 4.5;
  EXPECT_NEAR(solved_mean / (nx * ny), 0.0, 1e-14) << "mean of the field " << mean;
  spectral_solve(back, cvort, solved);
  for (int i = 0; i < nx; i++)
    for (int j = 0; j < ny; j++) ASSERT_NEAR(solved[i][j], 0.0, 1e-14) << "[" << i << "][" << j << "]";
}

TEST(SpectralSolve, InputMayBeTheOutput) {
  set_grid();
  fill_random(field, 34);
  spectral_solve(field, cvort, solved);
  spectral_solve(field, cvort, field);
  for (int i = 0; i < nx; i++)
    for (int j = 0; j < ny; j++) ASSERT_EQ(field[i][j], solved[i][j]) << "[" << i << "][" << j << "]";
}

}  // namespace
