// Initial states and the restart file.
#pragma once

// Build the initial state selected by incon (or continue from "restart.dat" when incon = 2),
// complete the multistep history and eno; returns the start time.
double initcond();

// Write the complete multistep state to "restart.dat" (through a temporary file, renamed when
// complete), with the simulation time in the header.
void writerestart(double time);

// Read "restart.dat" into the state; returns the stored time. Stops with a "|" message on a
// file that is missing, truncated, malformed or written for another grid.
double readrestart();
