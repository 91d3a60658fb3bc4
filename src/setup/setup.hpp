// Run set-up: the parameter file, the run constants derived from it and the Fourier-space
// coefficient tables.
#pragma once

#include <cstdio>

constexpr int nvalues = 19;  // positional values of "tavo.inp"

// Read the values of a parameter file: every token containing '=' marks the next token as the
// next value (strtod, non-numeric reads as 0). Stores at most maxvalues values into values and
// returns how many markers were followed by a value (the count may exceed maxvalues). A marker
// that is the last token counts as a marker without value and is reported through
// dangling_marker. Tokens of any length are read safely.
int read_values(FILE *file, double *values, int maxvalues, bool *dangling_marker);

// Stop with a "|" message when the nineteen values cannot make a run (grid outside 1 .. 1026,
// npar, itstp, itmax, ipade, ly or value 3 out of range). Nothing has been written before.
void check_values(const double *values);

// The "|" message line (without line end) of the first value that check_values refuses, or
// nullptr when the nineteen values can make a run; the text stays valid until the next call.
const char *values_problem(const double *values);

// Set every parameter and derived run constant from the nineteen values as read.
void set_run_constants(const double *values);

// Print the banner, read "tavo.inp", set the run constants and threads, empty the time series
// of a fresh run, clear the running spectrum means and build the coefficient tables.
void initpar();

// I0(b) exp(-b), approximated to 1 % for b >= 0; gamma0(0) = 1.
double gamma0(double b);

// Fill cvfis, cpoti, cvort, clap and chyv for the current grid and parameters.
void build_tables();
