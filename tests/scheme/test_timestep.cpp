// The time step: a state without forcing kept, the coupling, drive and wrap of the right-hand
// sides, the history moved back by one level, the sign and size of every dissipation branch on a
// Fourier mode, the invariants that hold after every step, and the independence of the fields from
// the FFT planning rigour and the thread count. The update itself, point by point from distinct
// history levels, is checked against the plain reference step (test_timestep_reference.cpp).
#include <gtest/gtest.h>
#include <omp.h>

#include <cfloat>
#include <cmath>
#include <cstring>

#include "operators/operators.hpp"
#include "scheme/scheme.hpp"
#include "support/fields.hpp"
#include "support/run_setup.hpp"

namespace {

const double twopi = 6.283185307179586;

// Expected values and saved fields of a test.
array2d want_fe, want_fi, want_ne, want_ni;
// Copies of history fields before a shift.
array2d expected[6];
[[maybe_unused]] const bool registered =
    register_test_fields({&want_fe, &want_fi, &want_ne, &want_ni, &expected[0], &expected[1], &expected[2],
                          &expected[3], &expected[4], &expected[5]});

TEST(StepUpdate, EqualLevelsWithZeroRightHandSidesKeepDensities) {
  values19 v = test_values();
  v[v_chat] = 0.0;  // no coupling, and no drive since hyd = 0
  start_step(v);
  clin = 0.0;
  smooth_random(ne, 31, 1.0, 0.7);
  smooth_random(ni, 32, 1.0, -0.4);
  fresh_history();
  copy_field(want_ne, ne);
  copy_field(want_ni, ni);
  zero_field(want_fe);
  timestep();
  expect_field("fne1", fne1, want_fe, 0.0);
  expect_field("fni1", fni1, want_fe, 0.0);
  expect_field("ne", ne, want_ne, 4 * DBL_EPSILON * max_abs(want_ne));
  expect_field("ni", ni, want_ni, 4 * DBL_EPSILON * max_abs(want_ni));
}

// Rows constant along y: the coupling is 0 with row averages removed and -chat (ne - pe) without.
TEST(StepUpdate, CouplingOfRowsConstantAlongY) {
  for (double chat_value : {0.8, -0.8}) {
    SCOPED_TRACE(chat_value > 0 ? "b_mhw set" : "b_mhw clear");
    values19 v = test_values();
    v[v_nx] = 6;
    v[v_ny] = 8;
    v[v_chat] = chat_value;
    start_step(v);
    clin = 0.0;
    for (int x = 0; x <= nx1; x++)
      for (int y = 0; y <= ny1; y++) {
        ne[x][y] = 0.3 + 0.1 * x;
        pe[x][y] = -0.2 + 0.05 * x * x;
        pi[x][y] = 0.7 - 0.1 * x;
        want_fe[x][y] = b_mhw ? 0.0 : -0.8 * (ne[x][y] - pe[x][y]);
      }
    timestep();
    expect_field("fne1", fne1, want_fe, 1e-15);
    zero_field(want_fi);
    expect_field("fni1", fni1, want_fi, 0.0);
  }
}

// The centred y difference takes column ny1 below column 0 and column 0 above column ny1.
TEST(StepUpdate, DriveTermWrapsAlongY) {
  values19 v = test_values();
  v[v_nx] = 5;
  v[v_ny] = 6;
  v[v_ly] = 3.0;
  start_step(v);
  clin = 0.0;
  ne[2][0] = pe[2][0] = 1.0;  // ne = pe: no coupling
  pi[3][ny1] = 1.0;
  zero_field(want_fe);
  zero_field(want_fi);
  want_fe[2][1] = hyd;
  want_fe[2][ny1] = -hyd;
  want_fi[3][0] = hyd;
  want_fi[3][ny1 - 1] = -hyd;
  timestep();
  EXPECT_EQ(hyd, 1.0);
  expect_field("fne1", fne1, want_fe, 1e-15);
  expect_field("fni1", fni1, want_fi, 1e-15);
}

// A step moves every level back by one and leaves fne1, fni1 the new right-hand sides (no coupling, drive or brackets: the right-hand sides are zero).
TEST(StepUpdate, HistoryMovesEveryLevelBackByOne) {
  values19 v = test_values();
  v[v_chat] = 0.0;
  start_step(v);
  clin = 0.0;
  array2d *fields[] = {&ne, &ne1, &ni, &ni1, &fne1, &fni1};
  array2d *older[] = {&ne1, &ne2, &ni1, &ni2, &fne2, &fni2};
  for (int f = 0; f < 6; f++) smooth_random(*fields[f], 60 + f, 1.0, 0.1 * f);
  for (int f = 0; f < 6; f++) copy_field(expected[f], *fields[f]);
  timestep();
  const char *names[] = {"ne1", "ne2", "ni1", "ni2", "fne2", "fni2"};
  for (int f = 0; f < 6; f++) expect_field(names[f], *older[f], expected[f], 0.0);
  zero_field(want_fe);
  for (array2d *rhs : {&fne1, &fni1}) expect_field("new right-hand side", *rhs, want_fe, 0.0);
}

struct dissipation_case {
  int ihype;
  double symbol;  // D of the mode divided by the mode
  int effect;     // with diff > 0: -1 damps, +1 amplifies, 0 leaves the mode unchanged
};

// D on cos(x + 2y) (k = (1, 2), k^2 = 5), and the amplitude after one step with diff > 0.
TEST(StepDissipation, SignAndSizeOnSingleMode) {
  // 8 x 8 grid with ly = 2 pi: spacing h = pi/4. Per direction the fourth-order Laplacian gives
  // (32 cos kh - 2 cos 2kh - 30) / (12 h^2).
  const double h = M_PI / 4, fd_x = (32 * cos(h) - 2 * cos(2 * h) - 30) / (12 * h * h),
               fd_y = (32 * cos(2 * h) - 2 * cos(4 * h) - 30) / (12 * h * h), fd = fd_x + fd_y;
  const dissipation_case cases[] = {{-1, fd, +1},       {0, fd * fd, -1},         {1, 5.0, -1},  {2, 25.0, -1},
                                    {4, 625.0, -1},     {8, 15625.0, -1},         {3, 0.0, 0},   {-5, 0.0, 0}};
  for (const dissipation_case &c : cases) {
    SCOPED_TRACE("ihype = " + std::to_string(c.ihype));
    values19 v = test_values();
    v[v_nx] = 8;
    v[v_ny] = 8;
    v[v_chat] = 0.0;
    v[v_ihype] = c.ihype;
    // About one per cent per step where there is dissipation.
    v[v_diff] = c.symbol == 0 ? 1.0 : 0.01 / (0.01 * 6 / 11 * fabs(c.symbol));
    start_step(v);
    clin = 0.0;
    for (int x = 0; x <= nx1; x++)
      for (int y = 0; y <= ny1; y++) {
        ne[x][y] = ni[x][y] = cos(twopi * (x + 2.0 * y) / 8);
        want_fe[x][y] = c.symbol * ne[x][y];
      }
    fresh_history();
    double before = max_abs(ne);
    double factor = 1 - dtt * diff * c.symbol;
    for (int x = 0; x <= nx1; x++)
      for (int y = 0; y <= ny1; y++) want_ne[x][y] = factor * ne[x][y];
    timestep();
    derive_output_fields();
    const double tol = 1e-11 * fmax(1.0, fabs(c.symbol));
    expect_field("hyve", hyve, want_fe, tol);
    expect_field("hyvi", hyvi, want_fe, tol);
    expect_field("ne", ne, want_ne, 1e-13);
    expect_field("ni", ni, want_ne, 1e-13);
    double ratio = max_abs(ne) / before;
    if (c.effect < 0) {
      EXPECT_LT(ratio, 0.995) << "a positive diff must damp the mode";
    } else if (c.effect > 0) {
      EXPECT_GT(ratio, 1.005) << "a positive diff amplifies the mode under the plain Laplacian";
    } else {
      EXPECT_NEAR(ratio, 1.0, 1e-14) << "no dissipation";
    }
  }
}

struct invariant_case {
  const char *name;
  double chat_value, taui_value, diff_value, vorfree_value;
  int ihype;
};

// After every step: zero-mean pe; cold ions give pi = pe and gni = ni exactly;
// ihype < -1 leaves hyve and hyvi zero.
TEST(TimeStep, InvariantsHoldAfterEveryStep) {
  const invariant_case cases[] = {{"warm ions, spectral dissipation", 1.0, 1.0, 1e-3, 0, 2},
                                  {"cold ions, no dissipation, no row averages", -1.0, 0.0, 0.0, 0, -5},
                                  {"cold ions, damped Laplacian, edge damping", 0.5, 0.0, -1e-3, 2, -1}};
  for (const invariant_case &c : cases) {
    SCOPED_TRACE(c.name);
    values19 v = test_values();
    v[v_chat] = c.chat_value;
    v[v_taui] = c.taui_value;
    v[v_diff] = c.diff_value;
    v[v_vorfree] = c.vorfree_value;
    v[v_ihype] = c.ihype;
    start_step(v);
    compute_xmask();
    smooth_random(ne, 41, 0.3, 0.0);
    smooth_random(ni, 42, 0.3, 0.0);
    fresh_history();
    zero_field(want_fe);
    for (int step = 1; step <= 30; step++) {
      SCOPED_TRACE("step " + std::to_string(step));
      timestep();
      derive_output_fields();
      double sum = 0.0;
      for (int x = 0; x <= nx1; x++)
        for (int y = 0; y <= ny1; y++) sum += pe[x][y];
      double scale = max_abs(pe);
      ASSERT_TRUE(std::isfinite(scale) && scale > 0) << "size of pe " << scale;
      EXPECT_LE(fabs(sum) / (nx * ny), 1e-14 * scale) << "mean of pe, expected 0, field size " << scale;
      if (taui == 0) {
        expect_field("pi - pe", pi, pe, 0.0);
        expect_field("gni - ni", gni, ni, 0.0);
      }
      if (ihype < -1) {
        expect_field("hyve", hyve, want_fe, 0.0);
        expect_field("hyvi", hyvi, want_fe, 0.0);
      }
      if (HasFailure()) return;
    }
  }
}

// Ten steps of a 32 x 32 turbulent state from v; leaves ne, ni, pe, pi.
void run_turbulent(const values19 &v) {
  start_step(v);
  smooth_random(ne, 51, 1.0, 0.0);
  smooth_random(ni, 52, 1.0, 0.0);
  fresh_history();
  for (int step = 0; step < 10; step++) timestep();
}

values19 turbulent_values() {
  values19 v = test_values();
  v[v_nx] = 32;
  v[v_ny] = 32;
  v[v_ly] = 20.0;
  v[v_diff] = 1e-3;
  v[v_ihype] = 2;
  v[v_dt] = 0.02;
  return v;
}

// ne, ni, pe, pi against the saved copies, relative to each field's size: plan choice and thread
// count only reorder additions.
void expect_same_turbulent_fields(array2d saved_ne, array2d saved_ni, array2d saved_pe, array2d saved_pi) {
  expect_field("ne", ne, saved_ne, 1e-12 * max_abs(saved_ne));
  expect_field("ni", ni, saved_ni, 1e-12 * max_abs(saved_ni));
  expect_field("pe", pe, saved_pe, 1e-12 * max_abs(saved_pe));
  expect_field("pi", pi, saved_pi, 1e-12 * max_abs(saved_pi));
}

TEST(TimeStep, MeasuredAndEstimatedPlansGiveTheSameFields) {
  values19 v = turbulent_values();
  fftw_forget_wisdom();  // so that the estimated plans cannot reuse measurements
  v[v_bplan] = 0;
  run_turbulent(v);
  copy_field(want_ne, ne), copy_field(want_ni, ni);
  copy_field(want_fe, pe), copy_field(want_fi, pi);
  v[v_bplan] = 1;
  run_turbulent(v);
  EXPECT_TRUE(b_plan);
  expect_same_turbulent_fields(want_ne, want_ni, want_fe, want_fi);
}

TEST(TimeStep, OneAndTwoThreadsGiveTheSameFields) {
  values19 v = turbulent_values();
  v[v_npar] = 1;
  run_turbulent(v);
  copy_field(want_ne, ne), copy_field(want_ni, ni);
  copy_field(want_fe, pe), copy_field(want_fi, pi);
  v[v_npar] = 2;
  run_turbulent(v);
  int team = 0;
#pragma omp parallel
  team = omp_get_num_threads();
  EXPECT_EQ(team, 2);
  expect_same_turbulent_fields(want_ne, want_ni, want_fe, want_fi);
}

}  // namespace
