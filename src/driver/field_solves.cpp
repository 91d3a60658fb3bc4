// Field solves of the time step on the persistent plans: the spectral filter, the gyro-averages
// gni = Gamma ni and pi = Gamma pe (stages poi1, poi2), the radial edge damping with xmask
// (stage bnd) and the vorticity ww = ne - gni with the potential pe = -P^-1 ww (stage pol).
// Since cvort vanishes at k = 0, the potential has zero mean.
#include <cmath>

#include "driver/driver.hpp"

double xmask[nmax];

void compute_xmask() {
  for (int x = 0; x <= nx1; x++) {
    // Both squares in integer arithmetic, then converted.
    int right = (nx1 - x) * (nx1 - x), left = x * x;
    xmask[x] = 1.0 - exp(-0.25 * static_cast<double>(right)) - exp(-0.25 * static_cast<double>(left));
  }
}

void f_copy2darray(array2d from, array2d to, int lastx, int lasty) {
#pragma omp parallel for schedule(static)
  for (int x = 0; x <= lastx; x++)
    for (int y = 0; y <= lasty; y++) to[x][y] = from[x][y];
}

// Multiply the spectrum in fw_out by table c and transform back (passes 3 and 4 of a filter).
// The product is formed in place in fw_out, and the backward plan runs through FFTW's new-array
// execute from fw_out into fw_in, whose input the forward transform has already consumed (same
// sizes, alignment and out-of-place placement as bw_in and bw_out): the same transform of the same
// numbers, without writing two more buffers. The filtered field is the real part of fw_in, and the
// pass that reads it can write the next transform input over it in place.
static void multiply_and_back(array2d c) {
  const int n = ny;
#pragma omp parallel for schedule(static)
  for (int x = 0; x <= nx1; x++) {
    cplx *row = fw_out + static_cast<size_t>(x) * n;
    const double *cx = c[x];
    for (int y = 0; y < n; y++) {
      row[y][0] *= cx[y];
      row[y][1] *= cx[y];
    }
  }
  fftw_execute_dft(plan_bw, fw_out, fw_in);
}

// g = real part of the backward transform in fw_in.
static void take_real(array2d g) {
  const int n = ny;
#pragma omp parallel for schedule(static)
  for (int x = 0; x <= nx1; x++) {
    const cplx *src = fw_in + static_cast<size_t>(x) * n;
    double *gx = g[x];
    for (int y = 0; y < n; y++) gx[y] = src[y][0];
  }
}

// Forward transform of f, product with c and backward transform: fw_in holds the filtered f.
static void filter_to_spectral_output(array2d f, array2d c) {
  const int n = ny;
#pragma omp parallel for schedule(static)
  for (int x = 0; x <= nx1; x++) input_row(fw_in + static_cast<size_t>(x) * n, f[x]);
  fftw_execute(plan_fw);
  multiply_and_back(c);
}

void spectral_filter(array2d f, array2d c, array2d g) {
  filter_to_spectral_output(f, c);
  take_real(g);
}

// Stage poi1: gni from ni (a copy for cold ions).
void stage_poi1() {
  if (taui > 0)
    spectral_filter(ni, cpoti, gni);
  else
    f_copy2darray(ni, gni, nx1, ny1);
}

// Stage bnd: damp ne, ni and gni towards the radial edges when vorfree is 2.
void stage_bnd() {
  if (vorfree != 2) return;
  const int n = ny;
#pragma omp parallel for schedule(static)
  for (int x = 0; x <= nx1; x++) {
    const double m = xmask[x];
    for (int y = 0; y < n; y++) {
      ne[x][y] *= m;
      ni[x][y] *= m;
      gni[x][y] *= m;
    }
  }
}

// Stage pol: ww and the filter input in one pass, then pe = Re B(cvort F(ww)).
// Row x of the vorticity v = -(zze ne + zzi gni), stored in ww and as the transform input (v, 0).
static inline void vorticity_row(int x) {
  const int n = ny;
  const double *nex = ne[x], *gnix = gni[x];
  double *wwx = ww[x];
  for (int y = 0; y < n; y++) wwx[y] = -(zze * nex[y] + zzi * gnix[y]);
  input_row(fw_in + static_cast<size_t>(x) * n, wwx);
}

void stage_pol() {
#pragma omp parallel for schedule(static)
  for (int x = 0; x <= nx1; x++) vorticity_row(x);
  fftw_execute(plan_fw);
  multiply_and_back(cvort);
  take_real(pe);
}

// Stage poi2: pi from pe (a copy for cold ions).
void stage_poi2() {
  if (taui > 0)
    spectral_filter(pe, cpoti, pi);
  else
    f_copy2darray(pe, pi, nx1, ny1);
}

// ---- The field solves of timestep(), with the passes between transforms fused ----
// Each produces exactly the fields of the separate stages above, in fewer sweeps over the grid.

void gyro_average_density() {
  // fw_in holds the new ni, written by the update sweep. For warm ions fw_in then holds gni; the
  // vorticity pass reads it from there.
  if (taui <= 0) return;
  fftw_execute(plan_fw);
  multiply_and_back(cpoti);
}

void vorticity_and_potential(array2d level_e, array2d level_i) {
  const int n = ny;
  const bool warm = taui > 0, damp = vorfree == 2;
#pragma omp parallel for schedule(static)
  for (int x = 0; x <= nx1; x++) {
    const cplx *gyro = fw_in + static_cast<size_t>(x) * n;
    double *nex = ne[x], *nix = ni[x], *gnix = gni[x];
    if (damp) {
      // Edge damping of the new densities, of their copies in history level 0 and of gni.
      const double m = xmask[x];
      double *e0 = level_e[x], *i0 = level_i[x];
      for (int y = 0; y < n; y++) {
        double g = warm ? gyro[y][0] : nix[y];
        nex[y] *= m;
        nix[y] *= m;
        e0[y] *= m;
        i0[y] *= m;
        gnix[y] = g * m;
      }
    } else if (warm) {
      for (int y = 0; y < n; y++) gnix[y] = gyro[y][0];
    } else {
      for (int y = 0; y < n; y++) gnix[y] = nix[y];
    }
    vorticity_row(x);  // the row is still in cache
  }
  fftw_execute(plan_fw);
  multiply_and_back(cvort);
}

void gyro_average_potential() {
  const int n = ny;
  const bool warm = taui > 0;
#pragma omp parallel for schedule(static)
  for (int x = 0; x <= nx1; x++) {
    const cplx *src = fw_in + static_cast<size_t>(x) * n;
    double *pex = pe[x], *pix = pi[x];
    if (warm) {
      for (int y = 0; y < n; y++) pex[y] = src[y][0];
      input_row(fw_in + static_cast<size_t>(x) * n, pex);
    } else {
      for (int y = 0; y < n; y++) pex[y] = pix[y] = src[y][0];
    }
  }
  if (!warm) return;
  fftw_execute(plan_fw);
  multiply_and_back(cpoti);
  take_real(pi);
}
