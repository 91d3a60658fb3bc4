// One-dimensional wavenumber spectra from real-to-complex transforms of single rows or columns:
//   "pky_p.dat"  sum over rows of |Re X_k| of pi,                    / nx,     times 1/hy
//   "pky_n.dat"  the same for ne,                                    / nx,     times 1/hy
//   "pky_w.dat"  sum over rows of (Re X_k)^2 of lap_pe,              / nx,     times 0.5/hy
//   "pky_e.dat"  sum over rows of |Re X_k| of (Dx pi)^2 + (Dy pi)^2,  / (nx ny), times 0.5/hy
//   "pkx_p.dat"  sum over columns of |Re X_k| of pi,                 / (nx ny), times 1/hy
// with X_k the unnormalised forward coefficients. Each line holds k 2 pi/ly, the spectrum of this
// call and its running mean over the calls of a continued run (incon = 2), for k = 1 .. n/2 - 1.
// One FFTW_ESTIMATE plan per direction and call serves all rows or columns. The plans are made
// for one thread: a threaded plan of a single row costs a parallel region per row (thousands per
// call on a large grid, seconds when the cores are shared) for transforms of microseconds; the
// planner's thread count is set back to npar afterwards. Every process transforms its own rows
// for the y-spectra, and for the x-spectrum the columns that FFTW's MPI transpose hands it
// (column_blocks); the sums over rows or columns are added over the processes in their order, so
// every process has the same spectra and running means, and the writing process writes them.
#include <algorithm>
#include <cmath>
#include <vector>

#include "common/files.hpp"
#include "common/numfmt.hpp"
#include "common/writer.hpp"
#include "diagnostics/writers.hpp"
#include "parallel/processes.hpp"

// Which term of X_k a spectrum adds.
enum term_kind { abs_real, squared_real };

// Add the term of X_k, k = 0 .. n/2, of the transform output to spectrum (A[k], k = 0 .. n/2).
static void accumulate(double *spectrum, const cplx *out, int n, term_kind term) {
  for (int k = 0; k <= n / 2; k++) {
    const double re = out[k][0];
    spectrum[k] += term == abs_real ? std::fabs(re) : re * re;
  }
}

// Divide spectrum by divisor, advance the running mean in a continued run and write the file:
// n the transform length, factor the output factor, mean the running-mean array.
static void finish_spectrum(double *spectrum, const char *name, int n, double divisor, double factor, double *mean,
                            int iout) {
  sum_over_processes(spectrum, n / 2 + 1);
  for (int k = 0; k <= n / 2; k++) spectrum[k] /= divisor;
  if (incon == 2 && n / 2 >= 1)
    for (int k = 1; k <= n / 2; k++) mean[k] = (iout * mean[k] + spectrum[k]) / (iout + 1);
  if (!writing_process()) return;
  writer w;
  writer_replace(w, name);
  if (n > 3) {
    for (int k = 1; k <= n / 2 - 1; k++) {
      char *p = writer_room(w);
      p = put_e6(p, static_cast<double>(k) * (2.0 * M_PI) / ly);
      p = put_s(p, "  ");
      p = put_e6(p, factor * spectrum[k]);
      p = put_s(p, "  ");
      p = put_e6(p, factor * mean[k]);
      *p++ = '\n';
      w.pos = p;
    }
  }
  writer_close(w);
}

// f: the fields of the diagnostics call; iout: its interval index (weight of the means).
void write_spectra(const output_fields &f, int iout) {
  const array2d ne = f.ne, pi = f.pi, lap_pe = f.lap_pe;
  exchange_halos({pi});  // rows x-1, x+1 of the gradient energy
  // four spectra along y, one plan of length ny
  fftw_plan_with_nthreads(1);
  double *in = reserved(fftw_alloc_real(ny), sizeof(double) * ny, "the spectra");
  cplx *out = reserved(fftw_alloc_complex(ny / 2 + 1), sizeof(cplx) * (ny / 2 + 1), "the spectra");
  fftw_plan plan = fftw_plan_dft_r2c_1d(ny, in, out, FFTW_ESTIMATE);
  const double half_hy = hy * 0.5;
  const double nxny = static_cast<double>(nx) * static_cast<double>(ny);
  std::vector<double> spectrum_store(static_cast<size_t>(std::max(nx, ny) / 2 + 1));
  double *const spectrum = spectrum_store.data();  // A[k], k = 0 .. n/2, of the spectrum being computed

  struct y_spectrum {
    const char *name;
    array2d field;  // row source; none (no base) for the gradient energy of pi
    term_kind term;
    double divisor, factor;
    double *mean;
  };
  const y_spectrum list[4] = {
      {"pky_p.dat", pi, abs_real, static_cast<double>(nx), 1.0 / hy, pkyavg},
      {"pky_n.dat", ne, abs_real, static_cast<double>(nx), 1.0 / hy, pkyavgn},
      {"pky_w.dat", lap_pe, squared_real, static_cast<double>(nx), 0.5 / hy, pkyavgw},
      {"pky_e.dat", {nullptr, 0}, abs_real, nxny, 0.5 / hy, pkyavge},
  };
  for (const y_spectrum &s : list) {
    for (int k = 0; k <= ny / 2; k++) spectrum[k] = 0.0;
    for (int x = slab_first; x < slab_first + slab_rows; x++) {
      if (s.field.base) {
        for (int y = 0; y <= ny1; y++) in[y] = s.field[x][y];
      } else {
        // gradient energy density (Dx pi)^2 + (Dy pi)^2 with periodic neighbours (the halo rows)
        const int xp = x + 1, xm = x - 1;
        for (int y = 0; y <= ny1; y++) {
          const int yp = y == ny1 ? 0 : y + 1;
          const int ym = y == 0 ? ny1 : y - 1;
          const double dx = half_hy * (pi[xp][y] - pi[xm][y]);
          const double dy = half_hy * (pi[x][yp] - pi[x][ym]);
          in[y] = dx * dx + dy * dy;
        }
      }
      fftw_execute(plan);
      accumulate(spectrum, out, ny, s.term);
    }
    finish_spectrum(spectrum, s.name, ny, s.divisor, s.factor, s.mean, iout);
  }
  fftw_destroy_plan(plan);
  fftw_free(in);
  fftw_free(out);

  // the spectrum along x, one plan of length nx over the columns
  in = reserved(fftw_alloc_real(nx), sizeof(double) * nx, "the spectra");
  out = reserved(fftw_alloc_complex(nx / 2 + 1), sizeof(cplx) * (nx / 2 + 1), "the spectra");
  plan = fftw_plan_dft_r2c_1d(nx, in, out, FFTW_ESTIMATE);
  for (int k = 0; k <= nx / 2; k++) spectrum[k] = 0.0;
  column_blocks(pi, 64, [&](int, int count, const double *columns) {
    for (int c = 0; c < count; c++) {
      std::copy(columns + static_cast<size_t>(c) * nx, columns + static_cast<size_t>(c + 1) * nx, in);
      fftw_execute(plan);
      accumulate(spectrum, out, nx, abs_real);
    }
  });
  fftw_destroy_plan(plan);
  fftw_free(in);
  fftw_free(out);
  fftw_plan_with_nthreads(npar);
  finish_spectrum(spectrum, "pkx_p.dat", nx, nxny, 1.0 / hy, pkxavg, iout);
}
