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
// With shift set, the same sweep also moves the history back by one level (what stage mem does),
// which saves reading ten fields a second time; the results are identical.
template <bool shift>
static void update() {
  const double c18 = 18.0 / 11.0, c9 = 9.0 / 11.0, c2 = 2.0 / 11.0;
  const double coupling = chat, drive = hyd, advect = clin * delinv, step = dtt, nu = diff;
  const bool mhw = b_mhw;
  const int n = ny, last = ny1;
#pragma omp parallel for schedule(static)
  for (int x = 0; x <= nx1; x++) {
    double *__restrict nex = ne[x], *__restrict nix = ni[x];
    const double *__restrict pex = pe[x], *__restrict pix = pi[x];
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
    const double *__restrict be = brack_e[x], *__restrict bi = brack_i[x];
    const double *__restrict he = hyve[x], *__restrict hi = hyvi[x];
    double *__restrict e0 = ne0[x], *__restrict e1 = ne1[x], *__restrict e2 = ne2[x];
    double *__restrict i0 = ni0[x], *__restrict i1 = ni1[x], *__restrict i2 = ni2[x];
    double *__restrict fe0 = fne0[x], *__restrict fi0 = fni0[x];
    double *__restrict fe1 = fne1[x], *__restrict fe2 = fne2[x], *__restrict fi1 = fni1[x], *__restrict fi2 = fni2[x];
    auto point = [&](int ym, int y, int yp) {
      double fe = -coupling * ((nex[y] - avg_n) - (pex[y] - avg_p)) - drive * (pex[yp] - pex[ym]) + advect * be[y];
      double fi = -drive * (pix[yp] - pix[ym]) + advect * bi[y];
      double new_e = c18 * e0[y] - c9 * e1[y] + c2 * e2[y] + step * (3.0 * fe - 3.0 * fe1[y] + fe2[y] - nu * he[y]);
      double new_i = c18 * i0[y] - c9 * i1[y] + c2 * i2[y] + step * (3.0 * fi - 3.0 * fi1[y] + fi2[y] - nu * hi[y]);
      fe0[y] = fe;
      fi0[y] = fi;
      nex[y] = new_e;
      nix[y] = new_i;
      if (shift) {
        e2[y] = e1[y];
        e1[y] = e0[y];
        e0[y] = new_e;
        i2[y] = i1[y];
        i1[y] = i0[y];
        i0[y] = new_i;
        fe2[y] = fe1[y];
        fe1[y] = fe;
        fi2[y] = fi1[y];
        fi1[y] = fi;
      }
    };
    // The y neighbours wrap at the two edge columns only; every point reads and writes its own
    // column of each array, so the interior runs as one vector loop.
    point(last, 0, last == 0 ? 0 : 1);
#pragma omp simd
    for (int y = 1; y < last; y++) point(y - 1, y, y + 1);
    if (last > 0) point(last - 1, last, 0);
  }
}

// Stage upd: brackets with pe and pi as they stand at the start of the step, dissipation, update.
void stage_upd() {
  arakawa(ne, pe, brack_e);
  arakawa(ni, pi, brack_i);
  dissipation();
  update<false>();
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
  // The stages in their order, with the history shift done by the update sweep itself and the
  // field passes fused where one pass can feed the next (see field_solves.cpp). The fields after
  // the step are exactly those of the separate stages.
  double clock = omp_get_wtime();
  auto lap = [&clock](int timer) {
    double now = omp_get_wtime();
    stage_time[timer] += now - clock;
    clock = now;
  };
  arakawa(ne, pe, brack_e);
  arakawa(ni, pi, brack_i);
  dissipation();
  update<true>();
  lap(t_upd);
  gyro_average_density();
  lap(t_poi1);
  lap(t_bnd);  // the edge damping is part of the vorticity pass
  vorticity_and_potential();
  lap(t_pol);
  gyro_average_potential();
  lap(t_poi2);
  lap(t_mem);  // the history was shifted by the update sweep
}
