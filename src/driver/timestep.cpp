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

// The fused update: row averages, both right-hand sides and both new densities in one sweep.
static void update() {
  const double c18 = 18.0 / 11.0, c9 = 9.0 / 11.0, c2 = 2.0 / 11.0;
  const double coupling = chat, drive = hyd, advect = clin * delinv, step = dtt, nu = diff;
  const bool mhw = b_mhw;
  const int n = ny, last = ny1;
#pragma omp parallel for schedule(static)
  for (int x = 0; x <= nx1; x++) {
    double *nex = ne[x], *nix = ni[x];
    const double *pex = pe[x], *pix = pi[x];
    // Row averages, taken before the row is overwritten.
    double avg_n = 0.0, avg_p = 0.0;
    if (mhw) {
      double sum_n = 0.0, sum_p = 0.0;
      for (int y = 0; y < n; y++) {
        sum_n += nex[y];
        sum_p += pex[y];
      }
      avg_n = sum_n / n;
      avg_p = sum_p / n;
    }
    const double *be = brack_e[x], *bi = brack_i[x], *he = hyve[x], *hi = hyvi[x];
    const double *e0 = ne0[x], *e1 = ne1[x], *e2 = ne2[x], *i0 = ni0[x], *i1 = ni1[x], *i2 = ni2[x];
    double *fe0 = fne0[x], *fi0 = fni0[x];
    const double *fe1 = fne1[x], *fe2 = fne2[x], *fi1 = fni1[x], *fi2 = fni2[x];
    auto point = [&](int ym, int y, int yp) {
      double fe = -coupling * ((nex[y] - avg_n) - (pex[y] - avg_p)) - drive * (pex[yp] - pex[ym]) + advect * be[y];
      double fi = -drive * (pix[yp] - pix[ym]) + advect * bi[y];
      fe0[y] = fe;
      fi0[y] = fi;
      nex[y] = c18 * e0[y] - c9 * e1[y] + c2 * e2[y] + step * (3.0 * fe - 3.0 * fe1[y] + fe2[y] - nu * he[y]);
      nix[y] = c18 * i0[y] - c9 * i1[y] + c2 * i2[y] + step * (3.0 * fi - 3.0 * fi1[y] + fi2[y] - nu * hi[y]);
    };
    // The y neighbours wrap at the two edge columns only.
    point(last, 0, last == 0 ? 0 : 1);
    for (int y = 1; y < last; y++) point(y - 1, y, y + 1);
    if (last > 0) point(last - 1, last, 0);
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

void timestep() {
  void (*const stages[])() = {stage_upd, stage_poi1, stage_bnd, stage_pol, stage_poi2, stage_mem};
  const int timers[] = {t_upd, t_poi1, t_bnd, t_pol, t_poi2, t_mem};
  for (int s = 0; s < 6; s++) {
    double start = omp_get_wtime();
    stages[s]();
    stage_time[timers[s]] += omp_get_wtime() - start;
  }
}
