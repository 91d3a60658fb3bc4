// One time step of the model: the two Arakawa brackets, the dissipation chosen by ihype, the
// third-order stiffly-stable multistep update of ne and ni, the field solves and the history shift.
//
//   dne/dt = -chat ((ne - <ne>) - (pe - <pe>)) - d_y pe + clin delinv {ne, pe} - diff D(ne)
//   dni/dt =                                   - d_y pi + clin delinv {ni, pi} - diff D(ni)
//   n_new  = 18/11 n0 - 9/11 n1 + 2/11 n2 + dt 6/11 (3 f0 - 3 f1 + f2 - diff D(n0))
//
// <.> is the row average along y (only when b_mhw is set); d_y is the centred difference scaled by
// hyd. There is no lower-order start: the first step of a fresh run, with equal levels and zero
// old right-hand sides, reduces to n0 + dtt (3 f0 - diff D).
#include <omp.h>

#include <algorithm>
#include <cstring>

#include "driver/driver.hpp"
#include "operators/operators.hpp"

double stage_time[nstages];

// Dissipation terms hyve = D(ne), hyvi = D(ni) for the chosen ihype.
static void dissipation() {
  if (ihype == -1) {
    laplace(hyve, ne);
    laplace(hyvi, ni);
  } else if (ihype == 0) {
    laplace(vis_e, ne);
    laplace(hyve, vis_e);
    laplace(vis_i, ni);
    laplace(hyvi, vis_i);
  } else if (ihype > 0) {
    spectral_filter(ne, chyv, hyve);
    spectral_filter(ni, chyv, hyvi);
  }
  // ihype < -1: no dissipation; hyve and hyvi keep their zero values.
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

// Where the older history levels of the next step are: the arrays of density levels 1, 2 and of
// right-hand side levels 1, 2. Level 0 of each density is ne, ni themselves (every set-up and every
// step leaves ne0 = ne, ni0 = ni), so the update sweep reads it from there. Normally these are the
// named arrays; a step that more steps follow (see timestep()) moves the levels on by turning these
// pointers round instead of copying the fields, and the next step that ends a run of steps puts
// every level back into its own named array, ne0 and ni0 included.
typedef array2d field;
struct history_arrays {
  field e[2], i[2], fe[2], fi[2];
};
static history_arrays named_history() { return {{ne1, ne2}, {ni1, ni2}, {fne1, fne2}, {fni1, fni2}}; }
static history_arrays history;

// Where the sweep of the next step finds the gyro-averaged potential: in pi; or, after a step that
// more steps follow, in pe for cold ions (pi = pe) and as the real part of bw_out for warm ions (the
// backward transform of its filter, which then skips the pass that copies it into pi).
enum class potential_at { pi, pe, spectrum };
static potential_at potential = potential_at::pi;

// What a row of the update does with the history besides reading it: nothing (the stage upd,
// which reads level 0 from ne0, ni0 and writes fne0 and fni0; the stage mem shifts afterwards); the
// shift by one level into the named arrays (what stage mem does, saving a second pass over ten
// fields); or the old level 0 and the new right-hand side written over the oldest levels, whose
// arrays then move to the front.
enum class shift { none, named, turn };

// Columns from .. to-1 of one row of the update: both right-hand sides and both new densities,
// from the row averages, the bracket rows be, bi, the dissipation rows he, hi and row x of the
// gyro-averaged potential, pix, with the history levels read from h. All history values of a
// point are read before any is written, so the named arrays may be the arrays of h in any order.
template <shift mode>
static void update_row(int x, const history_arrays &h, const double *__restrict be, const double *__restrict bi,
                       const double *__restrict he, const double *__restrict hi, const double *__restrict pix,
                       double avg_n, double avg_p, int from, int to) {
  const double c18 = 18.0 / 11.0, c9 = 9.0 / 11.0, c2 = 2.0 / 11.0;
  const double coupling = chat, drive = hyd, advect = clin * delinv, step = dtt, nu = diff;
  const int last = ny1;
  double *__restrict nex = ne[x], *__restrict nix = ni[x];
  const double *__restrict pex = pe[x];
  // Level 0 from the named arrays for the stage upd, from the densities themselves otherwise.
  const double *e0 = mode == shift::none ? ne0[x] : nex, *i0 = mode == shift::none ? ni0[x] : nix;
  double *e1 = h.e[0][x], *e2 = h.e[1][x], *i1 = h.i[0][x], *i2 = h.i[1][x];
  double *fe1 = h.fe[0][x], *fe2 = h.fe[1][x], *fi1 = h.fi[0][x], *fi2 = h.fi[1][x];
  double *ne0x = ne0[x], *ne1x = ne1[x], *ne2x = ne2[x], *ni0x = ni0[x], *ni1x = ni1[x], *ni2x = ni2[x];
  double *fne0x = fne0[x], *fne1x = fne1[x], *fne2x = fne2[x], *fni0x = fni0[x], *fni1x = fni1[x], *fni2x = fni2[x];
  auto point = [&](int ym, int y, int yp) {
    const double le0 = e0[y], le1 = e1[y], le2 = e2[y], li0 = i0[y], li1 = i1[y], li2 = i2[y];
    const double lfe1 = fe1[y], lfe2 = fe2[y], lfi1 = fi1[y], lfi2 = fi2[y];
    double fe = -coupling * ((nex[y] - avg_n) - (pex[y] - avg_p)) - drive * (pex[yp] - pex[ym]) + advect * be[y];
    double fi = -drive * (pix[yp] - pix[ym]) + advect * bi[y];
    double new_e = c18 * le0 - c9 * le1 + c2 * le2 + step * (3.0 * fe - 3.0 * lfe1 + lfe2 - nu * he[y]);
    double new_i = c18 * li0 - c9 * li1 + c2 * li2 + step * (3.0 * fi - 3.0 * lfi1 + lfi2 - nu * hi[y]);
    nex[y] = new_e;
    nix[y] = new_i;
    if (mode != shift::turn) {
      fne0x[y] = fe;
      fni0x[y] = fi;
    }
    if (mode == shift::named) {
      ne2x[y] = le1;
      ne1x[y] = le0;
      ne0x[y] = new_e;
      ni2x[y] = li1;
      ni1x[y] = li0;
      ni0x[y] = new_i;
      fne2x[y] = lfe1;
      fne1x[y] = fe;
      fni2x[y] = lfi1;
      fni1x[y] = fi;
    }
    if (mode == shift::turn) {
      e2[y] = le0;
      i2[y] = li0;
      fe2[y] = fe;
      fi2[y] = fi;
    }
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

// The update from the stored brackets and dissipation terms.
static void update() {
  const history_arrays named = named_history();
#pragma omp parallel for schedule(static)
  for (int x = 0; x <= nx1; x++) {
    double avg_n, avg_p;
    row_averages(x, avg_n, avg_p);
    update_row<shift::none>(x, named, brack_e[x], brack_i[x], hyve[x], hyvi[x], pi[x], avg_n, avg_p, 0, ny);
  }
}

// ---- The row-blocked update of timestep() ----
// One sweep over the rows computes, row by row, both brackets (kept in a row buffer, never
// stored), the Laplacian dissipation (stored in hyve, hyvi for the diagnostics) and the update
// with the history shift, while the rows it reads are still in cache. Each row is done in chunks
// of `sweep_columns` columns, every stage of a chunk before the next chunk: all the streams of
// the update then advance together and the chunk's bracket and dissipation values are read back
// from the first-level cache (on wide grids this makes the sweep about a fifth faster).
// Since the update overwrites ne and ni in place, the stencils read the old values from copies:
// each thread saves the two rows before and after its block (other threads overwrite them)
// before any thread writes, and copies each of its own rows before updating it, keeping the
// last three. With warm ions each new ni row is also written into fw_in, the input of the
// gyro-average that follows. When the potential is left in bw_out, each thread copies its real
// parts row by row into a ring of three rows for the stencils.

// Per thread: for each density, old rows lo-2, lo-1, hi, hi+1 of its block [lo, hi), three old
// rows of its own, a bracket row and a row for the Laplacian dissipation when it is not stored;
// in the ion density's part also the ring of three rows of the gyro-averaged potential.
enum { row_before, row_after = 2, row_ring = 4, row_bracket = 7, row_dissipation, row_potential,
       rows_per_density = row_potential + 3 };
static std::ptrdiff_t row_stride;  // a field's row stride for this grid
constexpr int sweep_columns = 64;
static double *sweep_rows;
static int sweep_threads;

void make_sweep_rows(int threads) {
  free_sweep_rows();
  history = named_history();  // a run starts with every level in its own array
  potential = potential_at::pi;
  sweep_threads = threads;
  row_stride = field_stride(ny);
  sweep_rows = fftw_alloc_real(static_cast<size_t>(threads) * 2 * rows_per_density * row_stride);
}

void free_sweep_rows() {
  fftw_free(sweep_rows);
  sweep_rows = nullptr;
  sweep_threads = 0;
}

// With `turn` set the history moves on by turning the pointers of `history` round (the old level
// 0 and the new right-hand side go into the arrays of the oldest levels, ne0, ni0, fne0 and fni0
// are not written) and the Laplacian dissipation stays in the row buffers; otherwise the levels are
// shifted into the named arrays and hyve, hyvi are stored for the diagnostics. The gyro-averaged
// potential is read from where the previous step left it (`potential`).
static void row_blocked_update(bool turn) {
  const bool laplacian = ihype == -1, warm = taui > 0, store_dissipation = !(turn && laplacian);
  if (!laplacian) dissipation();  // the other branches are filters or wider stencils
  const size_t row_bytes = sizeof(double) * ny;
#pragma omp parallel num_threads(sweep_threads)
  {
    const int threads = omp_get_num_threads(), t = omp_get_thread_num();
    const int lo = static_cast<int>(static_cast<long>(nx) * t / threads);
    const int hi = static_cast<int>(static_cast<long>(nx) * (t + 1) / threads);
    double *own = sweep_rows + static_cast<size_t>(t) * 2 * rows_per_density * row_stride;
    double *const rows_e = own, *const rows_i = own + rows_per_density * row_stride;
    auto wrap = [](int r) { return ((r % nx) + nx) % nx; };
    if (lo < hi)
      for (int k = 0; k < 2; k++) {
        int before = wrap(lo - 2 + k), after = wrap(hi + k);
        memcpy(rows_e + (row_before + k) * row_stride, ne[before], row_bytes);
        memcpy(rows_i + (row_before + k) * row_stride, ni[before], row_bytes);
        memcpy(rows_e + (row_after + k) * row_stride, ne[after], row_bytes);
        memcpy(rows_i + (row_after + k) * row_stride, ni[after], row_bytes);
      }
#pragma omp barrier
    double *const be = rows_e + row_bracket * row_stride, *const bi = rows_i + row_bracket * row_stride;
    double *const rows_de = rows_e + row_dissipation * row_stride, *const rows_di = rows_i + row_dissipation * row_stride;
    // Row r (r = x-1 .. x+1, not yet wrapped) of the gyro-averaged potential. Rows left in bw_out
    // are copied into the ring one row ahead of the update; the three rows of a step always lie in
    // three different places of the ring, even on grids of fewer than three rows.
    double *const ring_p = rows_i + row_potential * row_stride;
    const bool spectrum = potential == potential_at::spectrum;
    auto copy_potential = [&](int r) {
      real_row(ring_p + (r + 3) % 3 * row_stride, bw_out + static_cast<size_t>(wrap(r)) * ny);
    };
    auto potential_row = [&](int r) -> const double * {
      if (spectrum) return ring_p + (r + 3) % 3 * row_stride;
      return potential == potential_at::pe ? pe[wrap(r)] : pi[wrap(r)];
    };
    if (spectrum && lo < hi) {
      copy_potential(lo - 1);
      copy_potential(lo);
    }
    for (int x = lo; x < hi; x++) {
      double avg_n, avg_p;
      row_averages(x, avg_n, avg_p);
      if (spectrum) copy_potential(x + 1);
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
      const int xm = wrap(x - 1), xp = wrap(x + 1);
      const double *const pim = potential_row(x - 1), *const pix = potential_row(x), *const pip = potential_row(x + 1);
      cplx *const input = fw_in + static_cast<size_t>(x) * ny;
      double *const de = store_dissipation ? hyve[x] : rows_de, *const di = store_dissipation ? hyvi[x] : rows_di;
      for (int from = 0; from < ny; from += sweep_columns) {
        const int to = std::min(from + sweep_columns, ny);
        arakawa_row(em, e0, ep, pe[xm], pe[x], pe[xp], be, from, to);
        arakawa_row(im, i0, ip, pim, pix, pip, bi, from, to);
        if (laplacian) {
          laplace_row(em2, em, e0, ep, ep2, de, from, to);
          laplace_row(im2, im, i0, ip, ip2, di, from, to);
        }
        if (turn)
          update_row<shift::turn>(x, history, be, bi, de, di, pix, avg_n, avg_p, from, to);
        else
          update_row<shift::named>(x, history, be, bi, de, di, pix, avg_n, avg_p, from, to);
        if (warm) input_row(input + from, ni[x] + from, to - from);  // the gyro-average's input
      }
    }
  }
}

// Stage upd: brackets with pe and pi as they stand at the start of the step, dissipation, update.
void stage_upd() {
  arakawa(ne, pe, brack_e);
  arakawa(ni, pi, brack_i);
  dissipation();
  update();
}

// Stage mem: shift the history levels by one step.
void stage_mem() {
  const int n = ny;
#pragma omp parallel for schedule(static)
  for (int x = 0; x <= nx1; x++) {
    for (int y = 0; y < n; y++) {
      ne2[x][y] = ne1[x][y];
      ne1[x][y] = ne0[x][y];
      ne0[x][y] = ne[x][y];
      ni2[x][y] = ni1[x][y];
      ni1[x][y] = ni0[x][y];
      ni0[x][y] = ni[x][y];
      fne2[x][y] = fne1[x][y];
      fne1[x][y] = fne0[x][y];
      fni2[x][y] = fni1[x][y];
      fni1[x][y] = fni0[x][y];
    }
  }
}

void timestep(bool more_steps_follow) {
  // The stages in their order, with the history shift done by the update sweep itself and the
  // field passes fused where one pass can feed the next (see field_solves.cpp). After a step that
  // no step follows, the fields are exactly those of the separate stages.
  double clock = omp_get_wtime();
  auto lap = [&clock](int timer) {
    double now = omp_get_wtime();
    stage_time[timer] += now - clock;
    clock = now;
  };
  row_blocked_update(more_steps_follow);
  if (more_steps_follow) {
    // The old level 0 and the new right-hand side were written over the oldest levels: their
    // arrays come first now.
    history = {{history.e[1], history.e[0]}, {history.i[1], history.i[0]}, {history.fe[1], history.fe[0]},
               {history.fi[1], history.fi[0]}};
  } else {
    history = named_history();
  }
  lap(t_upd);
  gyro_average_density();
  lap(t_poi1);
  lap(t_bnd);  // the edge damping is part of the vorticity pass
  const bool settle = !more_steps_follow;
  vorticity_and_potential(settle);
  lap(t_pol);
  gyro_average_potential(settle);
  potential = settle ? potential_at::pi : taui > 0 ? potential_at::spectrum : potential_at::pe;
  lap(t_poi2);
  lap(t_mem);  // the history was moved on by the update sweep
}
