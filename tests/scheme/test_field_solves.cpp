// The field solves: the program's spectral solve on real transforms against the reference's
// complex solve, the gyro-averages gni = G ni and pi = G pe and the potential pe = -(ne - gni)/P on Fourier
// modes against the model's factors, the zero-mean potential, the radial damping profile xmask and
// its use, and the array copy.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "operators/operators.hpp"
#include "scheme/scheme.hpp"
#include "setup/setup.hpp"
#include "support/fields.hpp"
#include "support/poisson.hpp"
#include "support/run_setup.hpp"

namespace {

const double twopi = 6.283185307179586;

array2d want_a, want_b, saved_a, saved_b;  // expected and saved fields of a test
[[maybe_unused]] const bool registered = register_test_fields({&want_a, &want_b, &saved_a, &saved_b});

// cos(2 pi (mx x / nx + my y / ny)) at grid point (x, y).
double mode(int mx, int my, int x, int y) {
  return cos(twopi * (static_cast<double>(mx) * x / nx + static_cast<double>(my) * y / ny));
}

// k^2 of the mode with signed indices (mx, my) on the current grid.
double mode_k2(int mx, int my) {
  double kx = twopi * hy * mx / nx, ky = twopi * hy * my / ny;
  return kx * kx + ky * ky;
}

// The spectral solve on real transforms equals the complex solve with the full table, on an even
// grid and on odd ones, where the full tables differ between k and -k and only their symmetric
// part reaches a real field; in place as well.
TEST(SpectralSolve, EqualsComplexSolveForEveryTable) {
  const int sizes[][2] = {{12, 8}, {9, 7}, {5, 12}};
  for (const auto &size : sizes) {
    values19 v = test_values();
    v[v_nx] = size[0];
    v[v_ny] = size[1];
    v[v_ly] = 3.0;
    v[v_ihype] = 2;
    start_grid(v);
    const double *tables[] = {cpoti, cvort, chyv, cvfis, clap};
    double table_values::*full[] = {&table_values::cpoti, &table_values::cvort, &table_values::chyv,
                                    &table_values::cvfis, &table_values::clap};
    const char *names[] = {"cpoti", "cvort", "chyv", "cvfis", "clap"};
    for (int x = 0; x <= nx1; x++)
      for (int y = 0; y <= ny1; y++) ne[x][y] = 0.4 + sin(1.0 + 0.37 * x * x + 0.91 * y * (x + 2));
    for (int t = 0; t < 5; t++) {
      SCOPED_TRACE(testing::Message() << names[t] << ", " << nx << " x " << ny);
      spectral_solve(ne, tables[t], saved_a);
      poisson(ne, full[t], want_a);
      const double tol = 1e-12 * fmax(1.0, max_abs(want_a));
      expect_field("solve", saved_a, want_a, tol);
      copy_field(saved_b, ne);
      spectral_solve(saved_b, tables[t], saved_b);
      expect_field("in-place solve", saved_b, want_a, tol);
    }
  }
}

// chyv of ihype 1 is k^2 N: on a mode with indices 5 along x and -3 along y (both halves of the
// signed wavenumbers) the solve gives k^2 times the mode.
TEST(SpectralSolve, ChyvOfFirstOrderOnModeGivesK2) {
  values19 v = test_values();
  v[v_nx] = 12;
  v[v_ny] = 8;
  v[v_ly] = 5.0;
  v[v_ihype] = 1;
  start_grid(v);
  for (int x = 0; x <= nx1; x++)
    for (int y = 0; y <= ny1; y++) {
      ne[x][y] = mode(5, -3, x, y);
      want_a[x][y] = mode_k2(5, -3) * ne[x][y];
    }
  spectral_solve(ne, chyv, saved_a);
  expect_field("k^2 times a mode", saved_a, want_a, 1e-12 * mode_k2(5, -3));
}

// A grid whose step leaves the densities as they are (no coupling, drive, brackets or
// dissipation; equal levels, zero old right-hand sides), so that a step runs only its field
// solves on the densities set by the test.
void start_static_step(values19 v) {
  v[v_chat] = 0.0;
  v[v_ihype] = -5;
  start_step(v);
  clin = 0.0;
  compute_xmask();
}

// Equal history levels of the densities as they stand, zero old right-hand sides.
void equal_levels() {
  for (array2d *level : {&ne1, &ne2}) copy_field(*level, ne);
  for (array2d *level : {&ni1, &ni2}) copy_field(*level, ni);
}

// Gyro-average G and polarisation P of the model at k^2 for the current run constants, as they act in
// the time step: G = 1 exactly for cold ions, since gni and pi are then copies.
void model_factors(double k2, double *g, double *p) {
  double tau = taui == 0 ? 1e-6 : taui, b = k2 * tau;
  if (ipade == 0) {
    *g = 1.0 / (1.0 + 0.5 * b);
    *p = k2 / (1.0 + xlwl * b);
  } else {
    *g = sqrt(gamma0(b));
    *p = (1.0 - gamma0(b)) / tau;
  }
  if (taui == 0) *g = 1.0;
}

// One set of species settings: value 2 (negative switches the gyro-radius term of the Pade
// polarisation off) and the gyro-average model.
struct field_case {
  const char *name;
  double taui_value;
  int ipade;
};

// ne = 0.3 + cos m1, ni = 0.5 cos m1 + 0.2 cos m2: the fields of a step that keeps the densities
// against the factors of each mode.
TEST(FieldStages, GyroAverageVorticityAndPotentialOfTwoModes) {
  const field_case cases[] = {{"warm ions, Pade", 1.0, 0},
                              {"Pade without gyro-radius polarisation", -0.7, 0},
                              {"warm ions, gamma0", 0.5, 1},
                              {"cold ions", 0.0, 0}};
  for (const field_case &c : cases) {
    SCOPED_TRACE(c.name);
    values19 v = test_values();
    v[v_nx] = 12;
    v[v_ny] = 8;
    v[v_ly] = 7.0;
    v[v_taui] = c.taui_value;
    v[v_ipade] = c.ipade;
    start_static_step(v);
    const int m1x = 1, m1y = 2, m2x = 5, m2y = -3;
    double g1, p1, g2, p2;
    model_factors(mode_k2(m1x, m1y), &g1, &p1);
    model_factors(mode_k2(m2x, m2y), &g2, &p2);
    for (int x = 0; x <= nx1; x++)
      for (int y = 0; y <= ny1; y++) {
        ne[x][y] = 0.3 + mode(m1x, m1y, x, y);
        ni[x][y] = 0.5 * mode(m1x, m1y, x, y) + 0.2 * mode(m2x, m2y, x, y);
      }
    equal_levels();
    timestep(dt);
    derive_output_fields();
    array2d &want_gni = want_a, &want_pe = want_b, &want_ww = saved_a, &want_pi = saved_b;
    for (int x = 0; x <= nx1; x++)
      for (int y = 0; y <= ny1; y++) {
        double c1 = mode(m1x, m1y, x, y), c2 = mode(m2x, m2y, x, y);
        want_gni[x][y] = 0.5 * g1 * c1 + 0.2 * g2 * c2;
        want_ww[x][y] = 0.3 + (1.0 - 0.5 * g1) * c1 - 0.2 * g2 * c2;
        // The mean 0.3 of the vorticity has no potential.
        double pe1 = -(1.0 - 0.5 * g1) / p1, pe2 = 0.2 * g2 / p2;
        want_pe[x][y] = pe1 * c1 + pe2 * c2;
        want_pi[x][y] = g1 * pe1 * c1 + g2 * pe2 * c2;
      }
    expect_field("gni", gni, want_gni, 1e-12);
    expect_field("ww", ww, want_ww, 1e-12);
    expect_field("pe", pe, want_pe, 1e-12);
    expect_field("pi", pi, want_pi, 1e-12);
    if (taui == 0) {
      // Cold ions: plain copies, entry for entry.
      expect_field("gni copy of ni", gni, ni, 0.0);
      expect_field("pi copy of pe", pi, pe, 0.0);
    }
  }
}

TEST(FieldStages, PotentialHasZeroMeanAndVanishesWhenNeEqualsGni) {
  values19 v = test_values();
  v[v_nx] = 12;
  v[v_ny] = 8;
  start_static_step(v);
  smooth_random(ne, 3, 1.0, 2.5);
  smooth_random(ni, 4, 1.0, -1.5);
  equal_levels();
  timestep(dt);
  double sum = 0.0;
  for (int x = 0; x <= nx1; x++)
    for (int y = 0; y <= ny1; y++) sum += pe[x][y];
  double mean = sum / (nx * ny), scale = max_abs(pe);
  EXPECT_GT(scale, 0.1);
  EXPECT_LE(fabs(mean), 1e-14 * scale) << "mean of pe " << mean << ", expected 0, field size " << scale;

  // Cold ions with ne = ni = gni: no vorticity and no potential, exactly (the two spectra are the
  // same transform of the same numbers).
  v[v_taui] = 0.0;
  start_static_step(v);
  smooth_random(ne, 3, 1.0, 2.5);
  copy_field(ni, ne);
  smooth_random(pe, 5, 1.0, 0.0);
  equal_levels();
  timestep(dt);
  derive_output_fields();
  zero_field(want_a);
  expect_field("ww", ww, want_a, 0.0);
  expect_field("pe", pe, want_a, 0.0);
}

TEST(Xmask, ProfileOnWideAndTinyGrids) {
  set_grid(256, 4, 1.0);
  compute_xmask();
  const double first[] = {0.0, 1.0 - exp(-0.25), 1.0 - exp(-1.0), 1.0 - exp(-2.25), 1.0 - exp(-4.0)};
  for (int x = 0; x < 5; x++) {
    EXPECT_NEAR(xmask[x], first[x], 1e-15) << "x = " << x;
    EXPECT_EQ(xmask[nx1 - x], xmask[x]) << "symmetry at x = " << x;
  }
  // exp(-36) is above half an ulp of 1, exp(-42.25) below it.
  EXPECT_LT(xmask[12], 1.0);
  EXPECT_LT(xmask[nx1 - 12], 1.0);
  for (int x = 13; x <= nx1 - 13; x++) ASSERT_EQ(xmask[x], 1.0) << "x = " << x;

  set_grid(8, 4, 1.0);
  compute_xmask();
  for (int x : {0, 7}) EXPECT_NEAR(xmask[x], -4.785e-6, 0.001e-6) << "x = " << x;
  EXPECT_EQ(xmask[3], xmask[4]);
  EXPECT_NEAR(xmask[3], 1.0 - exp(-4.0) - exp(-2.25), 1e-15);
}

// Only vorfree = 2 scales ne, ni and gni by xmask in a step that otherwise keeps the densities;
// every other value leaves them untouched.
TEST(RadialDamping, ScalesRowsOnlyForVorfreeTwo) {
  for (double vorfree_value : {2.0, 0.0, 1.0, 2.5}) {
    SCOPED_TRACE(vorfree_value);
    values19 v = test_values();
    v[v_nx] = 10;
    v[v_ny] = 6;
    v[v_vorfree] = vorfree_value;
    start_static_step(v);
    smooth_random(ne, 5, 1.0, 0.5);
    smooth_random(ni, 6, 1.0, 0.5);
    poisson(ni, &table_values::cpoti, gni);  // the gyro-average of the step's undamped density
    equal_levels();
    array2d *fields[] = {&ne, &ni, &gni};
    array2d *copies[] = {&want_a, &want_b, &saved_a};
    for (int f = 0; f < 3; f++) {
      copy_field(*copies[f], *fields[f]);
      if (vorfree_value == 2)
        for (int x = 0; x <= nx1; x++)
          for (int y = 0; y <= ny1; y++) (*copies[f])[x][y] *= xmask[x];
    }
    timestep(dt);
    derive_output_fields();
    // The update of equal levels rounds in the last bits; gni comes from two transform algorithms.
    expect_field("ne", ne, want_a, 1e-14);
    expect_field("ni", ni, want_b, 1e-14);
    expect_field("gni", gni, saved_a, 1e-14);
  }
}

// nx = 256: xmask is exactly 0 at x = 0 and 255, so these rows vanish after every step.
TEST(RadialDamping, EdgeRowsVanishAfterEveryStepOnWideGrid) {
  values19 v = test_values();
  v[v_nx] = 256;
  v[v_ny] = 8;
  v[v_ly] = 8.0;
  v[v_vorfree] = 2;
  start_grid(v);
  compute_xmask();
  smooth_random(ne, 8, 0.1, 0.0);
  smooth_random(ni, 9, 0.1, 0.0);
  fresh_history();
  for (int step = 1; step <= 4; step++) {
    timestep(dt);
    derive_output_fields();
    for (int x : {0, nx1})
      for (int y = 0; y <= ny1; y++) {
        ASSERT_EQ(ne[x][y], 0.0) << "ne[" << x << "][" << y << "] after step " << step;
        ASSERT_EQ(ni[x][y], 0.0) << "ni[" << x << "][" << y << "] after step " << step;
        ASSERT_EQ(gni[x][y], 0.0) << "gni[" << x << "][" << y << "] after step " << step;
      }
    EXPECT_GT(fabs(ne[1][0]) + fabs(ne[nx1 - 1][3]), 0.0) << "rows next to the edges are damped, not zeroed";
  }
}

TEST(CopyArray, CopiesExactlyTheInclusiveRange) {
  set_grid(6, 6, 1.0);
  for (int x = 0; x < 6; x++)
    for (int y = 0; y < 6; y++) {
      saved_a[x][y] = 100 * x + y;
      saved_b[x][y] = -1.0;
    }
  f_copy2darray(saved_a, saved_b, 2, 3);
  for (int x = 0; x < 6; x++)
    for (int y = 0; y < 6; y++) {
      double want = (x <= 2 && y <= 3) ? saved_a[x][y] : -1.0;
      EXPECT_EQ(saved_b[x][y], want) << "[" << x << "][" << y << "]";
    }
}

}  // namespace
