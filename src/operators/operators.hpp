// Grid operators on the doubly periodic grid: the Arakawa bracket and the fourth-order Laplacian.
// They read only their arguments and the run constants.
#pragma once

#include "common/state.hpp"

// out = {a, b} = da/dx db/dy - da/dy db/dx in Arakawa's conservative nine-point form, on this
// process's slab (the halos of a and b are exchanged first). out must differ from a and b.
void arakawa(array2d a, array2d b, array2d out);

// Columns from .. to-1 of one row of the bracket, out[j], from the rows before (am, bm), at (a0, b0)
// and after (ap, bp) the output row; the columns wrap (0 <= from <= to <= ny). out must differ from
// the input rows.
void arakawa_row(const double *am, const double *a0, const double *ap, const double *bm, const double *b0,
                 const double *bp, double *out, int from, int to);

// out = fourth-order finite-difference Laplacian of in (output first), on this process's slab (the
// halos of in are exchanged first). out must differ from in.
void laplace(array2d out, array2d in);

// The Laplacian's symbol along one direction: a Fourier mode of angle t = 2 pi index/n per grid
// step along it is multiplied by hysq (32 cos t - 2 cos 2t - 30); the two directions add.
double laplace_symbol(double t);

// Columns from .. to-1 of one row of the Laplacian, out[j], from the five rows two before (fm2) to
// two after (fp2) the output row; the columns wrap (0 <= from <= to <= ny). out must differ from the
// input rows.
void laplace_row(const double *fm2, const double *fm, const double *f0, const double *fp, const double *fp2,
                 double *out, int from, int to);
