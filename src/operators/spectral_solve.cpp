// The one spectral field solve of the program: out = Re B(coeff * F(in)).
//
// F and B are the unnormalised forward and backward two-dimensional transforms of size nx by ny;
// the coefficient tables carry 1/(nx ny). Every field is real, so the solve runs one real-to-complex
// transform and one complex-to-real transform on the half spectrum (ky >= 0). The real part of a
// complex filter applies the symmetric part (c(k) + c(-k))/2 of its table, which for odd sizes
// differs from c(k) at the highest modes (index i >= nxh stands for i - nx); the solve multiplies
// by that part, formed from the full table at each point, so one solve serves every table.
// It has buffers and plans of its own, made once at start-up by make_spectral_solve (after the
// step's plans of the same shape, whose wisdom it reuses): the initial states, the restart read,
// the dissipation of a start state and the output call it; the step never does, and the solve never
// touches the step's buffers.
#include <omp.h>

#include "common/files.hpp"
#include "operators/operators.hpp"

static double *solve_real;  // nx*ny: the input, then the output
static cplx *solve_spectrum;  // nx*(ny/2+1): the half spectrum
static fftw_plan solve_forward, solve_backward;

double spectral_solve_bytes(int gridx, int gridy) {
  const double points = static_cast<double>(gridx) * static_cast<double>(gridy);
  return sizeof(double) * points + sizeof(cplx) * static_cast<double>(gridx) * (gridy / 2 + 1);
}

void make_spectral_solve(unsigned flags) {
  free_spectral_solve();
  const int m = ny / 2 + 1;
  const double points = static_cast<double>(nx) * static_cast<double>(ny);
  const char *const what = "the spectral solve";
  solve_real = reserved(fftw_alloc_real(static_cast<size_t>(nx) * ny), sizeof(double) * points, what);
  solve_spectrum = reserved(fftw_alloc_complex(static_cast<size_t>(nx) * m), spectral_solve_bytes(nx, ny) - sizeof(double) * points, what);
  fftw_plan_with_nthreads(npar);
  // Measured planning may overwrite the buffers; nothing in them is needed yet.
  solve_forward = fftw_plan_dft_r2c_2d(nx, ny, solve_real, solve_spectrum, flags);
  solve_backward = fftw_plan_dft_c2r_2d(nx, ny, solve_spectrum, solve_real, flags);
}

void free_spectral_solve() {
  if (solve_forward) fftw_destroy_plan(solve_forward);
  if (solve_backward) fftw_destroy_plan(solve_backward);
  solve_forward = solve_backward = nullptr;
  fftw_free(solve_real);
  fftw_free(solve_spectrum);
  solve_real = nullptr;
  solve_spectrum = nullptr;
}

void spectral_solve(array2d in, array2d coeff, array2d out) {
  const int n = ny, m = ny / 2 + 1;
#pragma omp parallel for schedule(static)
  for (int x = 0; x <= nx1; x++) {
    double *row = solve_real + static_cast<size_t>(x) * n;
    for (int y = 0; y < n; y++) row[y] = in[x][y];
  }
  fftw_execute(solve_forward);
#pragma omp parallel for schedule(static)
  for (int x = 0; x <= nx1; x++) {
    const int xr = x == 0 ? 0 : nx - x;
    cplx *row = solve_spectrum + static_cast<size_t>(x) * m;
    for (int y = 0; y < m; y++) {
      const int yr = y == 0 ? 0 : ny - y;
      const double c = 0.5 * (coeff[x][y] + coeff[xr][yr]);
      row[y][0] = row[y][0] * c;
      row[y][1] = row[y][1] * c;
    }
  }
  fftw_execute(solve_backward);
#pragma omp parallel for schedule(static)
  for (int x = 0; x <= nx1; x++) {
    const double *row = solve_real + static_cast<size_t>(x) * n;
    for (int y = 0; y < n; y++) out[x][y] = row[y];
  }
}
