// Initial states and the restart file.
#pragma once

#include <cstdio>

// Build the initial state selected by incon (or continue from "restart.dat" when incon = 2),
// complete the multistep history and eno; returns the start time.
double initcond();

// Complete a start state from the densities ne, ni (and pe, pi as the start made them): gni =
// Gamma ni, three equal history levels, zero past tendencies and eno = (1/2)<exp(2 ne)>, so that
// the third-order update starts without lower-order steps. The program (initcond), the tests and
// the benchmarks start their runs with it.
void complete_start_state();

// Write the complete multistep state to "restart.dat" (through a temporary file, renamed when
// complete), with the simulation time in the header.
void writerestart(double time);

// A fresh run's start of a new series: move every checkpoint file of an earlier run ("restart.dat")
// to a free name "<name>.old", ".old2", ... with a "|" line on standard error, so that no later
// continuation starts from a state that does not belong to the new series. Stops with a "|" line
// when a move fails.
void set_aside_checkpoints();
// Read "restart.dat" into the state; returns the stored time. Stops with a "|" message on a
// file that is missing, truncated, malformed or written for another grid.
double readrestart();

// Parse an open restart file into eno and the stored arrays of the current grid (nx by ny): the
// start time goes to time, the number of distinct points named to named_points. Returns nullptr
// for a sound file, else the "|" message line (without line end) that readrestart stops with; the
// text stays valid until the next call. Does not close the file, print or rebuild pi.
const char *restart_problem(FILE *file, double *time, long *named_points);
