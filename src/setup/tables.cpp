// The Fourier-space coefficient tables cvfis, cpoti, cvort, clap and chyv, and gamma0.
//
// Entry [i][j] multiplies the Fourier coefficient with index i along x and j along y of an
// unnormalised forward transform; every entry includes the normalisation N = 1/(nx ny), so a
// forward transform, the product and a backward transform need no further scaling. With
// k^2 = kx^2 + ky^2, G the gyro-average and P the polarisation factor:
//   cpoti = N G,  cvfis = N / G,  cvort = -N / P (0 at k = 0),  clap = -k^2 N,  chyv = (k^2)^p N.
// The tables depend on (i, j) only through k^2, so for even sizes they are symmetric under
// (i, j) -> (-i mod nx, -j mod ny). For odd sizes they are not at the highest modes (index i >= nxh
// stands for i - nx): there the real part of a complex filter applies the symmetric part
// (c(k) + c(-k))/2, so the tables the program keeps hold that part, on the part of the half
// spectrum this process holds and in its layout (parallel/processes.hpp); table_point gives the
// full coefficient at any index.
#include <cmath>

#include "common/state.hpp"
#include "parallel/processes.hpp"
#include "setup/setup.hpp"

double gamma0(double b) {
  double b2 = b * b;
  return 0.5 * (1.0 + exp(-2.0 * b)) * (1.0 + 0.24273 * b2) / ((1.0 + 0.43023 * b2) * pow(1.0 + 0.25 * b2, 0.25));
}

table_values table_point(int i, int j) {
  const double twopi = 6.283185307179586;
  const double norm = (1.0 / nx) * (1.0 / ny);
  // A cold-ion run (taui = 0) uses a tiny gyro-radius in the tables to keep P invertible.
  const double tau = taui == 0 ? 1e-6 : taui;
  int ix = i < nxh ? i : i - nx;
  double kx = twopi * hy * ix / nx;
  int jy = j < nyh ? j : j - ny;
  double ky = twopi * hy * jy / ny;
  double k2 = kx * kx + ky * ky;
  double bi = k2 * mui * tau;
  double be = k2 * mue * taue;

  double g, p;
  if (ipade == 0) {  // Pade form
    g = 1.0 / (1.0 + 0.5 * bi);
    p = k2 * (aai * mui / (1.0 + xlwl * bi) + aae * mue / (1.0 + xlwl * be));
  } else {  // gamma0 form
    g = std::sqrt(gamma0(bi));
    p = (aai / tau) * (1.0 - gamma0(bi)) + (aae / taue) * (1.0 - gamma0(be));
  }

  table_values v;
  // P vanishes at k = 0: the potential has no mean part.
  v.cvort = (i == 0 && j == 0) ? 0.0 : -norm / p;
  v.clap = -k2 * norm;
  v.cpoti = g * norm;
  v.cvfis = norm / g;
  switch (ihype) {
    case 1: v.chyv = k2 * norm; break;
    case 2: v.chyv = k2 * k2 * norm; break;
    case 4: v.chyv = k2 * k2 * k2 * k2 * norm; break;
    case 6: v.chyv = k2 * k2 * k2 * norm; break;  // k^6: the third power
    case 8: v.chyv = k2 * k2 * k2 * k2 * k2 * k2 * norm; break;  // k^12: the sixth power
    default: v.chyv = 0.0; break;  // no spectral dissipation: the table stays zero
  }
  return v;
}

void build_tables() {
  const int columns = spectrum_columns();
  for (int r = 0; r < spectrum_rows(); r++)
    for (int c = 0; c < columns; c++) {
      const int i = spectrum_kx(r, c), j = spectrum_ky(r, c);
      const table_values a = table_point(i, j), b = table_point(i == 0 ? 0 : nx - i, j == 0 ? 0 : ny - j);
      const size_t at = static_cast<size_t>(r) * columns + c;
      cvort[at] = 0.5 * (a.cvort + b.cvort);
      clap[at] = 0.5 * (a.clap + b.clap);
      cpoti[at] = 0.5 * (a.cpoti + b.cpoti);
      cvfis[at] = 0.5 * (a.cvfis + b.cvfis);
      chyv[at] = 0.5 * (a.chyv + b.chyv);
    }
}
