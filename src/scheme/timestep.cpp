// One time step of the model: the two Arakawa brackets, the dissipation chosen by ihype, the
// third-order stiffly-stable multistep update of ne and ni with the history shift, and the field
// solves on real transforms (field_solves.cpp).
//
//   dne/dt = -chat ((ne - <ne>) - (pe - <pe>)) - d_y pe + clin delinv {ne, pe} - diff D(ne)
//   dni/dt =                                   - d_y pi + clin delinv {ni, pi} - diff D(ni)
//
// <.> is the row average along y (only when b_mhw is set); d_y is the centred difference scaled by
// hyd.
//
// The update. The step is the backward differentiation formula of order p (BDF3, p = 3) on the
// levels n0 = n(t), n1 = n(t - h1), n2 = n(t - h1 - h2), with the explicit right-hand side f
// extrapolated to the new time from its values at the same levels (f0 is the sweep's, f1 and f2 the
// stored ones) and the implicit part L taken at the new level:
//   n = l0 n0 - l1 n1 + l2 n2 + g (s0 f0 - s1 f1 + s2 f2) + g L n          (1)
// For the step h0 = h after h1 and h2 let the levels lie at the distances d1 = 1, d2 = 1 + h1/h0,
// d3 = 1 + (h1 + h2)/h0 (in units of h0) before the new time. With the Lagrange polynomial through
// the new level and the p old ones, the BDF sets its derivative at the new time equal to the
// right-hand side; dividing by the new level's weight gives, for p = 3 with
// Q = d2 d3 + d1 d3 + d1 d2:
//   g  = h0 d1 d2 d3 / Q                                 (dt 6/11 at equal steps)
//   l0 = (d2 d3)^2 / (Q (d2 - d1)(d3 - d1))              (18/11)
//   l1 = (d1 d3)^2 / (Q (d2 - d1)(d3 - d2))              ( 9/11)
//   l2 = (d1 d2)^2 / (Q (d3 - d1)(d3 - d2))              ( 2/11)
// and the extrapolation of f to the new time (the Lagrange polynomial through the old levels):
//   s0 = d2 d3 / ((d2 - d1)(d3 - d1)),  s1 = d1 d3 / ((d2 - d1)(d3 - d2)),  s2 = d1 d2 / ((d3 - d1)(d3 - d2))
// (3, 3, 1). l0 - l1 + l2 = 1 and s0 - s1 + s2 = 1 for any steps. p = 2 (on d1, d2; Q = d1 + d2):
// g = h0 d1 d2/Q, l0 = d2^2/(Q (d2 - d1)), l1 = d1^2/(Q (d2 - d1)), s0 = d2/(d2 - d1),
// s1 = d1/(d2 - d1) (4/3, 1/3, 2, 1 and 2/3 h at equal steps); p = 1: g = h0, l0 = s0 = 1.
// At equal steps the distances are the integers 1, 2, 3, every product and difference above is an
// exact small integer and each weight one division of two of them, which rounds to the same double
// as the constant (36/22 and 18/11 are one number); g is (h0 6)/11, as dt 6/11 was formed. So the
// fixed step is the equal-step case of the same update, bit for bit.
// The local error of order p is O(h^(p+1)); the extrapolation of f is of the same order, so the
// update is of order p in time for any sequence of steps whose ratios stay bounded (the variable-
// step BDF3 is zero-stable for steps growing by up to 1.6 per step, see step_control.cpp).
//
// Which terms are implicit (L):
//   - fixed steps (cfl = 0): none; the dissipation enters at level 0 with weight 1 inside g,
//     - g diff D(n0), first order in time, and the coupling is explicit: the step of earlier
//     versions, limited by the coupling's rate C (1 + 1/P) at the smallest coupled wavenumber;
//   - adaptive steps (cfl > 0): the parallel coupling and the dissipation. Both are linear and
//     diagonal per Fourier mode once the potential is written by the densities,
//     pe = -(1/P)(ne - Gamma ni), so in (1) for each mode k
//       (1 + g d) Ni = Ni*
//       (1 + g (c + d)) Ne = Ne* + g x Ni,   c = C (1 + 1/P),  x = C Gamma/P,  d = diff D(k)
//     with Ne*, Ni* the spectra of the explicit part of (1), c and x zero for the modes the
//     coupling leaves out (ky = 0 in the modified model; the k = 0 mode, whose P is taken as
//     infinite like cvort's, decays as -C ne in the ordinary model) and D the symbol of the chosen
//     dissipation (the fourth-order Laplacian's (hy^2/12)(32 cos t - 2 cos 2t - 30) per direction
//     for ihype -1, its square for 0, the spectral factor otherwise). The ions have no coupling,
//     so the solve is a division per mode for ni, then one for ne; it runs in the pass over the
//     half spectrum that forms the potentials, which then come from the new densities. The step is
//     then limited by the E x B drift and the drive only, whatever C, and the dissipation is third
//     order too. A start at third order and the step's length: step_control.cpp.
//
// How a step runs, and what the stages of the timing report hold:
//   upd   one sweep over the rows: both brackets, the dissipation rows, the update (the explicit
//         part of (1) with adaptive steps), the history shift into the named levels and the new
//         densities written as the transforms' input;
//   poi1  the forward transforms of the new ne and ni (one batched r2c pair);
//   bnd   instead of poi1 with the edge damping (vorfree = 2): the forward transform of ni and
//         gni's backward transform (warm ions), the damping pass, which stores gni and forms the
//         vorticity, and the forward transforms of the vorticity (and of the damped densities for
//         an explicit spectral dissipation); with adaptive steps the implicit pass and the store of
//         the densities come first;
//   pol   one pass over the half spectrum forming the spectra of pe, pi (and of D(ne), D(ni), or
//         with adaptive steps of the new densities);
//   poi2  the backward transforms (pe and pi as one batched pair, one alone for cold ions, the
//         dissipation or the new densities as a second pair) and the pass that stores them;
//   mem   nothing (the history moves on inside the sweep); kept for the report's format.
// Transforms per step, in complex-transform equivalents (an r2c or c2r is about half a complex
// one): warm ions with ihype 2: 2 r2c + 4 c2r = 3; cold ions with ihype 2: 2.5; warm ions without
// a spectral dissipation: 2. Adaptive steps always store the new densities' pair instead of the
// dissipation's: 3 (warm) and 2.5 (cold) with any dissipation. The edge damping adds gni's c2r
// (warm ions) and, with a spectral dissipation, the r2c pair of the damped densities.
//
// The sweep. One pass over the rows computes, row by row, both brackets and the Laplacian
// dissipation (kept in row buffers, never stored), the update and the history shift, while the rows
// it reads are still in cache. Each row is done in chunks of `sweep_columns` columns, every stage of
// a chunk before the next chunk: all the streams of the update then advance together and the
// chunk's bracket and dissipation values are read back from the first-level cache. Since the update
// overwrites ne and ni in place, the stencils read the old values from copies: each thread saves
// the two rows before and after its block (other threads overwrite them; beyond the slab they are
// the halo rows, exchanged with the neighbouring processes as the step starts) before any thread
// writes, and copies each of its own rows before updating it, keeping the last three. With adaptive
// steps the sweep also takes the E x B measure max |grad phi|^2 of the potential it reads (for
// the controller, step_control.cpp).
#include <omp.h>

#include <algorithm>
#include <cmath>
#include <cstring>

#include "common/files.hpp"
#include "operators/operators.hpp"
#include "parallel/processes.hpp"
#include "scheme/scheme.hpp"

double stage_time[nstages];

// Per thread: for each density, old rows lo-2, lo-1, hi, hi+1 of its block [lo, hi), three old
// rows of its own, a bracket row and a dissipation row; one zero row for ihype < -1.
enum { row_before, row_after = 2, row_ring = 4, row_bracket = 7, row_dissipation, rows_per_density };
constexpr int sweep_columns = 64;
static double *sweep_rows;
static int sweep_threads;
static size_t row_stride;  // ny rounded up to whole cache lines

// Doubles of the row store for `threads` threads on rows of gridy points.
static size_t sweep_rows_count(int gridy, int threads) {
  const size_t stride = (static_cast<size_t>(gridy) + 7) / 8 * 8;
  return (static_cast<size_t>(threads) * 2 * rows_per_density + 1) * stride;
}

double sweep_rows_bytes(int gridy, int threads) { return sizeof(double) * static_cast<double>(sweep_rows_count(gridy, threads)); }

void make_sweep_rows(int threads) {
  free_sweep_rows();
  sweep_threads = threads;
  row_stride = (static_cast<size_t>(ny) + 7) / 8 * 8;
  const size_t count = sweep_rows_count(ny, threads);
  sweep_rows = reserved(fftw_alloc_real(count), sweep_rows_bytes(ny, threads), "the rows of the update sweep");
  // Each thread's rows first touched by that thread; the zero row after them by the first.
  const size_t per_thread = 2 * rows_per_density * row_stride;
#pragma omp parallel num_threads(threads)
  {
    const int t = omp_get_thread_num();
    memset(sweep_rows + t * per_thread, 0, sizeof(double) * per_thread);
    if (t == 0) memset(sweep_rows + threads * per_thread, 0, sizeof(double) * (count - threads * per_thread));
  }
}

void free_sweep_rows() {
  fftw_free(sweep_rows);
  sweep_rows = nullptr;
  sweep_threads = 0;
}

// Row averages of ne and pe along y when b_mhw is set (zero otherwise), taken before the row is
// overwritten.
static void row_averages(int x, double &avg_n, double &avg_p) {
  avg_n = avg_p = 0.0;
  if (!b_mhw) return;
  const int n = ny;
  const double *nex = ne[x], *pex = pe[x];
  double sum_n = 0.0, sum_p = 0.0;
  for (int y = 0; y < n; y++) {
    sum_n += nex[y];
    sum_p += pex[y];
  }
  avg_n = sum_n / n;
  avg_p = sum_p / n;
}

step_weights multistep_weights(int order, double h0, double h1, double h2) {
  step_weights w = {{1.0, 0.0, 0.0}, {1.0, 0.0, 0.0}, h0};
  const double d1 = 1.0, d2 = 1.0 + h1 / h0, d3 = d2 + h2 / h0;
  if (order == 2) {
    const double q = d1 + d2, gap = d2 - d1;
    w.factor = h0 * (d1 * d2) / q;
    w.level[0] = d2 * d2 / (q * gap);
    w.level[1] = d1 * d1 / (q * gap);
    w.slope[0] = d2 / gap;
    w.slope[1] = d1 / gap;
  } else if (order >= 3) {
    const double q = d2 * d3 + d1 * d3 + d1 * d2;
    const double gap21 = d2 - d1, gap31 = d3 - d1, gap32 = d3 - d2;
    w.factor = h0 * (d1 * d2 * d3) / q;
    w.level[0] = (d2 * d3) * (d2 * d3) / (q * (gap21 * gap31));
    w.level[1] = (d1 * d3) * (d1 * d3) / (q * (gap21 * gap32));
    w.level[2] = (d1 * d2) * (d1 * d2) / (q * (gap31 * gap32));
    w.slope[0] = d2 * d3 / (gap21 * gap31);
    w.slope[1] = d1 * d3 / (gap21 * gap32);
    w.slope[2] = d1 * d2 / (gap31 * gap32);
  }
  return w;
}

// What the sweep of a step applies: the weights of (1), the coupling's weight in the explicit part
// (chat with fixed steps, 0 when it is implicit) and the dissipation's (diff, or 0).
struct sweep_terms {
  step_weights w;
  double coupling, nu;
};

// Columns from .. to-1 of row x of the update: both right-hand sides and both new densities, from
// the row averages, the bracket rows be, bi and the dissipation rows he, hi; the history moves on
// by one level, and the new densities are also written into e_out, i_out (the transforms' input).
// Level 0 is ne and ni themselves; the new right-hand sides become level 1 of the tendencies. All
// history values of a point are read before any is written.
static void update_row(int x, const sweep_terms &terms, const double *__restrict be, const double *__restrict bi,
                       const double *__restrict he, const double *__restrict hi, double avg_n, double avg_p,
                       double *__restrict e_out, double *__restrict i_out, int from, int to) {
  const double l0 = terms.w.level[0], l1 = terms.w.level[1], l2 = terms.w.level[2];
  const double s0 = terms.w.slope[0], s1 = terms.w.slope[1], s2 = terms.w.slope[2];
  const double coupling = terms.coupling, drive = hyd, advect = clin * delinv, step = terms.w.factor, nu = terms.nu;
  const int last = ny1;
  double *__restrict nex = ne[x], *__restrict nix = ni[x];
  const double *__restrict pex = pe[x], *__restrict pix = pi[x];
  double *__restrict e1 = ne1[x], *__restrict e2 = ne2[x];
  double *__restrict i1 = ni1[x], *__restrict i2 = ni2[x];
  double *__restrict fe1 = fne1[x], *__restrict fe2 = fne2[x];
  double *__restrict fi1 = fni1[x], *__restrict fi2 = fni2[x];
  auto point = [&](int ym, int y, int yp) {
    const double le0 = nex[y], le1 = e1[y], le2 = e2[y], li0 = nix[y], li1 = i1[y], li2 = i2[y];
    const double lfe1 = fe1[y], lfe2 = fe2[y], lfi1 = fi1[y], lfi2 = fi2[y];
    double fe = -coupling * ((le0 - avg_n) - (pex[y] - avg_p)) - drive * (pex[yp] - pex[ym]) + advect * be[y];
    double fi = -drive * (pix[yp] - pix[ym]) + advect * bi[y];
    double new_e = l0 * le0 - l1 * le1 + l2 * le2 + step * (s0 * fe - s1 * lfe1 + s2 * lfe2 - nu * he[y]);
    double new_i = l0 * li0 - l1 * li1 + l2 * li2 + step * (s0 * fi - s1 * lfi1 + s2 * lfi2 - nu * hi[y]);
    nex[y] = e_out[y] = new_e;
    nix[y] = i_out[y] = new_i;
    e2[y] = le1;
    e1[y] = le0;
    i2[y] = li1;
    i1[y] = li0;
    fe2[y] = lfe1;
    fe1[y] = fe;
    fi2[y] = lfi1;
    fi1[y] = fi;
  };
  // The y neighbours wrap at the two edge columns only; every point reads and writes its own
  // column of each array, so the interior runs as one vector loop.
  int y = from;
  if (y == 0 && y < to) point(last, y++, last == 0 ? 0 : 1);
  const int end = to < last ? to : last;
#pragma omp simd
  for (int k = y; k < end; k++) point(k - 1, k, k + 1);
  if (last < to && last > 0) point(last - 1, last, 0);
}

// The largest squared centred gradient (phi[+1] - phi[-1])^2 summed over x and y of columns
// from .. to-1 of the row phi0 (rows phim, phip before and after it), and `largest`.
static double gradient_row(const double *__restrict phim, const double *__restrict phi0,
                           const double *__restrict phip, int from, int to, double largest) {
  const int last = ny1;
  auto at = [&](int ym, int y, int yp) {
    const double dx = phip[y] - phim[y], dy = phi0[yp] - phi0[ym];
    return dx * dx + dy * dy;
  };
  int y = from;
  if (y == 0 && y < to) largest = std::fmax(largest, at(last, y++, last == 0 ? 0 : 1));
  const int end = to < last ? to : last;
#pragma omp simd reduction(max : largest)
  for (int k = y; k < end; k++) largest = std::fmax(largest, at(k - 1, k, k + 1));
  if (last < to && last > 0) largest = std::fmax(largest, at(last - 1, last, 0));
  return largest;
}

// The sweep (see the head of the file). Dissipation rows with fixed steps: the Laplacian of the old
// density rows (ihype -1), the Laplacian of vis_e, vis_i = Laplacian of the densities formed before
// the sweep (ihype 0), dis_e and dis_i (spectral), or a zero row (none; and with adaptive steps,
// whose dissipation is implicit). With `measure`, sweep_gradient becomes the E x B measure of pe.
static void sweep(const sweep_terms &terms, bool measure) {
  const bool fixed = cfl <= 0;
  const bool laplacian = fixed && ihype == -1, biharmonic = fixed && ihype == 0;
  const bool spectral = explicit_spectral_dissipation();
  const int first = slab_first, end = slab_first + slab_rows;
  // The rows the stencils reach beyond the slab, as the step starts.
  exchange_halos({ne, ni, pe, pi});
  if (biharmonic) {
#pragma omp parallel for schedule(static)
    for (int x = first; x < end; x++) {
      laplace_row(ne[x - 2], ne[x - 1], ne[x], ne[x + 1], ne[x + 2], vis_e[x], 0, ny);
      laplace_row(ni[x - 2], ni[x - 1], ni[x], ni[x + 1], ni[x + 2], vis_i[x], 0, ny);
    }
    exchange_halos({vis_e, vis_i});
  }
  const size_t row_bytes = sizeof(double) * ny;
  const double *const zero_row = sweep_rows + static_cast<size_t>(sweep_threads) * 2 * rows_per_density * row_stride;
  double largest = 0.0;
#pragma omp parallel num_threads(sweep_threads) reduction(max : largest)
  {
    const int threads = omp_get_num_threads(), t = omp_get_thread_num();
    int lo, hi;
    thread_rows(first, slab_rows, t, threads, &lo, &hi);  // the partition the fields were first touched in
    double *own = sweep_rows + static_cast<size_t>(t) * 2 * rows_per_density * row_stride;
    double *const rows_e = own, *const rows_i = own + rows_per_density * row_stride;
    if (lo < hi)
      for (int k = 0; k < 2; k++) {
        const int before = lo - 2 + k, after = hi + k;  // halo rows beyond the slab
        memcpy(rows_e + (row_before + k) * row_stride, ne[before], row_bytes);
        memcpy(rows_i + (row_before + k) * row_stride, ni[before], row_bytes);
        memcpy(rows_e + (row_after + k) * row_stride, ne[after], row_bytes);
        memcpy(rows_i + (row_after + k) * row_stride, ni[after], row_bytes);
      }
#pragma omp barrier
    double *const be = rows_e + row_bracket * row_stride, *const bi = rows_i + row_bracket * row_stride;
    double *const rows_de = rows_e + row_dissipation * row_stride, *const rows_di = rows_i + row_dissipation * row_stride;
    for (int x = lo; x < hi; x++) {
      double avg_n = 0.0, avg_p = 0.0;
      if (fixed) row_averages(x, avg_n, avg_p);  // the coupling's, explicit with fixed steps only
      memcpy(rows_e + (row_ring + x % 3) * row_stride, ne[x], row_bytes);
      memcpy(rows_i + (row_ring + x % 3) * row_stride, ni[x], row_bytes);
      // Row x + d (d = -2 .. 2) of a density as it was at the start of the step: from the copies
      // for the rows of other blocks, for the rows already updated and for row x itself (its
      // chunks are overwritten one by one), from the field for the rows still to come.
      auto old_row = [&](array2d f, double *saved, int d) -> const double * {
        int r = x + d;
        if (r < lo) return saved + (row_before + r - lo + 2) * row_stride;
        if (r >= hi) return saved + (row_after + r - hi) * row_stride;
        if (d <= 0) return saved + (row_ring + r % 3) * row_stride;
        return f[r];
      };
      const double *em2 = old_row(ne, rows_e, -2), *em = old_row(ne, rows_e, -1), *e0 = old_row(ne, rows_e, 0),
                   *ep = old_row(ne, rows_e, 1), *ep2 = old_row(ne, rows_e, 2);
      const double *im2 = old_row(ni, rows_i, -2), *im = old_row(ni, rows_i, -1), *i0 = old_row(ni, rows_i, 0),
                   *ip = old_row(ni, rows_i, 1), *ip2 = old_row(ni, rows_i, 2);
      const int xm = x - 1, xp = x + 1, xm2 = x - 2, xp2 = x + 2;
      const double *de = zero_row, *di = zero_row;
      if (laplacian || biharmonic) de = rows_de, di = rows_di;
      if (spectral) de = dis_e[x], di = dis_i[x];
      double *const e_out = real_in + static_cast<size_t>(x - first) * real_row(), *const i_out = e_out + real_slot;
      for (int from = 0; from < ny; from += sweep_columns) {
        const int to = std::min(from + sweep_columns, ny);
        arakawa_row(em, e0, ep, pe[xm], pe[x], pe[xp], be, from, to);
        arakawa_row(im, i0, ip, pi[xm], pi[x], pi[xp], bi, from, to);
        if (measure) largest = gradient_row(pe[xm], pe[x], pe[xp], from, to, largest);
        if (laplacian) {
          laplace_row(em2, em, e0, ep, ep2, rows_de, from, to);
          laplace_row(im2, im, i0, ip, ip2, rows_di, from, to);
        } else if (biharmonic) {
          laplace_row(vis_e[xm2], vis_e[xm], vis_e[x], vis_e[xp], vis_e[xp2], rows_de, from, to);
          laplace_row(vis_i[xm2], vis_i[xm], vis_i[x], vis_i[xp], vis_i[xp2], rows_di, from, to);
        }
        update_row(x, terms, be, bi, de, di, avg_n, avg_p, e_out, i_out, from, to);
      }
    }
  }
  if (measure) sweep_gradient = largest;
}

bool explicit_spectral_dissipation() { return cfl <= 0 && ihype > 0; }

void timestep(double h) {
  double clock = omp_get_wtime();
  auto lap = [&clock](int timer) {
    double now = omp_get_wtime();
    stage_time[timer] += now - clock;
    clock = now;
  };
  const bool implicit = cfl > 0, damped = vorfree == 2;
  const sweep_terms terms = {multistep_weights(stepping.levels, h, stepping.h1, stepping.h2), implicit ? 0.0 : chat,
                             implicit ? 0.0 : diff};
  sweep(terms, implicit);
  lap(t_upd);
  if (implicit) {
    // The densities' implicit part first: the edge damping and the potentials need them whole.
    forward_pair();
    lap(t_poi1);
    implicit_spectra(terms.w.factor, damped);
    lap(t_pol);
    if (damped) {
      store_densities();
      lap(t_poi2);
    }
  }
  if (damped) {
    damped_vorticity();
    lap(t_bnd);
  } else if (!implicit) {
    forward_pair();
    lap(t_poi1);
  }
  if (damped || !implicit) potential_spectra(damped);
  lap(t_pol);
  store_potentials();
  lap(t_poi2);
  stepping.h2 = stepping.h1;
  stepping.h1 = h;
  stepping.levels = std::min(stepping.levels + 1, 3);
  lap(t_mem);
}
