// The test references' complex solve: see poisson.hpp.
#include "support/poisson.hpp"

#include <omp.h>

void poisson(array2d in, double table_values::*coeff, array2d out) {
  const size_t count = static_cast<size_t>(nx) * ny;
  cplx *w1 = fftw_alloc_complex(count);  // forward output
  cplx *w2 = fftw_alloc_complex(count);  // backward input
  cplx *w3 = fftw_alloc_complex(count);  // forward input
  cplx *w4 = fftw_alloc_complex(count);  // backward output

  omp_set_num_threads(npar);
  fftw_plan_with_nthreads(npar);
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
      const double c = table_point(i, j).*coeff;
      dst[j][0] = src[j][0] * c;
      dst[j][1] = src[j][1] * c;
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
