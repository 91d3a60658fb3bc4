// The one spectral field solve of the program: out = Re B(coeff * F(in)).
//
// F and B are the unnormalised forward and backward two-dimensional transforms of size nx by ny;
// the coefficient tables carry 1/(nx ny). Every field is real, so the solve runs one real-to-complex
// transform and one complex-to-real transform on the half spectrum (ky >= 0): the step's plans
// (transforms.cpp), executed on two buffers of the solve's own, over the slabs of the processes.
// The real part of a complex filter applies the symmetric part (c(k) + c(-k))/2 of its table,
// which for odd sizes differs from c(k) at the highest modes; the tables hold that part
// (setup/tables.cpp), so one solve serves every table. The initial states, the restart read, the
// dissipation of a start state and the output call it, on every process at once; the step never
// does, and the solve never touches the step's buffers.
#include "common/files.hpp"
#include "parallel/processes.hpp"
#include "scheme/scheme.hpp"

static double *solve_real;    // one real slot: this process's rows of the input, then of the output
static cplx *solve_spectrum;  // one spectrum slot: its part of the half spectrum

void make_spectral_solve() {
  free_spectral_solve();
  const char *const what = "the spectral solve";
  solve_real = reserved(fftw_alloc_real(real_slot), sizeof(double) * static_cast<double>(real_slot), what);
  solve_spectrum =
      reserved(fftw_alloc_complex(spectrum_slot), sizeof(cplx) * static_cast<double>(spectrum_slot), what);
}

void free_spectral_solve() {
  fftw_free(solve_real);
  fftw_free(solve_spectrum);
  solve_real = nullptr;
  solve_spectrum = nullptr;
}

void spectral_solve(array2d in, const double *coeff, array2d out) {
  const int n = ny, first = slab_first, end = slab_first + slab_rows;
#pragma omp parallel for schedule(static)
  for (int x = first; x < end; x++) {
    double *row = solve_real + static_cast<size_t>(x - first) * real_row();
    for (int y = 0; y < n; y++) row[y] = in[x][y];
  }
  forward_from(solve_real, solve_spectrum);
  const int columns = spectrum_columns();
#pragma omp parallel for schedule(static)
  for (int r = 0; r < spectrum_rows(); r++) {
    cplx *row = solve_spectrum + static_cast<size_t>(r) * columns;
    const double *c = coeff + static_cast<size_t>(r) * columns;
    for (int k = 0; k < columns; k++) {
      row[k][0] = row[k][0] * c[k];
      row[k][1] = row[k][1] * c[k];
    }
  }
  backward(solve_spectrum, solve_real);
#pragma omp parallel for schedule(static)
  for (int x = first; x < end; x++) {
    const double *row = solve_real + static_cast<size_t>(x - first) * real_row();
    for (int y = 0; y < n; y++) out[x][y] = row[y];
  }
}
