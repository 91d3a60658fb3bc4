// Arakawa's conservative nine-point Poisson bracket on the doubly periodic grid.
//
//   out = {a, b} = da/dx db/dy - da/dy db/dx = -hysq * S,   hysq = hy^2/12,
//
// S the sum of eight products of b at the eight neighbours with differences of a (the average of
// the Jacobians J++, J+x and Jx+). The discrete sums of out, a*out and b*out vanish to round-off,
// so the advection conserves mass, energy and enstrophy; the error is second order in 1/hy.
#include "operators/operators.hpp"
#include "parallel/processes.hpp"

// One output point from the row pointers of a and b (rows im, i, ip) and the columns jm, j, jp.
static inline double bracket_point(const double *am, const double *a0, const double *ap, const double *bm,
                                   const double *b0, const double *bp, int jm, int j, int jp) {
  double s = b0[jp] * (am[j] - ap[j] - ap[jp] + am[jp]);
  s += b0[jm] * (ap[j] - am[j] - am[jm] + ap[jm]);
  s += bp[j] * (a0[jp] - a0[jm] + ap[jp] - ap[jm]);
  s += bm[j] * (a0[jm] - a0[jp] + am[jm] - am[jp]);
  s += bp[jm] * (ap[j] - a0[jm]);
  s += bp[jp] * (a0[jp] - ap[j]);
  s += bm[jm] * (a0[jm] - am[j]);
  s += bm[jp] * (am[j] - a0[jp]);
  return s;
}

void arakawa_row(const double *am, const double *a0, const double *ap, const double *bm, const double *b0,
                 const double *bp, double *out, int from, int to) {
  const double factor = -hysq;
  const int last = ny1;
  // The two edge columns wrap; the interior loop has plain neighbours and vectorises.
  int j = from;
  if (j == 0 && j < to) out[j++] = factor * bracket_point(am, a0, ap, bm, b0, bp, last, 0, last == 0 ? 0 : 1);
  for (const int end = to < last ? to : last; j < end; j++)
    out[j] = factor * bracket_point(am, a0, ap, bm, b0, bp, j - 1, j, j + 1);
  if (last < to && last > 0) out[last] = factor * bracket_point(am, a0, ap, bm, b0, bp, last - 1, last, 0);
}

void arakawa(array2d a, array2d b, array2d out) {
  // rows x-1 and x+1 beyond the slab
  if (a.base == b.base) exchange_halos({a});
  else exchange_halos({a, b});
  const int first = slab_first, end = slab_first + slab_rows;
#pragma omp parallel for schedule(static)
  for (int i = first; i < end; i++) arakawa_row(a[i - 1], a[i], a[i + 1], b[i - 1], b[i], b[i + 1], out[i], 0, ny);
}
