// The step's transforms: buffers, plans and half tables, made once per run.
//
// Every field of the model is real, so the step runs real-to-complex and complex-to-real
// transforms, each about half the work of a complex one. Two transforms that share a plan run
// batched (FFTW's howmany = 2). The c2r transforms destroy their input, which the step never needs
// again.
#include <omp.h>

#include <cstdlib>
#include <initializer_list>

#include "common/files.hpp"
#include "driver/driver.hpp"
#include "operators/operators.hpp"

double *real_in, *real_out;
cplx *spec_in, *spec_out;
size_t real_slot, spectrum_slot;
fftw_plan plan_r2c2, plan_c2r2, plan_r2c1, plan_c2r1;
double *cpoti_half, *cvort_half, *chyv_half, *gamma_half;

// n rounded up to a multiple of m.
static size_t round_up(size_t n, size_t m) { return (n + m - 1) / m * m; }

// Symmetric part of the full table c on the half spectrum, times scale.
static void fill_half_table(array2d c, double *half, double scale = 1.0) {
  const int m = spectrum_row();
  for (int x = 0; x <= nx1; x++) {
    const int xr = x == 0 ? 0 : nx - x;
    for (int y = 0; y < m; y++) {
      const int yr = y == 0 ? 0 : ny - y;
      half[static_cast<size_t>(x) * m + y] = scale * (0.5 * (c[x][y] + c[xr][yr]));
    }
  }
}

// The sizes of the step's buffers for a grid of gridx by gridy points: each real buffer holds two
// slots of whole 64-byte lines, each spectrum buffer two slots, each half table one spectrum.
struct transform_sizes {
  size_t real_slot, spectrum_slot, half;
};
static transform_sizes sizes_of(int gridx, int gridy) {
  const size_t half = static_cast<size_t>(gridx) * static_cast<size_t>(gridy / 2 + 1);
  return {round_up(static_cast<size_t>(gridx) * static_cast<size_t>(gridy), 8), round_up(half, 4), half};
}

double transform_bytes(int gridx, int gridy, int threads) {
  const transform_sizes s = sizes_of(gridx, gridy);
  const double buffers = 2.0 * 2.0 * sizeof(double) * static_cast<double>(s.real_slot) +
                         2.0 * 2.0 * sizeof(cplx) * static_cast<double>(s.spectrum_slot) +
                         4.0 * sizeof(double) * static_cast<double>(s.half);
  return buffers + sweep_rows_bytes(gridy, threads);
}

void make_transforms() {
  free_transforms();
  // Whole 64-byte lines per slot: every slot keeps the buffer's alignment.
  const transform_sizes s = sizes_of(nx, ny);
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
  cpoti_half = reserved(fftw_alloc_real(half), table_bytes, what);
  cvort_half = reserved(fftw_alloc_real(half), table_bytes, what);
  chyv_half = reserved(fftw_alloc_real(half), table_bytes, what);
  gamma_half = reserved(fftw_alloc_real(half), table_bytes, what);
  fill_half_table(cpoti, cpoti_half);
  fill_half_table(cpoti, gamma_half, static_cast<double>(nx) * ny);
  fill_half_table(cvort, cvort_half);
  fill_half_table(chyv, chyv_half);

  fftw_plan_with_nthreads(npar);
  // Measured planning may overwrite the buffers; nothing in them is needed yet. Measured plans
  // start from the wisdom that earlier runs of this grid and thread count stored (wisdom.cpp).
  const unsigned flags = b_plan ? FFTW_MEASURE : FFTW_ESTIMATE;
  if (b_plan) load_wisdom();
  const int n[2] = {nx, ny};
  const int rd = static_cast<int>(real_slot), sd = static_cast<int>(spectrum_slot);
  plan_r2c2 = fftw_plan_many_dft_r2c(2, n, 2, real_in, nullptr, 1, rd, spec_in, nullptr, 1, sd, flags);
  plan_c2r2 = fftw_plan_many_dft_c2r(2, n, 2, spec_out, nullptr, 1, sd, real_out, nullptr, 1, rd, flags);
  plan_r2c1 = fftw_plan_dft_r2c_2d(nx, ny, real_in, spec_in, flags);
  plan_c2r1 = fftw_plan_dft_c2r_2d(nx, ny, spec_out, real_out, flags);
  make_spectral_solve(flags);
  if (b_plan) store_wisdom();
  make_sweep_rows(omp_get_max_threads());
}

void free_transforms() {
  for (fftw_plan *plan : {&plan_r2c2, &plan_c2r2, &plan_r2c1, &plan_c2r1}) {
    if (*plan) fftw_destroy_plan(*plan);
    *plan = nullptr;
  }
  for (double **buffer : {&real_in, &real_out, &cpoti_half, &cvort_half, &chyv_half, &gamma_half}) {
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
