// One-shot spectral field solve: out = Re B(coeff * F(in)).
//
// F and B are the unnormalised forward (sign -1) and backward (sign +1) two-dimensional complex
// transforms of size nx by ny; the tables carry 1/(nx ny). The plans are made at every call with
// FFTW_ESTIMATE after importing the driver's wisdom, so measured plans are reused when they exist.
// Serves the initial state, the restart read and the diagnostics, never the time step.
#include <omp.h>

#include "common/files.hpp"
#include "operators/operators.hpp"

double poisson_bytes(int gridx, int gridy) {
  return 4.0 * sizeof(cplx) * static_cast<double>(gridx) * static_cast<double>(gridy);
}

void poisson(array2d in, array2d coeff, array2d out) {
  const size_t count = static_cast<size_t>(nx) * ny;
  const double bytes = poisson_bytes(nx, ny) / 4;
  const char *const what = "a field solve";
  cplx *w1 = reserved(fftw_alloc_complex(count), bytes, what);  // forward output
  cplx *w2 = reserved(fftw_alloc_complex(count), bytes, what);  // backward input
  cplx *w3 = reserved(fftw_alloc_complex(count), bytes, what);  // forward input
  cplx *w4 = reserved(fftw_alloc_complex(count), bytes, what);  // backward output

  omp_set_num_threads(npar);
  fftw_plan_with_nthreads(npar);
  if (wisdom_sf) fftw_import_wisdom_from_string(wisdom_sf);
  fftw_plan forward = fftw_plan_dft_2d(nx, ny, w3, w1, FFTW_FORWARD, FFTW_ESTIMATE);
  fftw_plan backward = fftw_plan_dft_2d(nx, ny, w2, w4, FFTW_BACKWARD, FFTW_ESTIMATE);

  const int n = ny;
#pragma omp parallel for schedule(static)
  for (int i = 0; i <= nx1; i++) {
    cplx *row = w3 + static_cast<size_t>(i) * n;
    for (int j = 0; j < n; j++) {
      row[j][0] = in[i][j];
      row[j][1] = 0.0;
    }
  }
  fftw_execute(forward);
#pragma omp parallel for schedule(static)
  for (int i = 0; i <= nx1; i++) {
    const cplx *src = w1 + static_cast<size_t>(i) * n;
    cplx *dst = w2 + static_cast<size_t>(i) * n;
    for (int j = 0; j < n; j++) {
      dst[j][0] = src[j][0] * coeff[i][j];
      dst[j][1] = src[j][1] * coeff[i][j];
    }
  }
  fftw_execute(backward);
#pragma omp parallel for schedule(static)
  for (int i = 0; i <= nx1; i++) {
    const cplx *row = w4 + static_cast<size_t>(i) * n;
    for (int j = 0; j < n; j++) out[i][j] = row[j][0];
  }

  fftw_destroy_plan(forward);
  fftw_destroy_plan(backward);
  fftw_free(w1);
  fftw_free(w2);
  fftw_free(w3);
  fftw_free(w4);
}
