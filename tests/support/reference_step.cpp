// The reference step: see reference_step.hpp.
#include "support/reference_step.hpp"

#include "operators/operators.hpp"
#include "scheme/scheme.hpp"
#include "support/fields.hpp"
#include "support/poisson.hpp"

namespace {

array2d brack_e, brack_i;  // the two brackets of a step
array2d old_e, old_i;      // the densities a step starts from (level 0 before the update)
array2d rhs_e, rhs_i;      // the right-hand sides of the step
[[maybe_unused]] const bool registered = register_test_fields({&brack_e, &brack_i, &old_e, &old_i, &rhs_e, &rhs_i});

void copy(array2d from, array2d to) {
  for (int x = 0; x < nx; x++)
    for (int y = 0; y < ny; y++) to[x][y] = from[x][y];
}

void update() {
  for (int x = 0; x < nx; x++) {
    double mean_n = 0.0, mean_p = 0.0;
    if (b_mhw) {
      for (int y = 0; y < ny; y++) mean_n += ne[x][y], mean_p += pe[x][y];
      mean_n /= ny;
      mean_p /= ny;
    }
    for (int y = 0; y < ny; y++) {
      const int yp = (y + 1) % ny, ym = (y + ny - 1) % ny;
      rhs_e[x][y] = -chat * ((ne[x][y] - mean_n) - (pe[x][y] - mean_p)) - hyd * (pe[x][yp] - pe[x][ym]) +
                   clin * delinv * brack_e[x][y];
      rhs_i[x][y] = -hyd * (pi[x][yp] - pi[x][ym]) + clin * delinv * brack_i[x][y];
      ne[x][y] = 18.0 / 11.0 * old_e[x][y] - 9.0 / 11.0 * ne1[x][y] + 2.0 / 11.0 * ne2[x][y] +
                 dtt * (3.0 * rhs_e[x][y] - 3.0 * fne1[x][y] + fne2[x][y] - diff * hyve[x][y]);
      ni[x][y] = 18.0 / 11.0 * old_i[x][y] - 9.0 / 11.0 * ni1[x][y] + 2.0 / 11.0 * ni2[x][y] +
                 dtt * (3.0 * rhs_i[x][y] - 3.0 * fni1[x][y] + fni2[x][y] - diff * hyvi[x][y]);
    }
  }
}

void vorticity_and_potential() {
  for (int x = 0; x < nx; x++)
    for (int y = 0; y < ny; y++) ww[x][y] = -(zze * ne[x][y] + zzi * gni[x][y]);
  poisson(ww, &table_values::cvort, pe);
  if (taui > 0)
    poisson(pe, &table_values::cpoti, pi);
  else
    copy(pe, pi);
}

void shift() {
  for (int x = 0; x < nx; x++)
    for (int y = 0; y < ny; y++) {
      ne2[x][y] = ne1[x][y], ne1[x][y] = old_e[x][y];
      ni2[x][y] = ni1[x][y], ni1[x][y] = old_i[x][y];
      fne2[x][y] = fne1[x][y], fne1[x][y] = rhs_e[x][y];
      fni2[x][y] = fni1[x][y], fni1[x][y] = rhs_i[x][y];
    }
}

}  // namespace

void reference_dissipation(array2d f, array2d first, array2d out) {
  if (ihype == -1) {
    laplace(out, f);
  } else if (ihype == 0) {
    laplace(first, f);
    laplace(out, first);
  } else if (ihype > 0) {
    poisson(f, &table_values::chyv, out);
  }
}

void reference_fields() {
  if (taui > 0)
    poisson(ni, &table_values::cpoti, gni);
  else
    copy(ni, gni);
  vorticity_and_potential();
}

void reference_step() {
  arakawa(ne, pe, brack_e);
  arakawa(ni, pi, brack_i);
  reference_dissipation(ne, vis_e, hyve);
  reference_dissipation(ni, vis_i, hyvi);
  copy(ne, old_e);
  copy(ni, old_i);
  update();
  if (taui > 0)
    poisson(ni, &table_values::cpoti, gni);
  else
    copy(ni, gni);
  if (vorfree == 2)
    for (int x = 0; x < nx; x++)
      for (int y = 0; y < ny; y++) {
        ne[x][y] *= xmask[x];
        ni[x][y] *= xmask[x];
        gni[x][y] *= xmask[x];
      }
  vorticity_and_potential();
  shift();
}
