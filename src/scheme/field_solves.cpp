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

// What the pass over the half spectrum leaves in spec_in besides the potentials: nothing, the
// explicit spectral dissipation of the densities, or the new densities of an adaptive step.
enum second_pair { no_pair, dissipation_pair, density_pair };

// One pass over the half spectrum. Without `damped`: W from Ne, Ni (slots 0, 1 of spec_in);
// with it: W from slot 1 of spec_out, where the damped vorticity's transform left it. Pe goes to
// slot 0 of spec_out, Pi (warm ions) to slot 1. With dissipation_pair, De and Di replace Ne and Ni.
// With density_pair, Ne and Ni are first the explicit update's and become the new densities
// (timestep.cpp, "Which terms are implicit", with the step's factor), normalised for their
// backward transform; with `damped` too, the pass ends there (the potentials follow the damping).
template <bool warm, bool damped, int pair>
static void spectral_products(double factor) {
  const bool potentials = !(damped && pair == density_pair);
  const int m = spectrum_columns();
  const size_t second = spectrum_slot;
  const double norm = xyz;
#pragma omp parallel for schedule(static)
  for (int j = 0; j < spectrum_rows(); j++) {
    const size_t row = static_cast<size_t>(j) * m;
    cplx *__restrict se = spec_in + row, *__restrict si = spec_in + second + row;
    cplx *__restrict pe_out = spec_out + row, *__restrict pi_out = spec_out + second + row;
    const double *__restrict g = gamma_half + row, *__restrict v = cvort + row, *__restrict h = chyv + row;
    const double *__restrict c = pair == density_pair ? coupling_half + row : nullptr;
    const double *__restrict cross = pair == density_pair ? cross_half + row : nullptr;
    const double *__restrict d = pair == density_pair ? damping_half + row : nullptr;
    for (int y = 0; y < m; y++) {
      double ion = 1.0, electron = 1.0;
      if (pair == density_pair) {
        ion = 1.0 / (1.0 + factor * d[y]);
        electron = 1.0 / (1.0 + factor * (c[y] + d[y]));
      }
      for (int part = 0; part < 2; part++) {
        double n_e = se[y][part], n_i = si[y][part];
        if (pair == density_pair) {
          n_i = ion * n_i;
          n_e = electron * (n_e + factor * cross[y] * n_i);
          se[y][part] = norm * n_e;
          si[y][part] = norm * n_i;
        }
        if (!potentials) continue;
        double w;
        if (damped) {
          w = pi_out[y][part];
        } else {
          const double gi = warm ? g[y] * n_i : n_i;
          w = -(zze * n_e + zzi * gi);
        }
        const double p = v[y] * w;
        pe_out[y][part] = p;
        if (warm) pi_out[y][part] = g[y] * p;
        if (pair == dissipation_pair) {
          se[y][part] = h[y] * se[y][part];
          si[y][part] = h[y] * si[y][part];
        }
      }
    }
  }
}

template <bool warm>
static void spectral_products(bool damped, int pair, double factor) {
  if (damped && pair == dissipation_pair) spectral_products<warm, true, dissipation_pair>(factor);
  else if (damped && pair == density_pair) spectral_products<warm, true, density_pair>(factor);
  else if (damped) spectral_products<warm, true, no_pair>(factor);
  else if (pair == dissipation_pair) spectral_products<warm, false, dissipation_pair>(factor);
  else if (pair == density_pair) spectral_products<warm, false, density_pair>(factor);
  else spectral_products<warm, false, no_pair>(factor);
}

void potential_spectra(bool damped) {
  const int pair = explicit_spectral_dissipation() ? dissipation_pair : no_pair;
  if (taui > 0) spectral_products<true>(damped, pair, 0.0);
  else spectral_products<false>(damped, pair, 0.0);
}

void implicit_spectra(double factor, bool damped) {
  if (taui > 0) spectral_products<true>(damped, density_pair, factor);
  else spectral_products<false>(damped, density_pair, factor);
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
  const bool warm = taui > 0, dissipate = explicit_spectral_dissipation();
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

// pe and pi from real_out (pi from slot 1 for warm ions, else pe again).
static void store_potential_rows() {
  const int n = ny;
  const int first = slab_first, end = slab_first + slab_rows;
  const double *const pi_source = taui > 0 ? real_out + real_slot : real_out;
#pragma omp parallel for schedule(static)
  for (int x = first; x < end; x++) {
    const size_t row = static_cast<size_t>(x - first) * real_row();
    double *__restrict pex = pe[x], *__restrict pix = pi[x];
    const double *__restrict p = real_out + row, *__restrict q = pi_source + row;
    for (int y = 0; y < n; y++) {
      pex[y] = p[y];
      pix[y] = q[y];
    }
  }
}

// The backward transform of the pair in spec_in and its store into a and b.
static void store_pair(array2d a, array2d b) {
  backward_pair(spec_in, real_in);
  const int n = ny;
  const int first = slab_first, end = slab_first + slab_rows;
#pragma omp parallel for schedule(static)
  for (int x = first; x < end; x++) {
    const size_t row = static_cast<size_t>(x - first) * real_row();
    double *__restrict ax = a[x], *__restrict bx = b[x];
    const double *__restrict u = real_in + row, *__restrict w = real_in + real_slot + row;
    for (int y = 0; y < n; y++) {
      ax[y] = u[y];
      bx[y] = w[y];
    }
  }
}

void store_potentials() {
  if (taui > 0) backward_pair(spec_out, real_out);
  else backward(spec_out, real_out);
  store_potential_rows();
  if (explicit_spectral_dissipation()) store_pair(dis_e, dis_i);
  else if (cfl > 0 && vorfree != 2) store_pair(ne, ni);
}

void store_densities() { store_pair(ne, ni); }

void complete_start_potentials() {
  if (cfl <= 0 || stepping.levels != 1) return;
  const int first = slab_first, end = slab_first + slab_rows;
  if (taui > 0) spectral_solve(ni, cpoti, gni);
#pragma omp parallel for schedule(static)
  for (int x = first; x < end; x++)
    for (int y = 0; y <= ny1; y++) {
      if (!(taui > 0)) gni[x][y] = ni[x][y];
      ww[x][y] = -(zze * ne[x][y] + zzi * gni[x][y]);
    }
  spectral_solve(ww, cvort, pe);
  if (taui > 0) spectral_solve(pe, cpoti, pi);
  else
    for (int x = first; x < end; x++)
      for (int y = 0; y <= ny1; y++) pi[x][y] = pe[x][y];
}

void derive_dissipation() {
  if (!explicit_spectral_dissipation()) return;
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
  // The level the last step took its dissipation at: the old one explicitly, the new one implicitly.
  const bool implicit = cfl > 0;
  dissipation_of(implicit ? ne : ne1, vis_e, hyve);
  dissipation_of(implicit ? ni : ni1, vis_i, hyvi);
}
