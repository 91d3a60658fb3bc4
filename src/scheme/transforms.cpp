// The step's transforms: buffers, plans and half tables, made once per run.
//
// Every field of the model is real, so the step runs real-to-complex and complex-to-real
// transforms, each about half the work of a complex one, on FFTW's MPI interface: the real rows are
// split over the processes in slabs of x, and with several processes the half spectrum comes out
// transposed (ky rows, each with every kx), so that the products of the field solves need no
// communication of their own; the half tables are laid out the same way (parallel/processes.hpp).
// One plan of each direction serves every buffer slot. A process that runs alone plans with FFTW's
// serial interface on the same layout instead: one process's MPI plans and two single transforms
// cost 13 % more of its step at 512 x 512 (bench/README.md). Wherever the step transforms the two
// slots of a buffer together, a process that runs alone does both in one transform (FFTW's
// howmany = 2); several processes transform them one after the other. A batch across processes
// (FFTW's MPI interface takes a pair interleaved point by point, so that both travel in one
// all-to-all of twice the size) was measured 7-23 % slower per step at 1024^2 and 2048^2 on 2 and
// 4 processes: the copies into and out of the interleaved buffer and the transforms of interleaved
// data cost more than the messages saved (bench/README.md). The c2r transforms destroy their
// input, which the step never needs again.
#include <fftw3-mpi.h>
#include <omp.h>

#include <cmath>
#include <cstdlib>
#include <initializer_list>

#include "common/files.hpp"
#include "operators/operators.hpp"
#include "parallel/processes.hpp"
#include "scheme/scheme.hpp"
#include "setup/setup.hpp"

double *real_in, *real_out;
cplx *spec_in, *spec_out;
size_t real_slot, spectrum_slot;
// One transform of a slot (real_in slot 0 -> spec_in slot 0, spec_out slot 0 -> real_out slot 0,
// executed on any slot), and, for a process that runs alone, both slots in one batched transform
// (FFTW's howmany = 2) from real_in into spec_in and from spec_out into real_out, executed on any
// buffers of the kind.
static fftw_plan plan_r2c, plan_c2r;
static fftw_plan plan_r2c_pair, plan_c2r_pair;
double *gamma_half;
double *coupling_half, *cross_half, *damping_half;

// n rounded up to a multiple of m.
static size_t round_up(size_t n, size_t m) { return (n + m - 1) / m * m; }

// The implicit step's tables on the half spectrum this process holds (scheme.hpp): the coupling's
// rates from cvort (-1/P = cvort nx ny, 0 at k = 0) and gamma_half (1 for cold ions, whose
// gyro-average the step leaves out), and the dissipation rate diff D(k) of the chosen ihype.
static void fill_implicit_tables() {
  const double unnormalised = static_cast<double>(nx) * ny;
  const double twopi = 6.283185307179586;
  const int columns = spectrum_columns();
  for (int r = 0; r < spectrum_rows(); r++) {
    for (int c = 0; c < columns; c++) {
      const int x = spectrum_transposed ? c : r, y = spectrum_transposed ? ky_first + r : c;
      const size_t at = static_cast<size_t>(r) * columns + c;
      const double inverse_p = -cvort[at] * unnormalised;
      const double gamma = taui > 0 ? gamma_half[at] : 1.0;
      const bool coupled = !(b_mhw && y == 0);
      coupling_half[at] = coupled ? chat * (1.0 + inverse_p) : 0.0;
      cross_half[at] = coupled ? chat * gamma * inverse_p : 0.0;
      const double lap = laplace_symbol(twopi * x / nx) + laplace_symbol(twopi * y / ny);
      double symbol = 0.0;
      if (ihype == -1) symbol = lap;
      else if (ihype == 0) symbol = lap * lap;
      else if (ihype > 0) symbol = chyv[at] * unnormalised;
      damping_half[at] = diff * symbol;
    }
  }
}

// The sizes of the step's buffers for FFTW's layout of `elements` complex values per transform
// and `half` values of a half table: each real buffer holds two slots of whole 64-byte lines, each
// spectrum buffer two slots.
struct transform_sizes {
  size_t real_slot, spectrum_slot, half;
};
static transform_sizes sizes_of(size_t elements, size_t half) { return {round_up(2 * elements, 8), round_up(elements, 4), half}; }

double transform_bytes(long elements, int gridy, int threads) {
  const size_t half = static_cast<size_t>(elements);
  const transform_sizes s = sizes_of(half, half);
  // Two buffers of each kind, two slots each; the spectral solve's one slot of each kind;
  // gamma_half and, with adaptive steps, the implicit three.
  const double buffers = 5.0 * sizeof(double) * static_cast<double>(s.real_slot) +
                         5.0 * sizeof(cplx) * static_cast<double>(s.spectrum_slot) +
                         (cfl > 0 ? 4.0 : 1.0) * sizeof(double) * static_cast<double>(s.half);
  return buffers + sweep_rows_bytes(gridy, threads);
}

void make_transforms() {
  free_transforms();
  // Whole 64-byte lines per slot: every slot keeps the buffer's alignment.
  const transform_sizes s = sizes_of(static_cast<size_t>(transform_elements),
                                     static_cast<size_t>(spectrum_rows()) * spectrum_columns());
  const size_t half = s.half;
  real_slot = s.real_slot;
  spectrum_slot = s.spectrum_slot;
  const double real_bytes = 2.0 * sizeof(double) * static_cast<double>(real_slot);
  const double spectrum_bytes = 2.0 * sizeof(cplx) * static_cast<double>(spectrum_slot);
  const double table_bytes = sizeof(double) * static_cast<double>(half);
  const char *const what = "the transforms of the time step";
  real_in = reserved(fftw_alloc_real(2 * real_slot), real_bytes, what);
  real_out = reserved(fftw_alloc_real(2 * real_slot), real_bytes, what);
  spec_in = reserved(fftw_alloc_complex(2 * spectrum_slot), spectrum_bytes, what);
  spec_out = reserved(fftw_alloc_complex(2 * spectrum_slot), spectrum_bytes, what);
  // cpoti without the normalisation, for a product that follows another table's within one pair
  // of transforms.
  gamma_half = reserved(fftw_alloc_real(half), table_bytes, what);
  const double unnormalised = static_cast<double>(nx) * ny;
  for (size_t k = 0; k < half; k++) gamma_half[k] = unnormalised * cpoti[k];
  if (cfl > 0) {
    coupling_half = reserved(fftw_alloc_real(half), table_bytes, what);
    cross_half = reserved(fftw_alloc_real(half), table_bytes, what);
    damping_half = reserved(fftw_alloc_real(half), table_bytes, what);
    fill_implicit_tables();
  }
  measure_explicit_rates();

  fftw_plan_with_nthreads(npar);
  // Measured planning may overwrite the buffers; nothing in them is needed yet. Measured plans
  // start from the wisdom that earlier runs of this grid and thread count stored (wisdom.cpp).
  const unsigned flags = b_plan ? FFTW_MEASURE : FFTW_ESTIMATE;
  if (b_plan) load_wisdom();
  if (process_count > 1) {
    plan_r2c = fftw_mpi_plan_dft_r2c_2d(nx, ny, real_in, spec_in, MPI_COMM_WORLD, flags | FFTW_MPI_TRANSPOSED_OUT);
    plan_c2r = fftw_mpi_plan_dft_c2r_2d(nx, ny, spec_out, real_out, MPI_COMM_WORLD, flags | FFTW_MPI_TRANSPOSED_IN);
  } else {
    const int n[2] = {nx, ny}, padded[2] = {nx, real_row()}, half[2] = {nx, ny / 2 + 1};
    const int rd = static_cast<int>(real_slot), sd = static_cast<int>(spectrum_slot);
    plan_r2c = fftw_plan_many_dft_r2c(2, n, 1, real_in, padded, 1, rd, spec_in, half, 1, sd, flags);
    plan_c2r = fftw_plan_many_dft_c2r(2, n, 1, spec_out, half, 1, sd, real_out, padded, 1, rd, flags);
    plan_r2c_pair = fftw_plan_many_dft_r2c(2, n, 2, real_in, padded, 1, rd, spec_in, half, 1, sd, flags);
    plan_c2r_pair = fftw_plan_many_dft_c2r(2, n, 2, spec_out, half, 1, sd, real_out, padded, 1, rd, flags);
  }
  if (!plan_r2c || !plan_c2r || (process_count == 1 && (!plan_r2c_pair || !plan_c2r_pair)))
    fatal("| nx = %d, ny = %d (values 10, 11): FFTW cannot plan the transforms of this grid", nx, ny);
  make_spectral_solve();
  if (b_plan) store_wisdom();
  make_sweep_rows(omp_get_max_threads());
}

// FFTW's MPI plans are executed on new arrays through its MPI interface (they are plans of
// another kind inside), the serial ones through the serial interface.
void forward_from(double *real, cplx *spectrum) {
  if (process_count > 1) fftw_mpi_execute_dft_r2c(plan_r2c, real, spectrum);
  else fftw_execute_dft_r2c(plan_r2c, real, spectrum);
}

void backward(cplx *spectrum, double *real) {
  if (process_count > 1) fftw_mpi_execute_dft_c2r(plan_c2r, spectrum, real);
  else fftw_execute_dft_c2r(plan_c2r, spectrum, real);
}

void forward(int slot) { forward_from(real_in + slot * real_slot, spec_in + slot * spectrum_slot); }

void forward_pair() {
  if (process_count == 1) {
    fftw_execute(plan_r2c_pair);
    return;
  }
  forward(0);
  forward(1);
}

void backward_pair(cplx *spectrum, double *real) {
  if (process_count == 1) {
    fftw_execute_dft_c2r(plan_c2r_pair, spectrum, real);
    return;
  }
  backward(spectrum, real);
  backward(spectrum + spectrum_slot, real + real_slot);
}

void free_transforms() {
  for (fftw_plan *plan : {&plan_r2c, &plan_c2r, &plan_r2c_pair, &plan_c2r_pair}) {
    if (*plan) fftw_destroy_plan(*plan);
    *plan = nullptr;
  }
  for (double **buffer : {&real_in, &real_out, &gamma_half, &coupling_half, &cross_half, &damping_half}) {
    fftw_free(*buffer);
    *buffer = nullptr;
  }
  for (cplx **buffer : {&spec_in, &spec_out}) {
    fftw_free(*buffer);
    *buffer = nullptr;
  }
  free_spectral_solve();
  free_sweep_rows();
}
