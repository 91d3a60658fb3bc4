// Test support for fields on the grid: extremes and differences over the used extent, smooth
// random fields, bare grids and the clean start of a time-step test.
#include "support/fields.hpp"

#include <gtest/gtest.h>
#include <omp.h>

#include <cmath>
#include <cstring>
#include <map>
#include <random>
#include <vector>

#include "driver/driver.hpp"
#include "initial/initial.hpp"
#include "parallel/processes.hpp"
#include "scheme/scheme.hpp"
#include "setup/setup.hpp"
#include "support/reference_step.hpp"

namespace {
const double twopi = 6.283185307179586;
// The registered test fields and their storage (made on first use: files register during static
// initialisation).
std::map<array2d *, std::vector<double>> &test_storage() {
  static std::map<array2d *, std::vector<double>> storage;
  return storage;
}
}  // namespace

bool register_test_fields(std::initializer_list<array2d *> fields) {
  for (array2d *f : fields) test_storage()[f];
  return true;
}

void allocate_test_fields() {
  // The rows of this process's slab and two halo rows on each side, as the program's fields.
  const std::ptrdiff_t stride = field_stride(ny);
  const size_t size = static_cast<size_t>(slab_rows + 4) * stride;
  for (auto &entry : test_storage()) {
    // Like the fixed arrays of a test: what a test saved survives a set-up of the same shape.
    if (entry.second.size() != size || entry.first->stride != stride) entry.second.assign(size, 0.0);
    *entry.first = array2d{entry.second.data() + (2 - slab_first) * stride, stride};
  }
}

void copy_field(array2d to, const array2d from) {
  for (int x = 0; x <= nx1; x++) memcpy(to[x], from[x], sizeof(double) * ny);
}

void zero_field(array2d f) {
  if (!f.base) return;
  for (int x = 0; x <= nx1; x++) memset(f[x], 0, sizeof(double) * ny);
}

double max_abs(const array2d f) {
  double m = 0.0;
  for (int x = 0; x <= nx1; x++)
    for (int y = 0; y <= ny1; y++) m = fmax(m, fabs(f[x][y]));
  return m;
}

double max_abs_or_inf(const array2d f) {
  double m = 0;
  for (int i = 0; i < nx; i++)
    for (int j = 0; j < ny; j++) m = std::isnan(f[i][j]) ? INFINITY : std::fmax(m, std::fabs(f[i][j]));
  return m;
}

double max_diff(const array2d got, const array2d want, int *at_x, int *at_y) {
  double worst = 0.0;
  *at_x = *at_y = 0;
  for (int x = 0; x <= nx1; x++)
    for (int y = 0; y <= ny1; y++) {
      double d = fabs(got[x][y] - want[x][y]);
      if (std::isnan(d)) {
        *at_x = x, *at_y = y;
        return d;
      }
      if (d > worst) worst = d, *at_x = x, *at_y = y;
    }
  return worst;
}

void expect_field(const char *name, const array2d got, const array2d want, double tol) {
  int x, y;
  double d = max_diff(got, want, &x, &y);
  EXPECT_LE(d, tol) << name << " at [" << x << "][" << y << "]: got " << got[x][y] << ", expected " << want[x][y]
                    << ", difference " << d;
}

void smooth_random(array2d f, unsigned seed, double amplitude, double offset) {
  std::mt19937 gen(seed);
  std::uniform_real_distribution<double> u(-1.0, 1.0);
  for (int x = 0; x <= nx1; x++)
    for (int y = 0; y <= ny1; y++) f[x][y] = offset;
  const int kmax = 3;
  for (int mx = 0; mx <= kmax; mx++)
    for (int my = -kmax; my <= kmax; my++) {
      if (mx == 0 && my <= 0) continue;
      double a = amplitude * u(gen), phase = M_PI * u(gen);
      for (int x = 0; x <= nx1; x++)
        for (int y = 0; y <= ny1; y++)
          f[x][y] += a * cos(twopi * (static_cast<double>(mx) * x / nx + static_cast<double>(my) * y / ny) + phase);
    }
}

void set_grid(int gridx, int gridy, double length) {
  values19 v = test_values();
  v[v_nx] = gridx;
  v[v_ny] = gridy;
  v[v_ly] = length;
  set_run_constants(v.data());
  omp_set_num_threads(npar);
  allocate_grid();
  allocate_test_fields();
}

void start_grid(const values19 &v, double cfl_value) { setup_run(v, cfl_value); }

void start_step(const values19 &v, double cfl_value) { start_grid(v, cfl_value); }

void fresh_history() {
  reference_fields();
  complete_start_state();
  derive_dissipation();
}
