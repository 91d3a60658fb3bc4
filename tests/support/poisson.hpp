// The test references' independent spectral solve: complex transforms on the full tables.
#pragma once

#include "common/state.hpp"
#include "setup/setup.hpp"

// out = Re B(c * F(in)) with F, B the unnormalised forward and backward two-dimensional complex
// transforms of size nx by ny and c the full table of the coefficient `coeff` (table_point, which
// carries 1/(nx ny)) at every index; in and out may coincide. Plans and buffers of its own at every
// call (estimated plans): it shares no arithmetic with the program's spectral_solve beyond FFTW
// itself, and multiplies by the full coefficient, not its symmetric part.
void poisson(array2d in, double table_values::*coeff, array2d out);
