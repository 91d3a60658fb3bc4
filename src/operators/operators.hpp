// Grid operators on the doubly periodic grid: the Arakawa bracket, the fourth-order Laplacian
// and the one-shot spectral field solve. They read only their arguments and the run constants.
#pragma once

#include "common/state.hpp"

// out = {a, b} = da/dx db/dy - da/dy db/dx in Arakawa's conservative nine-point form.
// out must differ from a and b.
void arakawa(array2d a, array2d b, array2d out);

// out = fourth-order finite-difference Laplacian of in (output first). out must differ from in.
void laplace(array2d out, array2d in);

// out = Re B(coeff * F(in)) with plans of its own made from wisdom_sf; in and out may coincide.
void poisson(array2d in, array2d coeff, array2d out);
