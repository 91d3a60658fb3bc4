// The fields made for the run's grid: their layout (rows padded to an odd number of whole cache
// lines, aligned, no two fields or profiles sharing memory, the same point of different fields in
// different cache sets), and whole runs on grids the fixed arrays could not hold or far from a
// power of two, checked against the translation symmetry of the periodic model.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "common/state.hpp"
#include "parallel/processes.hpp"
#include "support/dirs.hpp"
#include "support/fields.hpp"
#include "support/run_setup.hpp"

namespace {

// Field f of the table.
array2d &field(int f) { return *field_table[f].field; }

// The value a test writes at point (x, y) of field f.
double mark(int f, int x, int y) { return f * 1e7 + x * 1e3 + y; }

TEST(FieldLayout, PaddedAlignedAndDisjoint) {
  const int grids[][2] = {{1, 1}, {3, 5}, {4, 8}, {5, 1024}, {2, 1100}, {64, 64}, {7, 97}};
  for (const auto &grid : grids) {
    SCOPED_TRACE(std::to_string(grid[0]) + " x " + std::to_string(grid[1]));
    set_grid(grid[0], grid[1], 1.0);
    const std::ptrdiff_t stride = ne.stride;
    EXPECT_GE(stride, ny);
    EXPECT_EQ(stride % 8, 0) << "stride " << stride << " is not whole 64-byte lines";
    EXPECT_EQ(stride / 8 % 2, 1) << "stride " << stride << " is an even number of lines";
    EXPECT_NE(stride & (stride - 1), 0) << "stride " << stride << " is a power of two";
    const int count = nfield_records;
    for (int f = 0; f < count; f++) {
      ASSERT_EQ(field(f).stride, stride) << "field " << f;
      for (int x = 0; x <= nx1; x++) {
        ASSERT_EQ(reinterpret_cast<std::uintptr_t>(field(f)[x]) % 64, 0u) << "field " << f << " row " << x;
        for (int y = 0; y <= ny1; y++) field(f)[x][y] = mark(f, x, y);
      }
    }
    // The profiles and means may be written whole without touching any field.
    for (double *profile : {xmask, neprof, peprof})
      for (int x = 0; x < nx; x++) profile[x] = -1.0;
    for (int k = 0; k <= nx / 2; k++) pkxavg[k] = -2.0;
    for (double *mean : {pkyavg, pkyavgn, pkyavgw, pkyavge})
      for (int k = 0; k <= ny / 2; k++) mean[k] = -3.0;
    // And so may the tables, on this process's part of the half spectrum.
    for (double *table : {cvfis, cpoti, cvort, clap, chyv})
      for (long k = 0; k < spectrum_elements(); k++) table[k] = -4.0;
    int wrong = 0;
    for (int f = 0; f < count; f++)
      for (int x = 0; x <= nx1; x++)
        for (int y = 0; y <= ny1; y++)
          if (field(f)[x][y] != mark(f, x, y) && wrong++ < 3)
            ADD_FAILURE() << "field " << f << " at (" << x << ", " << y << ") holds " << field(f)[x][y];
    for (int x = 0; x < nx; x++) EXPECT_EQ(xmask[x], -1.0) << "xmask overwritten at " << x;
    for (int k = 0; k <= nx / 2; k++) EXPECT_EQ(pkxavg[k], -2.0) << "pkxavg overwritten at " << k;
    for (double *mean : {pkyavg, pkyavgn, pkyavgw, pkyavge})
      for (int k = 0; k <= ny / 2; k++) EXPECT_EQ(mean[k], -3.0) << "a mean overwritten at " << k;
  }
}

// On a 64 x 1024 grid (every extent a power of two) the same point of every field lies in a
// different set of a cache with 64 sets of 64-byte lines.
TEST(FieldLayout, SamePointOfEveryFieldInItsOwnCacheSet) {
  set_grid(64, 1024, 1.0);
  std::set<std::uintptr_t> sets;
  for (int f = 0; f < nfield_records; f++) sets.insert(reinterpret_cast<std::uintptr_t>(field(f)[5] + 17) / 64 % 64);
  EXPECT_EQ(sets.size(), size_t(nfield_records));
}

// The records of a "restart.dat" by point: the twelve numbers after x and y.
std::vector<std::vector<double>> records(const std::string &path, int gridx, int gridy) {
  std::vector<std::vector<double>> by_point(size_t(gridx) * gridy);
  const std::vector<std::vector<double>> rows = rows_of(read_text(path));
  std::vector<double> numbers;
  for (size_t r = 1; r < rows.size(); r++) numbers.insert(numbers.end(), rows[r].begin(), rows[r].end());
  for (size_t k = 0; k + 14 <= numbers.size(); k += 14) {
    const int x = static_cast<int>(numbers[k]), y = static_cast<int>(numbers[k + 1]);
    if (x < 0 || x >= gridx || y < 0 || y >= gridy) continue;
    by_point[size_t(x) * gridy + y].assign(numbers.begin() + long(k) + 2, numbers.begin() + long(k) + 14);
  }
  return by_point;
}

// The restart file text with every point moved by (sx, sy), periodically.
std::string shifted_restart(const std::string &text, int gridx, int gridy, int sx, int sy) {
  const std::vector<std::vector<double>> rows = rows_of(text);
  std::string out = text.substr(0, text.find('\n') + 1);
  char number[40];
  for (size_t r = 1; r < rows.size(); r++) {
    if (rows[r].size() != 14) continue;
    out += std::to_string((static_cast<int>(rows[r][0]) + sx) % gridx) + "  " +
           std::to_string((static_cast<int>(rows[r][1]) + sy) % gridy);
    for (size_t c = 2; c < 14; c++) {
      snprintf(number, sizeof number, "  %.17g", rows[r][c]);
      out += number;
    }
    out += "\n";
  }
  return out;
}

// A periodic run moved by a whole number of points gives the moved result: the same state shifted
// by (sx, sy) is continued for a few steps next to the unshifted one, nonlinear brackets, stencil
// dissipation, the field solves and every wrap at the edges included. The grids have more than
// 1026 points along y, or sizes far from any power of two.
TEST(GridRuns, ShiftedStateGivesShiftedResult) {
  struct grid_case {
    int nx, ny, ihype;
  } cases[] = {{16, 1100, -1}, {75, 97, 0}};
  for (const grid_case &c : cases) {
    SCOPED_TRACE(std::to_string(c.nx) + " x " + std::to_string(c.ny));
    values19 v = test_values();
    v[v_nx] = c.nx;
    v[v_ny] = c.ny;
    v[v_ly] = c.ny;  // unit spacing
    v[v_chat] = 0.5;
    v[v_incon] = 0;
    v[v_sigma] = 4;
    v[v_amp] = 0.5;
    v[v_diff] = c.ihype == -1 ? 0.01 : 1e-3;
    v[v_ihype] = c.ihype;
    v[v_dt] = 0.05;
    v[v_itstp] = 2;
    v[v_itmax] = 2;
    const std::string first = make_temp_dir(), plain = make_temp_dir(), moved = make_temp_dir();
    std::string console;
    ASSERT_EQ(run_in(first, v, &console), 0) << console;
    const std::string restart = read_text(first + "/restart.dat");
    const int sx = c.nx / 3, sy = c.ny / 2 + 1;  // moves the blob across the edges
    write_text(plain + "/restart.dat", restart);
    write_text(moved + "/restart.dat", shifted_restart(restart, c.nx, c.ny, sx, sy));
    v[v_incon] = 2;
    v[v_itstp] = 3;
    v[v_itmax] = 3;
    ASSERT_EQ(run_in(plain, v, &console), 0) << console;
    ASSERT_EQ(run_in(moved, v, &console), 0) << console;
    const auto want = records(plain + "/restart.dat", c.nx, c.ny), got = records(moved + "/restart.dat", c.nx, c.ny);
    // Both runs start from the same seven-digit values and differ only in the order of the
    // transforms' additions; their results are written with seven digits again.
    std::vector<double> largest(12, 0.0);
    for (const auto &point : want)
      for (size_t k = 0; k < point.size(); k++) largest[k] = std::fmax(largest[k], std::fabs(point[k]));
    int wrong = 0, missing = 0;
    for (int x = 0; x < c.nx; x++)
      for (int y = 0; y < c.ny; y++) {
        const auto &a = want[size_t(x) * c.ny + y], &b = got[size_t((x + sx) % c.nx) * c.ny + (y + sy) % c.ny];
        if (a.size() != 12 || b.size() != 12) {
          missing++;
          continue;
        }
        for (size_t k = 0; k < 12; k++) {
          const double tol = 1.5e-6 * std::fabs(a[k]) + 1e-12 * largest[k];
          if (!(std::fabs(a[k] - b[k]) <= tol) && wrong++ < 5)
            ADD_FAILURE() << "column " << k + 3 << " at (" << x << ", " << y << "): moved run " << b[k]
                          << ", expected " << a[k] << ", difference " << b[k] - a[k] << " (tolerance " << tol << ")";
        }
      }
    EXPECT_EQ(missing, 0) << "points without a record in either restart file";
    EXPECT_GT(largest[1], 0.01) << "the blob has left no density to compare";
    remove_test_dir(first);
    remove_test_dir(plain);
    remove_test_dir(moved);
  }
}

}  // namespace
