// The slabs' exchanges and the step's transforms on them, against the whole grid. The test program
// runs them alone (one process: the halos are the grid's periodic images, the transforms FFTW's
// serial ones) and, through the CTest entry Parallel.SlabsOfThreeProcesses, as a job of three
// processes on grids whose rows and ky values do not split evenly (11 rows: 4, 4, 3; 7 ky values:
// 3, 3, 1).
#include <fftw3.h>
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "parallel/processes.hpp"
#include "scheme/scheme.hpp"
#include "support/run_setup.hpp"

namespace {

// A field without symmetries, known on every process for the whole grid.
double smooth(int x, int y) { return std::sin(0.7 * x + 0.3) * std::cos(1.3 * y - 0.2) + 0.01 * x * y + 0.5; }

void set_up_grid(int gridx, int gridy) {
  values19 v = test_values();
  v[v_nx] = gridx;
  v[v_ny] = gridy;
  setup_run(v);
}

TEST(Slabs, HaloRowsHoldTheNeighbouringRows) {
  for (const int gridx : {11, 12}) {
    set_up_grid(gridx, 12);
    SCOPED_TRACE("nx = " + std::to_string(nx) + ", process " + std::to_string(process_rank));
    const int end = slab_first + slab_rows;
    for (int x = slab_first; x < end; x++)
      for (int y = 0; y < ny; y++) ne[x][y] = 1000.0 * x + y;
    exchange_halos({ne});
    for (const int r : {slab_first - 2, slab_first - 1, end, end + 1}) {
      const int image = ((r % nx) + nx) % nx;
      for (int y = 0; y < ny; y++) ASSERT_EQ(ne[r][y], 1000.0 * image + y) << "halo row " << r;
    }
  }
}

TEST(Slabs, TransformsAreTheWholeGridsTransforms) {
  for (const int gridy : {12, 13}) {
    set_up_grid(11, gridy);
    SCOPED_TRACE("ny = " + std::to_string(ny) + ", process " + std::to_string(process_rank));
    // The reference: FFTW's serial transform of the whole field, on every process.
    const int m = ny / 2 + 1;
    std::vector<double> whole(static_cast<size_t>(nx) * ny);
    std::vector<fftw_complex> reference(static_cast<size_t>(nx) * m);
    for (int x = 0; x < nx; x++)
      for (int y = 0; y < ny; y++) whole[static_cast<size_t>(x) * ny + y] = smooth(x, y);
    fftw_plan plan = fftw_plan_dft_r2c_2d(nx, ny, whole.data(), reference.data(), FFTW_ESTIMATE);
    fftw_execute(plan);
    fftw_destroy_plan(plan);

    for (int x = slab_first; x < slab_first + slab_rows; x++)
      for (int y = 0; y < ny; y++) real_in[static_cast<size_t>(x - slab_first) * real_row() + y] = smooth(x, y);
    forward(0);
    const int columns = spectrum_columns();
    for (int r = 0; r < spectrum_rows(); r++)
      for (int c = 0; c < columns; c++) {
        const int kx = spectrum_transposed ? c : r, ky = spectrum_transposed ? ky_first + r : c;
        const fftw_complex &want = reference[static_cast<size_t>(kx) * m + ky];
        const fftw_complex &got = spec_in[static_cast<size_t>(r) * columns + c];
        ASSERT_NEAR(got[0], want[0], 1e-12 * nx * ny) << "kx " << kx << ", ky " << ky;
        ASSERT_NEAR(got[1], want[1], 1e-12 * nx * ny) << "kx " << kx << ", ky " << ky;
      }

    // Back again: the field times nx ny, on this process's rows.
    for (size_t k = 0; k < static_cast<size_t>(spectrum_rows()) * columns; k++) {
      spec_out[k][0] = spec_in[k][0];
      spec_out[k][1] = spec_in[k][1];
    }
    backward(spec_out, real_out);
    for (int x = slab_first; x < slab_first + slab_rows; x++)
      for (int y = 0; y < ny; y++)
        ASSERT_NEAR(real_out[static_cast<size_t>(x - slab_first) * real_row() + y], nx * ny * smooth(x, y), 1e-11 * nx * ny)
            << "x " << x << ", y " << y;
  }
}

// Process 0's fields hold every row after gather_state, and every process its rows of process 0's
// after scatter_state, for every field of the checkpoint.
TEST(Slabs, GatherAndScatterMoveEveryCheckpointedRow) {
  set_up_grid(11, 12);
  auto value = [](int k, int x, int y) { return 1e4 * k + 100.0 * x + y; };
  for (int k = 0; k < nfield_records; k++) {
    if (!field_table[k].checkpointed) continue;
    const array2d f = *field_table[k].field;
    for (int x = held_first(); x < held_first() + held_rows(); x++)
      for (int y = 0; y < ny; y++) f[x][y] = steps_row(x) ? value(k, x, y) : -1.0;
  }
  gather_state();
  if (process_rank == 0)
    for (int k = 0; k < nfield_records; k++) {
      if (!field_table[k].checkpointed) continue;
      for (int x = 0; x < nx; x++)
        for (int y = 0; y < ny; y++) ASSERT_EQ((*field_table[k].field)[x][y], value(k, x, y)) << field_table[k].name;
    }
  for (int k = 0; k < nfield_records; k++) {
    if (!field_table[k].checkpointed) continue;
    const array2d f = *field_table[k].field;
    for (int x = held_first(); x < held_first() + held_rows(); x++)
      for (int y = 0; y < ny; y++) f[x][y] = process_rank == 0 ? -value(k, x, y) : 0.0;
  }
  scatter_state();
  for (int k = 0; k < nfield_records; k++) {
    if (!field_table[k].checkpointed) continue;
    for (int x = slab_first; x < slab_first + slab_rows; x++)
      for (int y = 0; y < ny; y++) ASSERT_EQ((*field_table[k].field)[x][y], -value(k, x, y)) << field_table[k].name;
  }
}

}  // namespace
