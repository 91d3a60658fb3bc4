// Field solves of the time step on real transforms, each spectrum computed once per step.
//
// The model's field solves are gni = Gamma ni, the radial edge damping with xmask (vorfree = 2),
// the vorticity ww = -(zze ne + zzi gni) and the potentials pe = -P^-1 ww, pi = Gamma pe; with a
// spectral dissipation the next step needs D(ne), D(ni) of the new densities too. Gamma, -P^-1 and
// D are the tables cpoti, cvort and chyv (their symmetric parts on the half spectrum, state.hpp), so
// without the edge damping everything follows from the spectra Ne, Ni of the two new densities:
//   W = -(zze Ne + zzi G Ni),  Pe = cvort W,  Pi = G Pe,  De = chyv Ne,  Di = chyv Ni
// with G = nx ny cpoti (gamma_half): within one pair of transforms only one table carries the
// normalisation.
// (for cold ions Gamma is the identity: gni = ni and pi = pe exactly). A step then runs two r2c
// transforms and the c2r transforms of what it stores: pe, pi (warm ions) and De, Di (ihype > 0).
// The edge damping multiplies ne, ni and gni by xmask[x] in real space, after gni is formed and
// before the vorticity: then gni needs its own backward transform, the damped vorticity its own
// forward transform, and the damped densities theirs for the dissipation.
// Since cvort vanishes at k = 0, the potential has zero mean.
#include <cmath>

#include "operators/operators.hpp"
#include "parallel/processes.hpp"
#include "scheme/scheme.hpp"

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

// One pass over the half spectrum. Without `damped`: W from Ne, Ni (slots 0, 1 of spec_in);
// with it: W from slot 1 of spec_out, where the damped vorticity's transform left it. Pe goes to
// slot 0 of spec_out, Pi (warm ions) to slot 1; with `dissipate`, De and Di replace Ne and Ni.
template <bool warm, bool damped, bool dissipate>
static void spectral_products() {
  const int m = spectrum_columns();
  const size_t second = spectrum_slot;
#pragma omp parallel for schedule(static)
  for (int j = 0; j < spectrum_rows(); j++) {
    const size_t row = static_cast<size_t>(j) * m;
    cplx *__restrict se = spec_in + row, *__restrict si = spec_in + second + row;
    cplx *__restrict pe_out = spec_out + row, *__restrict pi_out = spec_out + second + row;
    const double *__restrict g = gamma_half + row, *__restrict v = cvort + row, *__restrict h = chyv + row;
    for (int y = 0; y < m; y++) {
      for (int part = 0; part < 2; part++) {
        double w;
        if (damped) {
          w = pi_out[y][part];
        } else {
          const double gi = warm ? g[y] * si[y][part] : si[y][part];
          w = -(zze * se[y][part] + zzi * gi);
        }
        const double p = v[y] * w;
        pe_out[y][part] = p;
        if (warm) pi_out[y][part] = g[y] * p;
        if (dissipate) {
          se[y][part] = h[y] * se[y][part];
          si[y][part] = h[y] * si[y][part];
        }
      }
    }
  }
}

template <bool warm>
static void spectral_products(bool damped, bool dissipate) {
  if (damped && dissipate) spectral_products<warm, true, true>();
  else if (damped) spectral_products<warm, true, false>();
  else if (dissipate) spectral_products<warm, false, true>();
  else spectral_products<warm, false, false>();
}

void potential_spectra(bool damped) {
  if (taui > 0)
    spectral_products<true>(damped, ihype > 0);
  else
    spectral_products<false>(damped, ihype > 0);
}

// Row pass of the edge damping. The update left the new densities in ne, ni (and ni in slot 1 of
// real_in); for warm ions gni's backward transform is in slot 0 of real_out. Damps ne, ni and
// gni, stores gni, writes the vorticity into slot 1 of real_out and, with `dissipate`,
// the damped densities into real_in.
template <bool warm, bool dissipate>
static void damping_pass() {
  const int n = ny;
  const int first = slab_first, end = slab_first + slab_rows;
#pragma omp parallel for schedule(static)
  for (int x = first; x < end; x++) {
    const size_t row = static_cast<size_t>(x - first) * real_row();
    double *__restrict nex = ne[x], *__restrict nix = ni[x];
    double *__restrict gnix = gni[x];
    const double *__restrict gyro = real_out + row;
    double *__restrict vort = real_out + real_slot + row;
    double *__restrict de = real_in + row, *__restrict di = real_in + real_slot + row;
    const double mask = xmask[x];
    for (int y = 0; y < n; y++) {
      const double g = (warm ? gyro[y] : nix[y]) * mask;
      const double e = nex[y] * mask, i = nix[y] * mask;
      nex[y] = e;
      nix[y] = i;
      gnix[y] = g;
      vort[y] = -(zze * e + zzi * g);
      if (dissipate) {
        de[y] = e;
        di[y] = i;
      }
    }
  }
}

void damped_vorticity() {
  const bool warm = taui > 0, dissipate = ihype > 0;
  if (warm) {
    // gni of the undamped new ni: its spectrum, the product with cpoti, back into real_out slot 0.
    const int m = spectrum_columns();
    cplx *const ni_spectrum = spec_in + spectrum_slot;
    forward(1);
#pragma omp parallel for schedule(static)
    for (int j = 0; j < spectrum_rows(); j++) {
      const size_t row = static_cast<size_t>(j) * m;
      for (int y = 0; y < m; y++) {
        spec_out[row + y][0] = cpoti[row + y] * ni_spectrum[row + y][0];
        spec_out[row + y][1] = cpoti[row + y] * ni_spectrum[row + y][1];
      }
    }
    backward(spec_out, real_out);
  }
  if (warm && dissipate) damping_pass<true, true>();
  else if (warm) damping_pass<true, false>();
  else if (dissipate) damping_pass<false, true>();
  else damping_pass<false, false>();
  forward_from(real_out + real_slot, spec_out + spectrum_slot);
  if (dissipate) forward_pair();
}

void store_potentials() {
  const bool warm = taui > 0, dissipate = ihype > 0;
  if (warm) backward_pair(spec_out, real_out);
  else backward(spec_out, real_out);
  if (dissipate) backward_pair(spec_in, real_in);
  const int n = ny;
  const int first = slab_first, end = slab_first + slab_rows;
  const double *const pi_source = warm ? real_out + real_slot : real_out;
#pragma omp parallel for schedule(static)
  for (int x = first; x < end; x++) {
    const size_t row = static_cast<size_t>(x - first) * real_row();
    double *__restrict pex = pe[x], *__restrict pix = pi[x];
    const double *__restrict p = real_out + row, *__restrict q = pi_source + row;
    for (int y = 0; y < n; y++) {
      pex[y] = p[y];
      pix[y] = q[y];
    }
    if (dissipate) {
      double *__restrict dex = dis_e[x], *__restrict dix = dis_i[x];
      const double *__restrict a = real_in + row, *__restrict b = real_in + real_slot + row;
      for (int y = 0; y < n; y++) {
        dex[y] = a[y];
        dix[y] = b[y];
      }
    }
  }
}

void derive_dissipation() {
  if (ihype <= 0) return;
  spectral_solve(ne, chyv, dis_e);
  spectral_solve(ni, chyv, dis_i);
}

// D(f) of the chosen ihype into out (vis the first Laplacian of the biharmonic branch).
static void dissipation_of(array2d f, array2d vis, array2d out) {
  if (ihype == -1) {
    laplace(out, f);
  } else if (ihype == 0) {
    laplace(vis, f);
    laplace(out, vis);
  } else if (ihype > 0) {
    spectral_solve(f, chyv, out);
  }
}

void derive_output_fields() {
  const int first = slab_first, end = slab_first + slab_rows;
  if (vorfree != 2 && taui > 0) spectral_solve(ni, cpoti, gni);
#pragma omp parallel for schedule(static)
  for (int x = first; x < end; x++)
    for (int y = 0; y <= ny1; y++) {
      if (vorfree != 2 && !(taui > 0)) gni[x][y] = ni[x][y];
      ww[x][y] = -(zze * ne[x][y] + zzi * gni[x][y]);
    }
  dissipation_of(ne1, vis_e, hyve);
  dissipation_of(ni1, vis_i, hyvi);
}
