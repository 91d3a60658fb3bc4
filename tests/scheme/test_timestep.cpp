// The time step: a state without forcing kept, the coupling, drive and wrap of the right-hand
// sides, the history moved back by one level, the sign and size of every dissipation branch on a
// Fourier mode, the invariants that hold after every step, and the independence of the fields from
// the FFT planning rigour and the thread count; and the order of accuracy in time, third, with
// fixed and adaptive steps, against the exact solution of a linear mode. The update itself, point
// by point from distinct history levels, is checked against the plain reference step
// (test_timestep_reference.cpp).
#include <gtest/gtest.h>
#include <omp.h>

#include <cfloat>
#include <cmath>
#include <complex>
#include <cstdio>
#include <cstring>
#include <random>
#include <vector>

#include "initial/initial.hpp"
#include "operators/operators.hpp"
#include "scheme/scheme.hpp"
#include "setup/setup.hpp"
#include "support/dirs.hpp"
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
  timestep(dt);
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
    timestep(dt);
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
  timestep(dt);
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
  timestep(dt);
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
    timestep(dt);
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
  double cfl_value = 0.0;  // adaptive steps: the coupling and dissipation implicit (the step stays dt)
};

// After every step: zero-mean pe; cold ions give pi = pe and gni = ni exactly;
// ihype < -1 leaves hyve and hyvi zero.
TEST(TimeStep, InvariantsHoldAfterEveryStep) {
  const invariant_case cases[] = {{"warm ions, spectral dissipation", 1.0, 1.0, 1e-3, 0, 2},
                                  {"cold ions, no dissipation, no row averages", -1.0, 0.0, 0.0, 0, -5},
                                  {"cold ions, damped Laplacian, edge damping", 0.5, 0.0, -1e-3, 2, -1},
                                  {"adaptive, warm ions, spectral dissipation, edge damping", 1.0, 1.0, 1e-3, 2, 2, 0.5},
                                  {"adaptive, cold ions, no dissipation", -1.0, 0.0, 0.0, 0, -5, 0.5}};
  for (const invariant_case &c : cases) {
    SCOPED_TRACE(c.name);
    values19 v = test_values();
    v[v_chat] = c.chat_value;
    v[v_taui] = c.taui_value;
    v[v_diff] = c.diff_value;
    v[v_vorfree] = c.vorfree_value;
    v[v_ihype] = c.ihype;
    start_step(v, c.cfl_value);
    compute_xmask();
    smooth_random(ne, 41, 0.3, 0.0);
    smooth_random(ni, 42, 0.3, 0.0);
    fresh_history();
    zero_field(want_fe);
    for (int step = 1; step <= 30; step++) {
      SCOPED_TRACE("step " + std::to_string(step));
      timestep(dt);
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
  for (int step = 0; step < 10; step++) timestep(dt);
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

// ---- Order of accuracy in time ----
//
// With the brackets off, the mode exp(i(kx x + ky y)) of (ne, Ni) evolves as dc/dt = M c (see
// test_linear_growth.cpp for M, with k' = hy sin(ky/hy) the centred difference's wavenumber). Its
// exact solution c(t) = exp(M t) c(0) (Sylvester's formula for a 2 x 2 matrix) is the reference:
// the program's ne at t = 1 against Re(c_e(1) exp(i k.x)).

typedef std::complex<double> complex;

struct mode_matrix {
  complex m[2][2];        // M: everything
  complex explicit_m[2][2];  // the part the step takes explicitly with adaptive steps (the drive)
  double inverse_p, gamma;   // 1/P and Gamma of the mode
};

// M of mode (mx, my) for the run constants, from the model's formulas (Pade or gamma0, cold ions
// with Gamma = 1), the coupling left out for ky = 0 when b_mhw, D the symbol of ihype.
mode_matrix linear_matrix(int mx, int my) {
  const double kx = twopi * hy * mx / nx, ky = twopi * hy * my / ny, k2 = kx * kx + ky * ky;
  const double tau = taui == 0 ? 1e-6 : taui, b = k2 * tau;
  double g = ipade == 0 ? 1.0 / (1.0 + 0.5 * b) : sqrt(gamma0(b));
  const double p = ipade == 0 ? k2 / (1.0 + xlwl * b) : (1.0 - gamma0(b)) / tau;
  if (taui == 0) g = 1.0;
  const double h = 1.0 / hy;
  const double fd = (32 * cos(kx * h) - 2 * cos(2 * kx * h) - 30 + 32 * cos(ky * h) - 2 * cos(2 * ky * h) - 30) / (12 * h * h);
  double symbol = 0.0;
  if (ihype == -1) symbol = fd;
  if (ihype == 0) symbol = fd * fd;
  if (ihype == 2) symbol = k2 * k2;
  const complex i(0.0, 1.0);
  const double kd = 2.0 * hyd * sin(ky * h), c = (b_mhw && my == 0) ? 0.0 : chat;
  mode_matrix m;
  m.inverse_p = 1.0 / p;
  m.gamma = g;
  m.explicit_m[0][0] = i * kd / p;
  m.explicit_m[0][1] = -i * kd * g / p;
  m.explicit_m[1][0] = i * kd * g / p;
  m.explicit_m[1][1] = -i * kd * g * g / p;
  m.m[0][0] = m.explicit_m[0][0] - c * (1.0 + 1.0 / p) - diff * symbol;
  m.m[0][1] = m.explicit_m[0][1] + c * g / p;
  m.m[1][0] = m.explicit_m[1][0];
  m.m[1][1] = m.explicit_m[1][1] - diff * symbol;
  return m;
}

// exp(M t) c by Sylvester's formula.
void propagate(const complex m[2][2], double t, const complex c[2], complex out[2]) {
  const complex half_trace = 0.5 * (m[0][0] + m[1][1]);
  const complex root = sqrt(0.25 * (m[0][0] - m[1][1]) * (m[0][0] - m[1][1]) + m[0][1] * m[1][0]);
  const complex l1 = half_trace + root, l2 = half_trace - root;
  const complex e1 = exp(l1 * t), e2 = exp(l2 * t);
  // exp(Mt) = (e1 (M - l2) - e2 (M - l1)) / (l1 - l2)
  for (int r = 0; r < 2; r++) {
    complex sum = 0.0;
    for (int k = 0; k < 2; k++) {
      const complex delta = r == k ? 1.0 : 0.0;
      sum += (e1 * (m[r][k] - l2 * delta) - e2 * (m[r][k] - l1 * delta)) / (l1 - l2) * c[k];
    }
    out[r] = sum;
  }
}

// f = Re(a exp(i 2 pi (mx x/nx + my y/ny))) on the grid.
void put_mode(array2d f, complex a, int mx, int my) {
  for (int x = 0; x <= nx1; x++)
    for (int y = 0; y <= ny1; y++)
      f[x][y] = (a * std::polar(1.0, twopi * (static_cast<double>(mx) * x / nx + static_cast<double>(my) * y / ny))).real();
}

// The state of the mode at time t of the exact solution from c0: ne, ni, pe, pi, and at levels
// 1 and 2 (t - h1, t - h1 - h2) the densities and the right-hand sides of the step's explicit part.
void exact_history(const mode_matrix &m, const complex c0[2], double h1, double h2, bool adaptive, int mx, int my) {
  complex c[3][2];
  propagate(m.m, 0.0, c0, c[0]);
  propagate(m.m, -h1, c0, c[1]);
  propagate(m.m, -h1 - h2, c0, c[2]);
  array2d *n_e[3] = {&ne, &ne1, &ne2}, *n_i[3] = {&ni, &ni1, &ni2}, *f_e[3] = {nullptr, &fne1, &fne2},
          *f_i[3] = {nullptr, &fni1, &fni2};
  const auto &a = adaptive ? m.explicit_m : m.m;
  for (int level = 0; level < 3; level++) {
    put_mode(*n_e[level], c[level][0], mx, my);
    put_mode(*n_i[level], c[level][1], mx, my);
    if (level == 0) continue;
    put_mode(*f_e[level], a[0][0] * c[level][0] + a[0][1] * c[level][1], mx, my);
    put_mode(*f_i[level], a[1][0] * c[level][0] + a[1][1] * c[level][1], mx, my);
  }
  const complex phi = -m.inverse_p * (c[0][0] - m.gamma * c[0][1]);
  put_mode(pe, phi, mx, my);
  put_mode(pi, m.gamma * phi, mx, my);
  stepping.h1 = h1;
  stepping.h2 = h2;
  stepping.levels = 3;
}

struct order_case {
  const char *name;
  double chat_value, taui_value, diff_value;
  int ipade, ihype;
  double cfl_value;
  bool exact_start;  // start from the exact history (else a fresh start: equal levels, as a run starts)
  bool random_steps;
};

// Largest |ne - exact| at t = 1 with steps of about h.
double mode_error(const order_case &c, double h) {
  values19 v = test_values();
  v[v_nx] = 8;
  v[v_ny] = 16;
  v[v_ly] = 10.0;
  v[v_chat] = c.chat_value;
  v[v_taui] = c.taui_value;
  v[v_diff] = c.diff_value;
  v[v_ipade] = c.ipade;
  v[v_ihype] = c.ihype;
  v[v_dt] = h;
  start_step(v, c.cfl_value);
  clin = 0.0;
  measure_explicit_rates();
  const int mx = 1, my = 1;
  const mode_matrix m = linear_matrix(mx, my);
  const complex c0[2] = {complex(1.0, 0.0), complex(0.3, -0.4)};
  // Steps of h, or a random sequence between 0.8 h and 1.2 h (consecutive ratios up to 1.5), scaled
  // to end at t = 1; the same sequence of shares for every h.
  std::mt19937 gen(3);
  std::uniform_real_distribution<double> share(0.8, 1.2);
  std::vector<double> steps;
  double total = 0.0;
  while (total < 1.0 - 1e-12) {
    const double step = c.random_steps ? share(gen) * h : h;
    steps.push_back(std::min(step, 1.0 - total));
    total += steps.back();
  }
  const double h1 = c.random_steps ? share(gen) * h : h, h2 = c.random_steps ? share(gen) * h : h;
  if (c.exact_start) {
    exact_history(m, c0, h1, h2, c.cfl_value > 0, mx, my);
    for (double step : steps) timestep(step);
  } else {
    exact_history(m, c0, h, h, false, mx, my);
    complete_start_state();  // equal levels and zero right-hand sides, the steps of a fresh start
    start_controller(0.0);
    for (double t = 0.0; t < 1.0;) {
      const double step = controlled_step(0.0, 1.0 - t);
      timestep(step);
      t = step == 1.0 - t ? 1.0 : t + step;
    }
  }
  complex exact[2];
  propagate(m.m, 1.0, c0, exact);
  put_mode(want_ne, exact[0], mx, my);
  int at_x, at_y;
  return max_diff(ne, want_ne, &at_x, &at_y);
}

// The error at t = 1 falls eightfold with every halving of the step: third order, for fixed steps
// from an exact history (a fresh run's start is first order there, as in earlier versions), and for
// adaptive steps from a fresh start and with a random sequence of steps, the coupling and the
// dissipation implicit.
TEST(StepOrder, ErrorFallsEightfoldWithEachHalvingOfTheStep) {
  const order_case cases[] = {
      {"fixed steps, ordinary coupling, warm ions", -0.5, 1.0, 0.0, 0, -5, 0.0, true, false},
      {"adaptive steps from a fresh start, modified coupling, gamma0, k^4", 0.5, 0.5, 1e-3, 1, 2, 0.5, false, false},
      {"adaptive random steps, ordinary coupling C = 2, cold ions, Laplacian", -2.0, 0.0, -1e-3, 0, -1, 0.5, true, true},
  };
  for (const order_case &c : cases) {
    SCOPED_TRACE(c.name);
    double errors[4];
    for (int k = 0; k < 4; k++) errors[k] = mode_error(c, 0.04 / (1 << k));
    for (int k = 1; k < 4; k++)
      std::printf("| %s: error %.3e at h = %g, ratio %.3f\n", c.name, errors[k], 0.04 / (1 << k), errors[k - 1] / errors[k]);
    for (int k = 2; k < 4; k++) {
      const double ratio = errors[k - 1] / errors[k];
      EXPECT_GT(ratio, 7.0) << "errors " << errors[k - 1] << " at h = " << 0.04 / (1 << (k - 1)) << " and " << errors[k]
                            << ": ratio " << ratio << ", expected 8 (third order)";
      EXPECT_LT(ratio, 9.0) << "errors " << errors[k - 1] << " and " << errors[k] << ": ratio " << ratio;
    }
  }
}

// The whole program on a nonlinear problem: a 64 x 64 blob (the blob example at half its size) to
// t = 4 with adaptive steps of at most dt (cfl 0.9: the steps are dt but for the start), dt halved
// three times. The difference of ne between the runs at dt and dt/2 falls about eightfold per
// halving once dt is small (measured 6.1 and 7.2 from dt 0.04 on, 6.2 to 7.2 on the 128^2 blob to
// t = 8, bench/blob_order.sh); fixed steps, which start at first order, halve it.
TEST(RunOrder, BlobDifferencesFallAboutEightfoldPerHalving) {
  std::vector<std::vector<double>> fields;
  for (double h : {0.02, 0.01, 0.005, 0.0025}) {
    values19 v = test_values();
    v[v_chat] = 0.5, v[v_taui] = 1.0, v[v_diff] = 2e-4, v[v_incon] = 0, v[v_sigma] = 2.0, v[v_amp] = 1.0;
    v[v_vorfree] = 1, v[v_ly] = 32, v[v_nx] = 64, v[v_ny] = 64, v[v_ihype] = 2, v[v_dt] = h;
    v[v_itstp] = std::round(1 / h);
    v[v_itmax] = 4 * v[v_itstp];
    const std::string dir = make_temp_dir();
    write_text(dir + "/tavo.inp", parameter_file(v, 0, 0, 0.9));
    std::string console;
    ASSERT_EQ(run_tavo(dir, &console), 0) << console;
    fields.push_back(netcdf_variable(dir + "/restart.nc", "ne"));
    ASSERT_EQ(fields.back().size(), 64u * 64u);
    remove_test_dir(dir);
  }
  double differences[3];
  for (int k = 0; k < 3; k++) {
    differences[k] = 0.0;
    for (size_t i = 0; i < fields[k].size(); i++)
      differences[k] = std::fmax(differences[k], std::fabs(fields[k][i] - fields[k + 1][i]));
  }
  const double ratio = differences[1] / differences[2];
  EXPECT_GT(ratio, 6.5) << "differences " << differences[0] << ", " << differences[1] << ", " << differences[2];
  EXPECT_LT(ratio, 9.0) << "differences " << differences[0] << ", " << differences[1] << ", " << differences[2];
}

}  // namespace
