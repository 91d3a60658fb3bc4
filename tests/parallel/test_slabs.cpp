// The slabs' exchanges, reductions, streams and transforms, against the whole grid. The test
// program runs them alone (one process: the halos are the grid's periodic images, the transforms
// FFTW's serial ones) and, through the CTest entry Parallel.SlabsOfThreeProcesses, as a job of three
// processes on grids whose rows and ky values do not split evenly (11 rows: 4, 4, 3; 7 ky values:
// 3, 3, 1).
#include <fftw3.h>
#include <gtest/gtest.h>
#include <mpi.h>

#include <cmath>
#include <cstdio>
#include <string>
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

// Sums over the processes are added in their order, the same bits on every process; rows shared
// by their owners reach every process; the owner of row nxh hands its values to every process.
TEST(Slabs, ReductionsAndSharedRowsAreTheSameOnEveryProcess) {
  set_up_grid(11, 12);
  double sums[2] = {0.1 * (process_rank + 1), 1e16 * (process_rank == 0) + 1.0};
  sum_over_processes(sums, 2);
  double ordered[2] = {0, 0};
  for (int r = 0; r < process_count; r++) ordered[0] += 0.1 * (r + 1), ordered[1] += 1e16 * (r == 0) + 1.0;
  EXPECT_EQ(sums[0], ordered[0]);
  EXPECT_EQ(sums[1], ordered[1]) << "added in the order of the processes";
  EXPECT_EQ(largest_of_all(double(process_rank)), double(process_count - 1));

  std::vector<double> rows(2 * static_cast<size_t>(nx), -1.0);
  for (int x = slab_first; x < slab_first + slab_rows; x++) rows[2 * x] = x, rows[2 * x + 1] = 100.0 + process_rank;
  share_rows(rows.data(), 2);
  for (int x = 0; x < nx; x++) {
    ASSERT_EQ(rows[2 * x], x);
    ASSERT_EQ(rows[2 * x + 1], 100.0 + row_owner(x)) << "row " << x;
  }
  double owned = steps_row(nxh) ? 7.5 : 0.0;
  broadcast_from_row(nxh, &owned, 1);
  EXPECT_EQ(owned, 7.5);
}

// The writing process gets the text of every row once, in the order of the rows, whatever process
// formats it and however the rows fall into blocks.
TEST(Slabs, StreamedRowsReachTheWriterInOrder) {
  set_up_grid(11, 12);
  for (const int block : {1, 2, 4, 20}) {
    std::string written;
    stream_rows_to_writer(
        block,
        [](int first, int count, text_block &b) {
          b.room = 32;
          b.length.assign(2 * size_t(count), 0);
          b.text.assign(b.room * b.length.size(), '#');
          for (int r = 0; r < count; r++)
            for (int part = 0; part < 2; part++) {
              const int n = snprintf(b.part(part * count + r), b.room, "%c%d,", part ? 'b' : 'a', first + r);
              b.length[part * count + r] = size_t(n);
            }
        },
        [&written](const text_block &b) {
          for (size_t p = 0; p < b.length.size(); p++) written.append(b.part(p), b.length[p]);
        });
    if (!writing_process()) continue;
    // Within a block its a-parts come before its b-parts; over the blocks each kind runs 0 .. nx-1.
    std::string a_rows, b_rows, want_a, want_b;
    for (size_t at = 0; at < written.size(); at = written.find(',', at) + 1)
      (written[at] == 'a' ? a_rows : b_rows) += written.substr(at, written.find(',', at) - at + 1);
    for (int x = 0; x < nx; x++) want_a += "a" + std::to_string(x) + ",", want_b += "b" + std::to_string(x) + ",";
    EXPECT_EQ(a_rows, want_a) << "blocks of " << block;
    EXPECT_EQ(b_rows, want_b) << "blocks of " << block;
    EXPECT_EQ(written.compare(0, 2, "a0"), 0) << written;
  }
}

// Every column of a field reaches exactly one process, with its nx values in order.
TEST(Slabs, ColumnBlocksHoldEveryColumnOnce) {
  for (const int gridy : {12, 5}) {
    set_up_grid(11, gridy);
    for (int x = slab_first; x < slab_first + slab_rows; x++)
      for (int y = 0; y < ny; y++) ne[x][y] = smooth(x, y);
    std::vector<double> seen(static_cast<size_t>(ny), 0.0);
    column_blocks(ne, 3, [&](int first, int count, const double *columns) {
      ASSERT_LE(count, 3);
      for (int c = 0; c < count; c++) {
        seen[first + c] += 1.0;
        for (int x = 0; x < nx; x++) ASSERT_EQ(columns[c * nx + x], smooth(x, first + c)) << "column " << first + c;
      }
    });
    sum_over_processes(seen.data(), ny);
    for (int y = 0; y < ny; y++) EXPECT_EQ(seen[y], 1.0) << "column " << y << ", ny = " << ny;
  }
}

// The exchanges of the transforms: FFTW's MPI transposes go through MPI_Sendrecv, one for every
// other process (its pairwise algorithm), or one MPI_Alltoall(v) (the all-to-all one).
long sendrecv_calls = 0, alltoall_calls = 0;

// Across processes a step does one all-to-all for each of its transforms (a pair of slots goes
// one slot after the other; batched, it was slower: transforms.cpp). Pinned per case, with the
// transforms of the step's head (timestep.cpp): warm ions with a spectral dissipation 6 (the
// densities' pair forward, pe and pi back, De and Di back), cold ions 5 (pe alone back), without
// the dissipation 4, the edge damping 9 (ni forward, gni back, the vorticity forward, then the
// three pairs) and 2 for cold ions without the dissipation (the vorticity forward, pe back). One
// process exchanges nothing.
TEST(Slabs, AStepExchangesOnceForEachTransform) {
  struct step_case {
    double taui, vorfree, ihype;
    long exchanges;
  };
  const step_case cases[] = {{1.0, 0, 2, 6}, {0.0, 0, 2, 5}, {1.0, 0, -1, 4}, {1.0, 2, 2, 9}, {0.0, 2, -1, 2}};
  for (const step_case &c : cases) {
    values19 v = test_values();
    v[v_nx] = 11, v[v_ny] = 12, v[v_taui] = c.taui, v[v_vorfree] = c.vorfree, v[v_ihype] = c.ihype;
    v[v_diff] = 1e-3;
    setup_run(v);
    compute_xmask();
    sendrecv_calls = alltoall_calls = 0;
    timestep(dt);
    const long exchanges = process_count == 1 ? sendrecv_calls : sendrecv_calls / (process_count - 1) + alltoall_calls;
    EXPECT_EQ(exchanges, process_count == 1 ? 0 : c.exchanges)
        << "taui " << c.taui << ", vorfree " << c.vorfree << ", ihype " << c.ihype << ": " << sendrecv_calls
        << " MPI_Sendrecv, " << alltoall_calls << " MPI_Alltoall(v) on " << process_count << " processes";
  }
}

}  // namespace

// MPI's profiling interface: the program's own calls and FFTW's reach these first.
extern "C" int MPI_Sendrecv(const void *send, int send_count, MPI_Datatype send_type, int to, int send_tag, void *receive,
                            int receive_count, MPI_Datatype receive_type, int from, int receive_tag, MPI_Comm comm,
                            MPI_Status *status) {
  sendrecv_calls++;
  return PMPI_Sendrecv(send, send_count, send_type, to, send_tag, receive, receive_count, receive_type, from,
                       receive_tag, comm, status);
}

extern "C" int MPI_Alltoall(const void *send, int send_count, MPI_Datatype send_type, void *receive, int receive_count,
                            MPI_Datatype receive_type, MPI_Comm comm) {
  alltoall_calls++;
  return PMPI_Alltoall(send, send_count, send_type, receive, receive_count, receive_type, comm);
}

extern "C" int MPI_Alltoallv(const void *send, const int *send_counts, const int *send_offsets, MPI_Datatype send_type,
                             void *receive, const int *receive_counts, const int *receive_offsets,
                             MPI_Datatype receive_type, MPI_Comm comm) {
  alltoall_calls++;
  return PMPI_Alltoallv(send, send_counts, send_offsets, send_type, receive, receive_counts, receive_offsets,
                        receive_type, comm);
}
