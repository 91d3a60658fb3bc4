// The reference step: see reference_step.hpp.
#include "support/reference_step.hpp"

#include "driver/driver.hpp"
#include "operators/operators.hpp"
#include "support/fields.hpp"

namespace {

array2d brack_e, brack_i;  // the two brackets of a step
[[maybe_unused]] const bool registered = register_test_fields({&brack_e, &brack_i});

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
      fne0[x][y] = -chat * ((ne[x][y] - mean_n) - (pe[x][y] - mean_p)) - hyd * (pe[x][yp] - pe[x][ym]) +
                   clin * delinv * brack_e[x][y];
      fni0[x][y] = -hyd * (pi[x][yp] - pi[x][ym]) + clin * delinv * brack_i[x][y];
      ne[x][y] = 18.0 / 11.0 * ne0[x][y] - 9.0 / 11.0 * ne1[x][y] + 2.0 / 11.0 * ne2[x][y] +
                 dtt * (3.0 * fne0[x][y] - 3.0 * fne1[x][y] + fne2[x][y] - diff * hyve[x][y]);
      ni[x][y] = 18.0 / 11.0 * ni0[x][y] - 9.0 / 11.0 * ni1[x][y] + 2.0 / 11.0 * ni2[x][y] +
                 dtt * (3.0 * fni0[x][y] - 3.0 * fni1[x][y] + fni2[x][y] - diff * hyvi[x][y]);
    }
  }
}

void vorticity_and_potential() {
  for (int x = 0; x < nx; x++)
    for (int y = 0; y < ny; y++) ww[x][y] = -(zze * ne[x][y] + zzi * gni[x][y]);
  poisson(ww, cvort, pe);
  if (taui > 0)
    poisson(pe, cpoti, pi);
  else
    copy(pe, pi);
}

void shift() {
  for (int x = 0; x < nx; x++)
    for (int y = 0; y < ny; y++) {
      ne2[x][y] = ne1[x][y], ne1[x][y] = ne0[x][y], ne0[x][y] = ne[x][y];
      ni2[x][y] = ni1[x][y], ni1[x][y] = ni0[x][y], ni0[x][y] = ni[x][y];
      fne2[x][y] = fne1[x][y], fne1[x][y] = fne0[x][y];
      fni2[x][y] = fni1[x][y], fni1[x][y] = fni0[x][y];
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
    poisson(f, chyv, out);
  }
}

void reference_fields() {
  if (taui > 0)
    poisson(ni, cpoti, gni);
  else
    copy(ni, gni);
  vorticity_and_potential();
}

void reference_step() {
  arakawa(ne, pe, brack_e);
  arakawa(ni, pi, brack_i);
  reference_dissipation(ne, vis_e, hyve);
  reference_dissipation(ni, vis_i, hyvi);
  update();
  if (taui > 0)
    poisson(ni, cpoti, gni);
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
