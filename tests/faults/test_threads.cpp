// The same run with one and with two threads gives the same time series to rounding. Threaded
// sums and FFTW's threaded transforms add in another order, so the last bits differ and the
// difference grows with the turbulence; it is compared with a relative tolerance, not bit for bit.
#include <gtest/gtest.h>

#include <omp.h>

#include <cmath>
#include <string>
#include <vector>

#include "faults/fault_support.hpp"
#include "support/dirs.hpp"

namespace {

TEST(Threads, OneAndTwoThreadsGiveTheSameTimeSeries) {
  if (omp_get_num_procs() < 2) GTEST_SKIP() << "one processor: two threads would be refused";
  values19 v = fault_values();
  v[v_itmax] = 200;
  v[v_itstp] = 10;
  std::string dirs[2], console;
  for (int threads = 1; threads <= 2; threads++) {
    v[v_npar] = threads;
    dirs[threads - 1] = make_temp_dir();
    ASSERT_EQ(run_values(dirs[threads - 1], v, &console), 0) << console;
  }
  // The columns are compared relative to the largest magnitude of their column, so that values
  // that cross zero (fluxes, transfer rates, zonal flows) are held to the same absolute precision
  // as the rest of their column. The files carry seven digits and the two runs differ far below
  // them (here the printed files are equal), so 1e-5 of the column scale admits a last printed
  // digit rounded the other way on any machine, while a sum that lost or doubled a thread's part
  // would be off by the order of the values themselves.
  const double tolerance = 1e-5;
  for (const char *name : {"eng.dat", "eng-transfer.dat", "fne.dat", "gamma.dat", "zfx.dat"}) {
    SCOPED_TRACE(name);
    const auto one = rows_of(read_text(dirs[0] + "/" + name)), two = rows_of(read_text(dirs[1] + "/" + name));
    ASSERT_EQ(one.size(), two.size());
    ASSERT_GT(one.size(), 0u);
    std::vector<double> scale;
    for (const auto &row : one)
      for (size_t c = 0; c < row.size(); c++) {
        if (scale.size() <= c) scale.resize(c + 1, 0.0);
        scale[c] = std::fmax(scale[c], std::fabs(row[c]));
      }
    int reported = 0;
    for (size_t r = 0; r < one.size(); r++) {
      ASSERT_EQ(one[r].size(), two[r].size()) << "line " << r + 1;
      for (size_t c = 0; c < one[r].size(); c++) {
        const double difference = std::fabs(two[r][c] - one[r][c]);
        const bool agree = difference <= tolerance * scale[c] + 1e-300;  // NaN fails
        if (!agree && reported++ < 5)
          ADD_FAILURE() << "line " << r + 1 << " column " << c + 1 << ": two threads " << two[r][c]
                        << ", one thread " << one[r][c] << ", difference " << difference << ", allowed "
                        << tolerance * scale[c];
      }
    }
  }
  remove_dir(dirs[0]);
  remove_dir(dirs[1]);
}

}  // namespace
