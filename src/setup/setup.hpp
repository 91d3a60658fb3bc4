// Run set-up: the parameter file, the run constants derived from it, the Fourier-space
// coefficient tables and the rates that limit the time step.
#pragma once

#include <cstdio>
#include <string>

#include "common/state.hpp"

constexpr int nvalues = 19;                   // positional values of "tavo.inp" every file holds
constexpr int noptional = 3;                  // optional values 20 .. 22 (nframe, nckpt, iseed)
constexpr int nknown = nvalues + noptional;   // every value the program knows

// Defaults of the optional values 20 .. 22 for a file that stops before them.
extern const double optional_defaults[noptional];

// Read the values of a parameter file: every token containing '=' marks the next token as the
// next value (strtod, non-numeric reads as 0). Stores at most maxvalues values into values and
// returns how many markers were followed by a value (the count may exceed maxvalues). A marker
// that is the last token counts as a marker without value and is reported through
// dangling_marker. Tokens of any length are read safely.
int read_values(FILE *file, double *values, int maxvalues, bool *dangling_marker);

// Stop with a "|" message when the nineteen values cannot make a run (grid outside 1 .. 1026,
// npar, itstp, itmax, ipade, ly or value 3 out of range) or an optional value 20 .. 22 is not a
// whole number in range. values holds nknown entries. Nothing has been written before.
void check_values(const double *values);

// The "|" message line (without line end) of the first value that check_values refuses, or
// nullptr when the nineteen values can make a run; the text stays valid until the next call.
const char *values_problem(const double *values);

// The "|" message line of the first optional value (values 20 .. 22, given as optional[0 .. 2])
// that cannot make a run, or nullptr; the text stays valid until the next call.
const char *optional_problem(const double *optional);

// Set every parameter and derived run constant from the nineteen values as read; the optional
// settings nframe, nckpt and iseed get their defaults.
void set_run_constants(const double *values);

// Set nframe, nckpt and iseed from the optional values 20 .. 22 (optional[0 .. 2]), after
// set_run_constants.
void set_optional_constants(const double *optional);

// Print the banner, read "tavo.inp", set the run constants and threads, empty the time series
// of a fresh run, clear the running spectrum means and build the coefficient tables.
void initpar();

// I0(b) exp(-b), approximated to 1 % for b >= 0; gamma0(0) = 1.
double gamma0(double b);

// Fill cvfis, cpoti, cvort, clap and chyv for the current grid and parameters.
void build_tables();

// Limits of dt times a rate for the time step: the coupling (negative real axis), the dissipation
// (taken at level 0 only, negative real axis) and the E x B advection (imaginary axis).
extern const double coupling_limit, dissipation_limit, advection_limit;

// Rate of the parallel coupling, C (1 + 1/P(k)), at the smallest coupled wavenumber (into k; 0
// when no mode is coupled). Needs the coefficient tables.
double coupling_rate(double *k);

// Rate of the dissipation at the grid's largest wavenumber |k| (into k), |diff| |D(k)|; 0 when
// ihype chooses none. Needs the coefficient tables.
double dissipation_rate(double *k);

// Rate of the E x B drift of the potential phi, max |grad phi| hy / delta (0 when the brackets
// are switched off).
double exb_rate(array2d phi);

// The warning lines (each ending with a line end; "" when none) for every term whose dt times its
// rate exceeds its limit, with exb the E x B rate; each names the term, dt times its rate and the
// dt (or diff) that would be stable.
std::string stability_warnings(double exb);

// Print the warnings for the potential phi on standard error.
void check_stability(array2d phi);

// The line (with its line end) naming the likely cause of a crash stop with density energy enn,
// from the rates at the last good output at time t_good with E x B rate exb.
std::string crash_cause(double enn, double exb, double t_good);

// Warning lines (each with its line end; "" when none) for every value of the parameter file
// text whose label is the name of another known value, naming both.
std::string label_warnings(const std::string &text);

// Print the label warnings of the parameter file text on standard error.
void check_labels(const std::string &text);
