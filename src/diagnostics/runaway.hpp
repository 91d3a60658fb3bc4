// The runaway stop before each output (runaway.cpp).
#pragma once

#include "common/state.hpp"

// Margin on the exponent of the growth bound.
extern const double runaway_margin;

// The fastest rate at which a linear term (the density-gradient drive) can grow the energy
// E_K + enn: sqrt(|1/delta| (1 + taui)); the base of the growth bound.
double runaway_rate();

// The largest factor by which E_K + enn may grow over `interval` time units before the run counts
// as run away: exp(min(runaway_margin * runaway_rate() * interval, 700)).
double runaway_factor(double interval);

// Stop the run with the crash lines when the energy E_K + enn of the state is not finite or has
// grown since the last output that passed by more than runaway_factor of the time between them;
// otherwise remember this output as the last good one. t, t0 and itmax as for diagnose (the
// initial call with t = t0 = 0: its energy is no reference for the growth test).
void stop_on_runaway(double t, double t0, int itmax, array2d ne, array2d ni, array2d pe);
