// Initial states: the start modes of a fresh run, and the continuation (incon 2), whose state
// comes through the checkpoint readers of io/.
#pragma once

// Build the initial state selected by incon (or continue from "restart.dat" when incon = 2),
// complete the multistep history and eno; returns the start time.
double initcond();

// Complete a start state from the densities ne, ni (and pe, pi as the start made them): gni =
// Gamma ni, three equal history levels, zero past tendencies and eno = (1/2)<exp(2 ne)>, so that
// the third-order update starts without lower-order steps. The program (initcond), the tests and
// the benchmarks start their runs with it.
void complete_start_state();
