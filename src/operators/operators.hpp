// Grid operators on the doubly periodic grid: the Arakawa bracket, the fourth-order Laplacian
// and the spectral field solve. They read only their arguments and the run constants.
#pragma once

#include "common/state.hpp"

// out = {a, b} = da/dx db/dy - da/dy db/dx in Arakawa's conservative nine-point form.
// out must differ from a and b.
void arakawa(array2d a, array2d b, array2d out);

// Columns from .. to-1 of one row of the bracket, out[j], from the rows before (am, bm), at (a0, b0)
// and after (ap, bp) the output row; the columns wrap (0 <= from <= to <= ny). out must differ from
// the input rows.
void arakawa_row(const double *am, const double *a0, const double *ap, const double *bm, const double *b0,
                 const double *bp, double *out, int from, int to);

// out = fourth-order finite-difference Laplacian of in (output first). out must differ from in.
void laplace(array2d out, array2d in);

// The Laplacian's symbol along one direction: a Fourier mode of angle t = 2 pi index/n per grid
// step along it is multiplied by hysq (32 cos t - 2 cos 2t - 30); the two directions add.
double laplace_symbol(double t);

// Columns from .. to-1 of one row of the Laplacian, out[j], from the five rows two before (fm2) to
// two after (fp2) the output row; the columns wrap (0 <= from <= to <= ny). out must differ from the
// input rows.
void laplace_row(const double *fm2, const double *fm, const double *f0, const double *fp, const double *fp2,
                 double *out, int from, int to);

// out = Re B(coeff * F(in)) on real transforms (spectral_solve.cpp), with the symmetric part of the
// full table coeff; in and out may coincide. Needs make_spectral_solve first.
void spectral_solve(array2d in, array2d coeff, array2d out);

// Buffers and plans of the spectral solve for the current grid and npar threads (FFTW planner
// flags `flags`), releasing those of an earlier grid; and their release.
void make_spectral_solve(unsigned flags);
void free_spectral_solve();
// Bytes of the spectral solve's buffers on a gridx by gridy grid.
double spectral_solve_bytes(int gridx, int gridy);
