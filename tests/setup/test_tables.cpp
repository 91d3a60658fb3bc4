// The Fourier-space coefficients and gamma0. On a 4 by 4 box of length 2 pi the wavenumbers are the
// signed indices themselves, so the entries are simple fractions worked out by hand; gamma0 is
// compared with the Bessel function it approximates; the index split of odd sizes, the mirror
// symmetry of even sizes and every dissipation branch are checked on every index (table_point); the
// tables the program keeps hold their symmetric parts on the half spectrum.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "common/state.hpp"
#include "driver/driver.hpp"
#include "parallel/processes.hpp"
#include "setup/setup.hpp"
#include "support/fields.hpp"
#include "support/run_setup.hpp"

namespace {

// Build the tables from v on zeroed arrays, as at program start.
void build(const values19 &v) {
  set_run_constants(v.data());
  allocate_grid();
  allocate_test_fields();
  build_tables();
}

// The five coefficients, each as a member of table_values.
typedef double table_values::*coefficient;
const coefficient all[5] = {&table_values::cvfis, &table_values::cpoti, &table_values::cvort, &table_values::clap,
                            &table_values::chyv};

// A box of nx by ny points whose y length is 2 pi, so that ky equals the signed index jy.
values19 box(int gridx, int gridy) {
  values19 v = test_values();
  v[v_nx] = gridx;
  v[v_ny] = gridy;
  v[v_ly] = 2 * M_PI;
  return v;
}

TEST(Tables, HandWorkedEntriesOfTheFourByFourBox) {
  build(box(4, 4));  // taui = 1, Pade form, xlwl = 1
  const double n = 1.0 / 16;
  struct entry {
    const char *name;
    coefficient table;
    int i, j;
    double value;
  };
  const entry entries[] = {
      {"cvort", &table_values::cvort, 1, 0, -1.0 / 8},  {"clap", &table_values::clap, 1, 0, -n},
      {"cpoti", &table_values::cpoti, 1, 0, 1.0 / 24},  {"cvfis", &table_values::cvfis, 1, 0, 3.0 / 32},
      {"cvort", &table_values::cvort, 3, 0, -1.0 / 8},  {"clap", &table_values::clap, 3, 0, -n},
      {"cpoti", &table_values::cpoti, 3, 0, 1.0 / 24},  {"cvfis", &table_values::cvfis, 3, 0, 3.0 / 32},
      {"cvort", &table_values::cvort, 2, 0, -5.0 / 64}, {"clap", &table_values::clap, 2, 0, -4 * n},
      {"cpoti", &table_values::cpoti, 2, 0, 1.0 / 48},  {"cvort", &table_values::cvort, 0, 0, 0.0},
      {"clap", &table_values::clap, 0, 0, 0.0},         {"cpoti", &table_values::cpoti, 0, 0, n},
      {"cvfis", &table_values::cvfis, 0, 0, n},         {"cvort", &table_values::cvort, 0, 3, -1.0 / 8},
      {"clap", &table_values::clap, 2, 2, -8 * n},      {"cvort", &table_values::cvort, 3, 3, -3.0 / 32},
  };
  for (const entry &e : entries)
    EXPECT_NEAR(table_point(e.i, e.j).*e.table, e.value, 1e-15) << e.name << "[" << e.i << "][" << e.j << "]";

  // Without the gyro-radius term of the polarisation (value 2 negative) P = k^2, G unchanged.
  values19 v = box(4, 4);
  v[v_taui] = -1;
  build(v);
  EXPECT_NEAR(table_point(1, 0).cvort, -n, 1e-15);
  EXPECT_NEAR(table_point(2, 0).cvort, -n / 4, 1e-15);
  EXPECT_NEAR(table_point(1, 0).cpoti, 1.0 / 24, 1e-15);
}

TEST(Tables, Gamma0FormOnTheFourByFourBox) {
  values19 v = box(4, 4);
  v[v_ipade] = 1;
  v[v_taui] = 0.5;
  build(v);
  const double n = 1.0 / 16;
  for (int i = 0; i < 4; i++)
    for (int j = 0; j < 4; j++) {
      int ix = i < 2 ? i : i - 4, jy = j < 2 ? j : j - 4;
      double k2 = ix * ix + jy * jy, b = 0.5 * k2;
      const table_values t = table_point(i, j);
      EXPECT_NEAR(t.cpoti, n * std::sqrt(gamma0(b)), 1e-15) << "[" << i << "][" << j << "]";
      EXPECT_NEAR(t.cvfis, n / std::sqrt(gamma0(b)), 1e-15) << "[" << i << "][" << j << "]";
      double want = i + j == 0 ? 0.0 : -n * 0.5 / (1 - gamma0(b));
      EXPECT_NEAR(t.cvort, want, 1e-14) << "[" << i << "][" << j << "]";
    }
}

TEST(Tables, DissipationBranches) {
  struct branch {
    int ihype;
    double at22;  // chyv[2][2] with k^2 = 8, times nx*ny
  };
  const branch branches[] = {{1, 8},  {2, 64}, {4, 4096}, {6, 512}, {8, 262144},  // 6 is k^6, 8 is k^12
                             {-1, 0}, {0, 0},  {3, 0},    {5, 0},   {16, 0}};
  for (const branch &b : branches) {
    values19 v = box(4, 4);
    v[v_ihype] = b.ihype;
    build(v);
    EXPECT_NEAR(table_point(2, 2).chyv, b.at22 / 16, 1e-12 * b.at22) << "ihype = " << b.ihype;
    EXPECT_EQ(table_point(0, 0).chyv, 0.0) << "ihype = " << b.ihype;
    if (b.at22 == 0) {
      for (int i = 0; i < 4; i++)
        for (int j = 0; j < 4; j++)
          EXPECT_EQ(table_point(i, j).chyv, 0.0) << "ihype = " << b.ihype << " [" << i << "][" << j << "]";
    }
  }
}

TEST(Tables, ColdIonsUseATinyGyroRadius) {
  for (int form = 0; form <= 1; form++) {
    values19 v = box(6, 4);
    v[v_ipade] = form;
    v[v_taui] = 1e-6;
    build(v);
    table_values tiny[6][4];
    for (int i = 0; i < 6; i++)
      for (int j = 0; j < 4; j++) tiny[i][j] = table_point(i, j);
    v[v_taui] = 0;
    build(v);
    EXPECT_EQ(taui, 0.0);
    for (int t = 0; t < 5; t++)
      for (int i = 0; i < 6; i++)
        for (int j = 0; j < 4; j++) {
          const double got = table_point(i, j).*all[t];
          EXPECT_EQ(got, tiny[i][j].*all[t]) << "ipade " << form << " table " << t << " [" << i << "][" << j << "]";
          EXPECT_TRUE(std::isfinite(got)) << "ipade " << form << " table " << t << " [" << i << "][" << j << "]";
        }
  }
}

TEST(Tables, OddSizesSplitTheIndexAtHalf) {
  // ly = 2 pi: ky = jy; kx = 2 pi hy ix / nx with hy = ny / (2 pi), so kx = ix ny / nx.
  build(box(5, 5));
  const int signed_index[5] = {0, 1, -3, -2, -1};
  for (int i = 0; i < 5; i++) {
    double k2 = signed_index[i] * signed_index[i];
    EXPECT_NEAR(table_point(i, 0).clap, -k2 / 25, 1e-14) << "clap[" << i << "][0]";
    EXPECT_NEAR(table_point(0, i).clap, -k2 / 25, 1e-14) << "clap[0][" << i << "]";
  }
  build(box(6, 3));
  const int signed_six[6] = {0, 1, 2, -3, -2, -1};
  for (int i = 0; i < 6; i++) {
    double kx = signed_six[i] * 0.5;
    EXPECT_NEAR(table_point(i, 0).clap, -kx * kx / 18, 1e-14) << "clap[" << i << "][0]";
  }
  // ny = 3: nyh = 1, so j = 1 is already negative: jy runs 0, -2, -1.
  EXPECT_NEAR(table_point(0, 1).clap, -4.0 / 18, 1e-14);
  EXPECT_NEAR(table_point(0, 2).clap, -1.0 / 18, 1e-14);
}

// The tables the program keeps: at element (r, c) of the half spectrum of one process (row kx,
// column ky) the symmetric part (c(k) + c(-k))/2 of the coefficient, which for odd sizes differs
// from c(k) at the highest modes; on an odd and an even grid, every table.
TEST(Tables, KeepTheSymmetricPartsOnTheHalfSpectrum) {
  for (const int size : {5, 6}) {
    values19 v = box(size, size + 1);
    v[v_ihype] = 2;
    build(v);
    const double *kept[5] = {cvfis, cpoti, cvort, clap, chyv};
    ASSERT_EQ(spectrum_rows(), size);
    ASSERT_EQ(spectrum_columns(), (size + 1) / 2 + 1);
    for (int t = 0; t < 5; t++)
      for (int r = 0; r < spectrum_rows(); r++)
        for (int c = 0; c < spectrum_columns(); c++) {
          const int i = r, j = c, mi = (size - i) % size, mj = (size + 1 - j) % (size + 1);
          const double want = 0.5 * (table_point(i, j).*all[t] + table_point(mi, mj).*all[t]);
          EXPECT_EQ(kept[t][r * spectrum_columns() + c], want) << "table " << t << " [" << i << "][" << j << "]";
        }
  }
}

TEST(Tables, EvenSizesAreMirrorSymmetric) {
  for (int form = 0; form <= 1; form++) {
    values19 v = box(8, 6);
    v[v_ly] = 3.7;
    v[v_taui] = 0.8;
    v[v_ipade] = form;
    v[v_ihype] = 2;
    build(v);
    for (int t = 0; t < 5; t++)
      for (int i = 0; i < 8; i++)
        for (int j = 0; j < 6; j++) {
          double here = table_point(i, j).*all[t], mirror = table_point((8 - i) % 8, (6 - j) % 6).*all[t];
          EXPECT_NEAR(here, mirror, 1e-15 * std::fabs(here)) << "ipade " << form << " table " << t << " [" << i << "][" << j << "]";
        }
  }
}

TEST(Gamma0, BoundsAndMonotony) {
  EXPECT_EQ(gamma0(0), 1.0);
  EXPECT_GT(gamma0(1), 0.46);
  EXPECT_LT(gamma0(1), 0.47);
  EXPECT_GT(gamma0(10), 0.12);
  EXPECT_LT(gamma0(10), 0.13);
  double previous = gamma0(0);
  for (int k = 1; k <= 20000; k++) {
    double b = 0.01 * k, g = gamma0(b);
    ASSERT_LT(g, previous) << "gamma0 does not decrease at b = " << b;
    previous = g;
  }
}

TEST(Gamma0, ApproximatesTheScaledBesselFunction) {
  // I0(b) exp(-b) within 1 % for b >= 0.
  for (int k = 0; k <= 4000; k++) {
    double b = 0.05 * k;
    double exact = std::cyl_bessel_i(0.0, b) * std::exp(-b);
    double relative = gamma0(b) / exact - 1;
    ASSERT_LT(std::fabs(relative), 0.01) << "b = " << b << ": gamma0 " << gamma0(b) << ", I0(b) exp(-b) " << exact;
  }
}

}  // namespace
