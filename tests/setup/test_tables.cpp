// The Fourier-space coefficient tables and gamma0. On a 4 by 4 box of length 2 pi the wavenumbers
// are the signed indices themselves, so the entries are simple fractions worked out by hand;
// gamma0 is compared with the Bessel function it approximates; the index split of odd sizes, the
// mirror symmetry of even sizes and every dissipation branch are checked on the whole table.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "common/state.hpp"
#include "driver/driver.hpp"
#include "setup/setup.hpp"
#include "support/fields.hpp"
#include "support/run_setup.hpp"

namespace {

array2d saved[5];  // the five tables of an earlier build
[[maybe_unused]] const bool registered = register_test_fields({&saved[0], &saved[1], &saved[2], &saved[3], &saved[4]});

// Build the tables from v on zeroed arrays, as at program start.
void build(const values19 &v) {
  set_run_constants(v.data());
  allocate_grid();
  allocate_test_fields();
  build_tables();
}

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
    const array2d &table;
    int i, j;
    double value;
  };
  const entry entries[] = {
      {"cvort", cvort, 1, 0, -1.0 / 8},  {"clap", clap, 1, 0, -n},         {"cpoti", cpoti, 1, 0, 1.0 / 24},
      {"cvfis", cvfis, 1, 0, 3.0 / 32},  {"cvort", cvort, 3, 0, -1.0 / 8}, {"clap", clap, 3, 0, -n},
      {"cpoti", cpoti, 3, 0, 1.0 / 24},  {"cvfis", cvfis, 3, 0, 3.0 / 32}, {"cvort", cvort, 2, 0, -5.0 / 64},
      {"clap", clap, 2, 0, -4 * n},      {"cpoti", cpoti, 2, 0, 1.0 / 48}, {"cvort", cvort, 0, 0, 0.0},
      {"clap", clap, 0, 0, 0.0},         {"cpoti", cpoti, 0, 0, n},        {"cvfis", cvfis, 0, 0, n},
      {"cvort", cvort, 0, 3, -1.0 / 8},  {"clap", clap, 2, 2, -8 * n},     {"cvort", cvort, 3, 3, -3.0 / 32},
  };
  for (const entry &e : entries)
    EXPECT_NEAR(e.table[e.i][e.j], e.value, 1e-15) << e.name << "[" << e.i << "][" << e.j << "]";

  // Without the gyro-radius term of the polarisation (value 2 negative) P = k^2, G unchanged.
  values19 v = box(4, 4);
  v[v_taui] = -1;
  build(v);
  EXPECT_NEAR(cvort[1][0], -n, 1e-15);
  EXPECT_NEAR(cvort[2][0], -n / 4, 1e-15);
  EXPECT_NEAR(cpoti[1][0], 1.0 / 24, 1e-15);
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
      EXPECT_NEAR(cpoti[i][j], n * std::sqrt(gamma0(b)), 1e-15) << "[" << i << "][" << j << "]";
      EXPECT_NEAR(cvfis[i][j], n / std::sqrt(gamma0(b)), 1e-15) << "[" << i << "][" << j << "]";
      double want = i + j == 0 ? 0.0 : -n * 0.5 / (1 - gamma0(b));
      EXPECT_NEAR(cvort[i][j], want, 1e-14) << "[" << i << "][" << j << "]";
    }
}

TEST(Tables, DissipationBranches) {
  struct branch {
    int ihype;
    double at22;  // chyv[2][2] with k^2 = 8, times nx*ny
  };
  const branch branches[] = {{1, 8},  {2, 64}, {4, 4096}, {8, 262144},  // 8 is k^12, the sixth power
                             {-1, 0}, {0, 0},  {3, 0},    {5, 0}, {16, 0}};
  for (const branch &b : branches) {
    values19 v = box(4, 4);
    v[v_ihype] = b.ihype;
    build(v);
    EXPECT_NEAR(chyv[2][2], b.at22 / 16, 1e-12 * b.at22) << "ihype = " << b.ihype;
    EXPECT_EQ(chyv[0][0], 0.0) << "ihype = " << b.ihype;
    if (b.at22 == 0) {
      for (int i = 0; i < 4; i++)
        for (int j = 0; j < 4; j++) EXPECT_EQ(chyv[i][j], 0.0) << "ihype = " << b.ihype << " [" << i << "][" << j << "]";
    }
  }
}

TEST(Tables, ColdIonsUseATinyGyroRadius) {
  for (int form = 0; form <= 1; form++) {
    values19 v = box(6, 4);
    v[v_ipade] = form;
    v[v_taui] = 1e-6;
    build(v);
    copy_field(saved[0], cvfis);
    copy_field(saved[1], cpoti);
    copy_field(saved[2], cvort);
    copy_field(saved[3], clap);
    copy_field(saved[4], chyv);
    v[v_taui] = 0;
    build(v);
    EXPECT_EQ(taui, 0.0);
    const array2d *tables[] = {&cvfis, &cpoti, &cvort, &clap, &chyv};
    for (int t = 0; t < 5; t++)
      for (int i = 0; i < 6; i++)
        for (int j = 0; j < 4; j++) {
          EXPECT_EQ((*tables[t])[i][j], saved[t][i][j]) << "ipade " << form << " table " << t << " [" << i << "][" << j << "]";
          EXPECT_TRUE(std::isfinite((*tables[t])[i][j])) << "ipade " << form << " table " << t << " [" << i << "][" << j << "]";
        }
  }
}

TEST(Tables, OddSizesSplitTheIndexAtHalf) {
  // ly = 2 pi: ky = jy; kx = 2 pi hy ix / nx with hy = ny / (2 pi), so kx = ix ny / nx.
  build(box(5, 5));
  const int signed_index[5] = {0, 1, -3, -2, -1};
  for (int i = 0; i < 5; i++) {
    double k2 = signed_index[i] * signed_index[i];
    EXPECT_NEAR(clap[i][0], -k2 / 25, 1e-14) << "clap[" << i << "][0]";
    EXPECT_NEAR(clap[0][i], -k2 / 25, 1e-14) << "clap[0][" << i << "]";
  }
  build(box(6, 3));
  const int signed_six[6] = {0, 1, 2, -3, -2, -1};
  for (int i = 0; i < 6; i++) {
    double kx = signed_six[i] * 0.5;
    EXPECT_NEAR(clap[i][0], -kx * kx / 18, 1e-14) << "clap[" << i << "][0]";
  }
  // ny = 3: nyh = 1, so j = 1 is already negative: jy runs 0, -2, -1.
  EXPECT_NEAR(clap[0][1], -4.0 / 18, 1e-14);
  EXPECT_NEAR(clap[0][2], -1.0 / 18, 1e-14);
}

TEST(Tables, EvenSizesAreMirrorSymmetric) {
  for (int form = 0; form <= 1; form++) {
    values19 v = box(8, 6);
    v[v_ly] = 3.7;
    v[v_taui] = 0.8;
    v[v_ipade] = form;
    v[v_ihype] = 2;
    build(v);
    const array2d *tables[] = {&cvfis, &cpoti, &cvort, &clap, &chyv};
    for (int t = 0; t < 5; t++)
      for (int i = 0; i < 8; i++)
        for (int j = 0; j < 6; j++) {
          double here = (*tables[t])[i][j], mirror = (*tables[t])[(8 - i) % 8][(6 - j) % 6];
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
