// Fourth-order finite-difference Laplacian on the doubly periodic grid:
//
//   out = hysq * (16 [f(i,j+1) + f(i+1,j) + f(i-1,j) + f(i,j-1)] - 60 f(i,j)
//                 - [f(i-2,j) + f(i+2,j) + f(i,j+2) + f(i,j-2)]),   hysq = hy^2/12,
//
// per direction the central difference (-f2 + 16 f1 - 30 f0 + 16 f-1 - f-2)/(12 d^2). First and
// second neighbours wrap in both directions. The sum of out over the grid vanishes.
#include <cmath>

#include "operators/operators.hpp"
#include "parallel/processes.hpp"

double laplace_symbol(double t) { return hysq * (32.0 * std::cos(t) - 2.0 * std::cos(2.0 * t) - 30.0); }

static inline double laplace_point(const double *fm2, const double *fm, const double *f0, const double *fp,
                                   const double *fp2, int jm2, int jm, int j, int jp, int jp2) {
  return 16.0 * (f0[jp] + fp[j] + fm[j] + f0[jm]) - 60.0 * f0[j] - (fm2[j] + fp2[j] + f0[jp2] + f0[jm2]);
}

void laplace_row(const double *fm2, const double *fm, const double *f0, const double *fp, const double *fp2,
                 double *out, int from, int to) {
  const double factor = hysq;
  const int n = ny;
  auto edge = [&](int j) {
    int jp = (j + 1) % n, jp2 = (j + 2) % n, jm = (j - 1 + 2 * n) % n, jm2 = (j - 2 + 2 * n) % n;
    out[j] = factor * laplace_point(fm2, fm, f0, fp, fp2, jm2, jm, j, jp, jp2);
  };
  // Two wrapped columns at each end, a plain vectorisable interior between them.
  const int lo = n < 4 ? n : 2, hi = n < 4 ? n : n - 2;
  int j = from;
  for (; j < to && j < lo; j++) edge(j);
  for (const int end = to < hi ? to : hi; j < end; j++)
    out[j] = factor * laplace_point(fm2, fm, f0, fp, fp2, j - 2, j - 1, j, j + 1, j + 2);
  for (; j < to; j++) edge(j);
}

void laplace(array2d out, array2d in) {
  // The rows x-2 .. x+2 beyond the slab are in's halo rows (on one process the periodic images, so
  // small grids, nx = 1, 2, 3, wrap exactly).
  exchange_halos({in});
  const int first = slab_first, end = slab_first + slab_rows;
#pragma omp parallel for schedule(static)
  for (int i = first; i < end; i++) laplace_row(in[i - 2], in[i - 1], in[i], in[i + 1], in[i + 2], out[i], 0, ny);
}
