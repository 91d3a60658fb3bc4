// Field solves of the time step on the persistent plans: the spectral filter, the gyro-averages
// gni = Gamma ni and pi = Gamma pe (stages poi1, poi2), the radial edge damping with xmask
// (stage bnd) and the vorticity ww = ne - gni with the potential pe = -P^-1 ww (stage pol).
// Since cvort vanishes at k = 0, the potential has zero mean.
#include <cmath>

#include "driver/driver.hpp"

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

// The spectrum in fw_out times table c, in place (pass 3 of a filter).
static void multiply(array2d c) {
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
}

// Multiply the spectrum in fw_out by table c and transform back (passes 3 and 4 of a filter).
// The backward plan runs through FFTW's new-array execute from fw_out into fw_in, whose input the
// forward transform has already consumed (same sizes, alignment and out-of-place placement as
// bw_in and bw_out): the same transform of the same numbers, without writing two more buffers.
// The filtered field is the real part of fw_in, and the pass that reads it can write the next
// transform input over it in place.
static void multiply_and_back(array2d c) {
  multiply(c);
  fftw_execute_dft(plan_bw, fw_out, fw_in);
}

// g = real part of the backward transform in src (fw_in by default).
static void take_real(array2d g, const cplx *src_buffer = fw_in) {
  const int n = ny;
#pragma omp parallel for schedule(static)
  for (int x = 0; x <= nx1; x++) real_row(g[x], src_buffer + static_cast<size_t>(x) * n);
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

// Row x of the vorticity pass: gni from the gyro-average in fw_in (warm ions) or from ni, the edge
// damping of ne, ni and gni (and of ne0, ni0 when `settle`), the vorticity -(zze ne + zzi gni) as
// the transform input in fw_in, and gni and ww stored when `settle`.
template <bool warm, bool damp, bool settle>
static void vorticity_pass_row(int x) {
  const int n = ny;
  cplx *const io = fw_in + static_cast<size_t>(x) * n;  // gyro-average in, vorticity out
  double *__restrict nex = ne[x], *__restrict nix = ni[x], *__restrict gnix = gni[x], *__restrict wwx = ww[x];
  double *__restrict e0 = ne0[x], *__restrict i0 = ni0[x];
  const double m = xmask[x];
  for (int y = 0; y < n; y++) {
    double g = warm ? io[y][0] : nix[y];
    if (damp) {
      nex[y] *= m;
      nix[y] *= m;
      if (settle) {
        e0[y] *= m;
        i0[y] *= m;
      }
      g = g * m;
    }
    const double v = -(zze * nex[y] + zzi * g);
    if (settle) {
      gnix[y] = g;
      wwx[y] = v;
    }
    io[y][0] = v;
    io[y][1] = 0.0;
  }
}

template <bool warm, bool damp, bool settle>
static void vorticity_pass() {
#pragma omp parallel for schedule(static)
  for (int x = 0; x <= nx1; x++) vorticity_pass_row<warm, damp, settle>(x);
}

void vorticity_and_potential(bool settle) {
  const bool warm = taui > 0, damp = vorfree == 2;
  typedef void (*pass)();
  static const pass passes[2][2][2] = {
      {{vorticity_pass<false, false, false>, vorticity_pass<false, false, true>},
       {vorticity_pass<false, true, false>, vorticity_pass<false, true, true>}},
      {{vorticity_pass<true, false, false>, vorticity_pass<true, false, true>},
       {vorticity_pass<true, true, false>, vorticity_pass<true, true, true>}}};
  passes[warm][damp][settle]();
  fftw_execute(plan_fw);
  multiply_and_back(cvort);
}

void gyro_average_potential(bool settle) {
  const int n = ny;
  const bool warm = taui > 0;
#pragma omp parallel for schedule(static)
  for (int x = 0; x <= nx1; x++) {
    cplx *const io = fw_in + static_cast<size_t>(x) * n;
    double *pex = pe[x], *pix = pi[x];
    if (warm) {
      real_row(pex, io);
      input_row(io, pex);
    } else if (settle) {
      for (int y = 0; y < n; y++) pex[y] = pix[y] = io[y][0];
    } else {
      real_row(pex, io);
    }
  }
  if (!warm) return;
  // Forward from fw_in, backward into bw_out: the same plans on buffers of the same alignment.
  fftw_execute(plan_fw);
  multiply(cpoti);
  fftw_execute_dft(plan_bw, fw_out, bw_out);
  if (settle) take_real(pi, bw_out);
}
