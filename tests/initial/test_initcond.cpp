// The initial states: each start mode against its closed form, the field solves against the
// Fourier-space relations of the Pade model (checked with a direct discrete Fourier transform),
// the bath against its random mode table and block structure, and the completed multistep
// history with the start value of eno.
#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "common/state.hpp"
#include "initial/initial.hpp"
#include "support/fields.hpp"
#include "support/run_setup.hpp"

namespace {

typedef std::complex<double> cx;

// Discrete Fourier transform of the used extent of f (sign -1, unnormalised), element i*ny + j,
// summed directly so that it does not share code with the program's transforms.
std::vector<cx> dft(const array2d f) {
  std::vector<cx> rows(size_t(nx) * ny), out(size_t(nx) * ny);
  for (int x = 0; x < nx; x++)
    for (int j = 0; j < ny; j++) {
      cx sum = 0;
      for (int y = 0; y < ny; y++) sum += f[x][y] * std::polar(1.0, -2 * M_PI * double(j) * y / ny);
      rows[size_t(x) * ny + j] = sum;
    }
  for (int i = 0; i < nx; i++)
    for (int j = 0; j < ny; j++) {
      cx sum = 0;
      for (int x = 0; x < nx; x++) sum += rows[size_t(x) * ny + j] * std::polar(1.0, -2 * M_PI * double(i) * x / nx);
      out[size_t(i) * ny + j] = sum;
    }
  return out;
}

// Squared wavenumber of transform index (i, j).
double ksquared(int i, int j) {
  const int ix = i < nxh ? i : i - nx, jy = j < nyh ? j : j - ny;
  const double kx = 2 * M_PI * hy * ix / nx, ky = 2 * M_PI * hy * jy / ny;
  return kx * kx + ky * ky;
}

// Pade gyro-average and polarisation factors for taui = 1, xlwl = 1 (the test values).
double gyro(double k2) { return 1.0 / (1.0 + 0.5 * k2); }
double polar(double k2) { return k2 / (1.0 + k2); }

// Check that the spectrum of out is factor(k^2) times the spectrum of in at every wavenumber
// (except k = 0 when skip_mean), to a tolerance relative to the largest coefficient of in.
void expect_spectral_relation(const array2d in, const array2d out, double (*factor)(double), bool skip_mean,
                              const char *what) {
  std::vector<cx> fin = dft(in), fout = dft(out);
  double scale = 1e-300;
  for (const cx &c : fin) scale = std::max(scale, std::abs(c));
  double worst = 0;
  int wi = 0, wj = 0;
  for (int i = 0; i < nx; i++)
    for (int j = 0; j < ny; j++) {
      if (skip_mean && i == 0 && j == 0) continue;
      const size_t e = size_t(i) * ny + j;
      const double d = std::abs(fout[e] - factor(ksquared(i, j)) * fin[e]);
      if (!std::isnan(worst) && (std::isnan(d) || d > worst)) worst = d, wi = i, wj = j;
    }
  EXPECT_LE(worst, 1e-12 * scale) << what << ": largest deviation at wavenumber index (" << wi << ", " << wj
                                  << ") is " << worst << ", expected 0 to " << 1e-12 * scale;
}

// The largest |a - b| over the used extent, with its position, as a failure text; "" when all
// differences are within tol.
std::string compare_fields(const array2d a, const array2d b, double tol) {
  double worst = -1;
  int wx = 0, wy = 0;
  for (int x = 0; x <= nx1; x++)
    for (int y = 0; y <= ny1; y++) {
      const double d = std::fabs(a[x][y] - b[x][y]);
      if (!std::isnan(worst) && (std::isnan(d) || d > worst)) worst = d, wx = x, wy = y;  // NaN sticks
    }
  if (worst <= tol) return "";
  char text[200];
  snprintf(text, sizeof text, "at (%d, %d): got %.17g, expected %.17g, difference %.3g (tolerance %.3g)", wx, wy,
           a[wx][wy], b[wx][wy], worst, tol);
  return text;
}

array2d expected;  // closed form of a field under test
array2d first;     // the field of a first start
array2d bath_of[3];  // the baths of three seeds
[[maybe_unused]] const bool registered =
    register_test_fields({&expected, &first, &bath_of[0], &bath_of[1], &bath_of[2]});

// Prepare a small grid and an empty state, as the driver leaves it before the initial state.
void prepare(const values19 &v) {
  setup_run(v);
  clear_state();
}

// Run initcond with the C library's generator in its unseeded state (srand(1) equals no seeding)
// and return what it printed.
std::string start_state(double *t0) {
  srand(1);
  testing::internal::CaptureStdout();
  *t0 = initcond();
  fflush(stdout);
  return testing::internal::GetCapturedStdout();
}

TEST(InitialState, BlobHasHeightAmpWidthWsrcAndCentreNxhNyh) {
  values19 v = test_values();
  v[v_incon] = 0;
  v[v_amp] = 0.3;
  v[v_sigma] = 1.2;
  prepare(v);
  double t0;
  start_state(&t0);
  EXPECT_EQ(t0, 0.0);
  EXPECT_DOUBLE_EQ(dr, wsrc * wsrc);
  for (int x = 0; x <= nx1; x++)
    for (int y = 0; y <= ny1; y++)
      expected[x][y] = 0.3 * std::exp(-std::pow((x - 8) / wsrc, 2)) * std::exp(-std::pow((y - 8) / wsrc, 2));
  EXPECT_EQ(compare_fields(ne, expected, 1e-15), "") << "blob ne";
  EXPECT_EQ(ne[8][8], 0.3) << "the centre holds the full height";
  EXPECT_EQ(compare_fields(ni, ne, 0), "") << "without vorfree = 1, ni equals ne exactly";
}

TEST(InitialState, MergerHasTwoCentresOnRowNy1Half) {
  values19 v = test_values();
  v[v_incon] = 3;
  v[v_ly] = 16;  // hy = 1: wsrc = sigma grid points
  v[v_sigma] = 1.5;
  v[v_amp] = 0.2;
  prepare(v);
  double t0;
  start_state(&t0);
  EXPECT_EQ(hyd, 0.0) << "the merger removes the gradient drive";
  EXPECT_EQ(vorset, 0.01);
  // Centres at x = 8 -+ 3 on the row y = 15/2 = 7, one below nyh for the even ny.
  for (int x = 0; x <= nx1; x++)
    for (int y = 0; y <= ny1; y++)
      expected[x][y] = 0.2 * (std::exp(-(x - 5) * (x - 5) / 2.25) + std::exp(-(x - 11) * (x - 11) / 2.25)) *
                       std::exp(-(y - 7) * (y - 7) / 2.25);
  EXPECT_EQ(compare_fields(ne, expected, 1e-15), "") << "merger ne";
  double top = max_abs(ne);
  EXPECT_EQ(ne[5][7], top);
  EXPECT_EQ(ne[11][7], top);
  for (int x = 0; x <= nx1; x++)
    for (int y = 0; y <= ny1; y++) expected[x][y] = 0.99 * ne[x][y];
  EXPECT_EQ(compare_fields(ni, expected, 0), "") << "ni is exactly 0.99 ne";
  expect_spectral_relation(ni, gni, gyro, false, "gni = Gamma ni");
  for (int x = 0; x <= nx1; x++)
    for (int y = 0; y <= ny1; y++) expected[x][y] = ne[x][y] - gni[x][y];
  EXPECT_EQ(compare_fields(ww, expected, 1e-16), "") << "ww = ne - gni";
  // P(k) pe = -ww at every wavenumber but k = 0, where pe has no part.
  for (int x = 0; x <= nx1; x++)
    for (int y = 0; y <= ny1; y++) expected[x][y] = -pe[x][y];
  expect_spectral_relation(expected, ww, polar, true, "P pe = -ww");
  EXPECT_NEAR(std::abs(dft(pe)[0]), 0.0, 1e-13) << "mean of pe";
}

TEST(InitialState, ShearFlowProfileAndItsPotential) {
  values19 v = test_values();  // ly = 2 pi: the radial cosine is kx = 1, the perturbation ky = 5
  v[v_incon] = 4;
  v[v_amp] = 0.5;
  prepare(v);
  double t0;
  start_state(&t0);
  // -amp at x = 0, +amp at x = nxh; pe = -ww/P(k) with P(1) = 1/2 and P(25) = 25/26.
  for (int x = 0; x <= nx1; x++)
    for (int y = 0; y <= ny1; y++) expected[x][y] = 0.5 * std::cos(M_PI * (x - 8) / 8) + 0.0005 * std::sin(10 * M_PI * y / 16);
  EXPECT_EQ(compare_fields(ne, expected, 1e-15), "") << "shear flow ne";
  EXPECT_NEAR(ne[0][0], -0.5, 1e-15);
  EXPECT_NEAR(ne[8][0], 0.5, 1e-15);
  EXPECT_EQ(max_abs(ni), 0.0);
  EXPECT_EQ(max_abs(gni), 0.0);
  EXPECT_EQ(compare_fields(ww, ne, 0), "") << "ww equals ne when ni = 0";
  for (int x = 0; x <= nx1; x++)
    for (int y = 0; y <= ny1; y++)
      expected[x][y] = -2.0 * 0.5 * std::cos(M_PI * (x - 8) / 8) - (26.0 / 25.0) * 0.0005 * std::sin(10 * M_PI * y / 16);
  EXPECT_EQ(compare_fields(pe, expected, 1e-14), "") << "shear flow potential";
}

TEST(InitialState, SingleKyModeIsLinearWithEqualRows) {
  values19 v = test_values();  // ly = 2 pi: sigma = 3 gives three periods along y
  v[v_incon] = 5;
  v[v_sigma] = 3;
  v[v_amp] = 0.01;
  prepare(v);
  const double hyd_before = hyd;
  double t0;
  start_state(&t0);
  EXPECT_EQ(clin, 0.0) << "the single mode switches the brackets off";
  EXPECT_EQ(hyd, hyd_before) << "the drive stays";
  for (int x = 0; x <= nx1; x++)
    for (int y = 0; y <= ny1; y++) expected[x][y] = 0.01 * std::sin(3 * 2 * M_PI * y / 16);
  EXPECT_EQ(compare_fields(ne, expected, 1e-15), "") << "single mode ne";
  for (int x = 1; x <= nx1; x++) EXPECT_EQ(memcmp(ne[x], ne[0], sizeof(double) * ny), 0) << "row " << x;
  EXPECT_EQ(max_abs(ni), 0.0);
  for (int x = 0; x <= nx1; x++)
    for (int y = 0; y <= ny1; y++) expected[x][y] = -ne[x][y] * (1 + 9.0) / 9.0;  // -ww/P(9)
  EXPECT_EQ(compare_fields(pe, expected, 1e-15), "") << "single mode potential";
}

// Every start: its console text, the completed history, zero past tendencies, gni = Gamma ni,
// eno = (1/2)<exp(2 ne)> and the start time 0. Unknown values of incon start from zero fields.
TEST(InitialState, EveryStartCompletesTheHistory) {
  struct start_case {
    double incon;
    const char *text;
  } cases[] = {
      {0, "| blob initial condition...\n"},
      {1, "| start bath ... | bath done ...\n"},
      {3, "| merger initial condition...\n"},
      {4, "| shear flow initial condition...\n"},
      {5, "| single ky mode initial condition...\n"},
      {6, ""},
      {2.5, ""},
  };
  for (const start_case &c : cases) {
    SCOPED_TRACE("incon = " + std::to_string(c.incon));
    values19 v = test_values();
    v[v_incon] = c.incon;
    v[v_npar] = 2;  // the eno sum is shared between threads
    prepare(v);
    // Leftovers that the completion must overwrite.
    array2d *stale[] = {&ne1, &ne2, &ni1, &ni2, &fne1, &fne2, &fni1, &fni2, &gni};
    for (array2d *f : stale)
      for (int x = 0; x <= nx1; x++)
        for (int y = 0; y <= ny1; y++) (*f)[x][y] = 7.0 + x;
    double t0;
    EXPECT_EQ(start_state(&t0), c.text);
    EXPECT_EQ(t0, 0.0);
    for (array2d *f : {&ne1, &ne2}) EXPECT_EQ(compare_fields(*f, ne, 0), "") << "density levels";
    for (array2d *f : {&ni1, &ni2}) EXPECT_EQ(compare_fields(*f, ni, 0), "") << "ion levels";
    for (array2d *f : {&fne1, &fne2, &fni1, &fni2}) EXPECT_EQ(max_abs(*f), 0.0) << "past tendencies";
    expect_spectral_relation(ni, gni, gyro, false, "gni = Gamma ni");
    double sum = 0;
    for (int x = 0; x <= nx1; x++)
      for (int y = 0; y <= ny1; y++) sum += std::exp(2 * ne[x][y]);
    EXPECT_NEAR(eno, 0.5 * sum / (nx * ny), 1e-14) << "eno";
    if (c.text[0] == '\0') {
      EXPECT_EQ(max_abs(ne), 0.0);
      EXPECT_EQ(max_abs(ni), 0.0);
      EXPECT_EQ(eno, 0.5);
    } else {
      EXPECT_GT(max_abs(ne), 0.0);
    }
  }
}

// vorfree = 1 makes the start vorticity free for the blob and the bath (also with chat = 0):
// ni is the un-averaged ne, so gni = ne and ne - gni vanishes.
TEST(InitialState, VorticityFreeStart) {
  for (double incon : {0.0, 1.0})
    for (double chat : {1.0, 0.0}) {
      SCOPED_TRACE("incon = " + std::to_string(incon) + ", chat = " + std::to_string(chat));
      values19 v = test_values();
      v[v_incon] = incon;
      v[v_chat] = chat;
      v[v_vorfree] = 1;
      v[v_amp] = 0.4;
      prepare(v);
      double t0;
      start_state(&t0);
      EXPECT_EQ(compare_fields(gni, ne, 1e-15 * nx * ny * max_abs(ne)), "") << "gni against ne";
      expect_spectral_relation(ne, ni, [](double k2) { return 1.0 / gyro(k2); }, false, "ni = Gamma^-1 ne");
    }
}

// Without vorfree = 1 the bath's ions follow the electrons, or are zero when chat = 0.
TEST(Bath, IonDensityFollowsChat) {
  for (double chat : {1.0, 0.0}) {
    values19 v = test_values();
    v[v_incon] = 1;
    v[v_chat] = chat;
    prepare(v);
    double t0;
    start_state(&t0);
    if (chat == 0) EXPECT_EQ(max_abs(ni), 0.0);
    else EXPECT_EQ(compare_fields(ni, ne, 0), "");
    EXPECT_EQ(max_abs(ww), 0.0);
    EXPECT_EQ(max_abs(pe), 0.0);
    EXPECT_EQ(max_abs(pi), 0.0);
  }
}

// The 1024 draws of the mode table, taken i outer, j inner, from the unseeded generator.
void draw_modes(double amplitude, double table[33][33]) {
  for (int i = 1; i <= 32; i++)
    for (int j = 1; j <= 32; j++) {
      const int r = rand();
      const double s = (i * i + j * j) / 327.68;
      table[i][j] = amplitude * std::cos((r % 50) * 0.02 * 2 * M_PI) / std::sqrt(s * s * s * s + 1);
    }
}

// On a 64 x 64 grid the modes 1 .. 31 are orthogonal: projecting the bath onto
// cos(2 pi i x/64) cos(2 pi j y/64) must give back K A[i][j] amp/32 for the drawn table.
TEST(Bath, ModeAmplitudesComeFromTheDrawsInOrder) {
  values19 v = test_values();
  v[v_incon] = 1;
  v[v_nx] = v[v_ny] = 64;
  v[v_amp] = 0.5;
  prepare(v);
  double t0;
  start_state(&t0);

  static double table[33][33];
  srand(1);
  draw_modes(0.5, table);
  const double block = std::cos(2 * M_PI * (rand() % 100) * 0.01);

  static double wave[32][64];  // cos(2 pi i n/64)
  for (int i = 1; i < 32; i++)
    for (int n = 0; n < 64; n++) wave[i][n] = std::cos(2 * M_PI * i * n / 64);
  double worst = 0, scale = 0;
  int wi = 0, wj = 0;
  double got_w = 0, want_w = 0;
  for (int i = 1; i <= 31; i++)
    for (int j = 1; j <= 31; j++) {
      double proj = 0;
      for (int x = 0; x < 64; x++)
        for (int y = 0; y < 64; y++) proj += ne[x][y] * wave[i][x] * wave[j][y];
      proj *= 4.0 / (64 * 64);
      const double want = block * table[i][j] * 0.5 / 32;
      const double d = std::fabs(proj - want);
      scale = std::max(scale, std::fabs(want));
      if (!std::isnan(worst) && (std::isnan(d) || d > worst)) worst = d, wi = i, wj = j, got_w = proj, want_w = want;
    }
  EXPECT_LE(worst, 1e-12 * scale) << "mode (" << wi << ", " << wj << "): projection " << got_w << ", expected "
                                  << want_w << ", difference " << worst;
  EXPECT_GT(scale, 0.0);
}

// The bath grows with amp squared, and equal parameters give the identical field.
TEST(Bath, ScalesWithAmpSquaredAndRepeats) {
  values19 v = test_values();
  v[v_incon] = 1;
  v[v_amp] = 0.3;
  prepare(v);
  double t0;
  start_state(&t0);
  copy_field(first, ne);
  prepare(v);
  start_state(&t0);
  EXPECT_EQ(compare_fields(ne, first, 0), "") << "a second bath with equal parameters";
  v[v_amp] = 0.6;
  prepare(v);
  start_state(&t0);
  for (int x = 0; x <= nx1; x++)
    for (int y = 0; y <= ny1; y++) expected[x][y] = 4 * first[x][y];
  EXPECT_EQ(compare_fields(ne, expected, 1e-14 * max_abs(expected)), "") << "doubling amp";
}

// nx = 2 ny: two blocks along y of period ny/2 with their own factors K0, K1 (draws 1025 and
// 1026); the column ny/2 shared by both blocks carries both contributions. nx < ny: one block.
TEST(Bath, BlockStructure) {
  values19 v = test_values();
  v[v_incon] = 1;
  v[v_nx] = 32;
  v[v_ny] = 16;
  prepare(v);
  double t0;
  start_state(&t0);
  const int after = rand();  // the next draw shows how many the bath took
  static double table[33][33];
  srand(1);
  draw_modes(0.1, table);
  const double k0 = std::cos(2 * M_PI * (rand() % 100) * 0.01);
  const double k1 = std::cos(2 * M_PI * (rand() % 100) * 0.01);
  EXPECT_EQ(rand(), after) << "the bath takes 1024 + 2 draws";
  ASSERT_GT(std::fabs(k0), 0.1) << "pick other parameters: the first block factor is too small";
  const double tol = 1e-13 * max_abs(ne);  // the two blocks' cosines differ in rounding
  for (int x = 0; x <= nx1; x++) {
    for (int y = 1; y < 8; y++)
      EXPECT_NEAR(ne[x][y + 8] * k0, ne[x][y] * k1, tol) << "(" << x << ", " << y << ")";
    EXPECT_NEAR(ne[x][8] * k0, ne[x][0] * (k0 + k1), tol) << "shared column of row " << x;
  }

  v[v_nx] = 8;  // aspect 0.5 truncates to 0: one block
  prepare(v);
  start_state(&t0);
  const int after_one = rand();
  srand(1);
  draw_modes(0.1, table);
  rand();
  EXPECT_EQ(rand(), after_one) << "one block takes one draw";
  EXPECT_GT(max_abs(ne), 0.0);
  EXPECT_TRUE(std::isfinite(max_abs(ne)));
}

// iseed 0 is the unseeded bath of the tests above; other seeds give other baths, each the same on
// every call and thread count (the run constants reset iseed to 0, so it is set after prepare).
TEST(Bath, SeedsGiveDistinctReproducibleBaths) {
  values19 v = test_values();
  v[v_incon] = 1;
  v[v_nx] = 32;
  v[v_ny] = 16;  // two blocks: the block draws come from the seed too
  for (int seed : {0, 1, 2})
    for (int threads : {1, 2}) {
      v[v_npar] = threads;
      prepare(v);
      iseed = seed;
      double t0;
      start_state(&t0);
      iseed = 0;
      if (threads == 1) copy_field(bath_of[seed], ne);
      else EXPECT_EQ(compare_fields(ne, bath_of[seed], 0), "") << "iseed " << seed << " on two threads";
    }
  for (int a = 0; a < 3; a++)
    for (int b = a + 1; b < 3; b++) {
      for (int x = 0; x <= nx1; x++)
        for (int y = 0; y <= ny1; y++) expected[x][y] = bath_of[a][x][y] - bath_of[b][x][y];
      const double scale = std::max(max_abs(bath_of[a]), max_abs(bath_of[b]));
      EXPECT_GT(max_abs(expected), 0.2 * scale) << "iseed " << a << " and " << b << " should differ";
    }
}

}  // namespace
