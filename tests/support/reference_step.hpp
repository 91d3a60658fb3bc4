// A plain time step written from the model's equations, as a test reference for the program's
// step: real-space brackets and Laplacians from the grid operators, every field solve a one-shot
// complex transform on the full tables (poisson, support/poisson.hpp), the update point by point
// and the history shift as a separate pass, in the stage order upd, poi1, bnd, pol, poi2, mem. It shares no code with
// the program's step beyond the grid operators and the damping profile xmask.
#pragma once

#include "common/state.hpp"

// One step on the global fields; afterwards gni, ww, hyve and hyvi (vis_e, vis_i for ihype 0) hold
// what that step made of them.
void reference_step();

// out = D(f) for the chosen ihype: the Laplacian (-1), the Laplacian of first = the Laplacian (0), or
// the one-shot solve with chyv (> 0); out is left alone for ihype < -1.
void reference_dissipation(array2d f, array2d first, array2d out);

// pe, pi, gni and ww of the densities as the reference's field solves make them (no edge damping).
void reference_fields();
