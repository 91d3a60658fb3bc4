// The test references' independent spectral solve: complex transforms on the full tables.
#pragma once

#include "common/state.hpp"

// out = Re B(coeff * F(in)) with F, B the unnormalised forward and backward two-dimensional complex
// transforms of size nx by ny (the tables carry 1/(nx ny)); in and out may coincide. Plans and
// buffers of its own at every call (estimated plans): it shares no arithmetic with the program's
// spectral_solve beyond FFTW itself.
void poisson(array2d in, array2d coeff, array2d out);
