// Run set-up: the parameter file, the run constants derived from it, the Fourier-space
// coefficient tables and the rates that limit the time step.
#pragma once

#include <cstdio>
#include <string>

#include "common/state.hpp"
#include "setup/parameters.hpp"

constexpr size_t parameter_file_limit = size_t(1) << 20;  // bytes a parameter file may hold

// What read_values found in the text of a parameter file.
struct value_reading {
  int count = 0;                 // markers followed by a value (may exceed the values stored)
  bool dangling_marker = false;  // the last word of the text is a marker
  int bad_value = 0;             // number (from 1) of the first stored value that is no number in full, 0 none
  std::string bad_word;          // that value's word
  std::string bad_marker;        // the marker word before it
  std::string first_extra;       // the first value word beyond those stored ("" when there is none)
};

// Read the values of the text of a parameter file: every word containing '=' marks the next word
// as the next value, read with strtod. Stores at most maxvalues values into values (a word that
// is not a number in full stores what strtod makes of it and is reported in bad_value). Words of
// any length are read safely.
value_reading read_values(const std::string &text, double *values, int maxvalues);

// The "|" message line (without line end) that refuses a reading of nknown values: a value that
// is not a number, or fewer than nineteen values; nullptr when it can be used. When the value or
// its marker holds a name, an '=' and a number in one word ("dt=0.01"), the line shows the fix
// ("write dt = 0.01"). The text stays valid until the next call.
const char *reading_problem(const value_reading &reading);

// The "|" warning line for a file with more values than the known ones (usually an '=' in a
// comment), naming the first extra word; nullptr when there are none. Valid until the next call.
const char *extra_values_warning(const value_reading &reading, int known);

// The values of "tavo.inp" as read, the optional ones with their defaults when left out; set by
// initpar, kept for the records of the run (the field history's attributes).
extern double values_read[nknown];


// Stop with a "|" message when a value cannot make a run: outside its range in the parameter
// table, or a grid beyond what this machine's memory holds (see grid_problem). values holds
// nknown entries. Nothing has been written before.
void check_values(const double *values);

// The "|" message line (without line end) of the first of the nineteen values that the table's
// ranges or the grid's memory refuse, or nullptr; the text stays valid until the next call.
const char *values_problem(const double *values);

// The "|" message line of the first optional value (values 20 .. 22, given as optional[0 .. 2])
// that cannot make a run, or nullptr; the text stays valid until the next call.
const char *optional_problem(const double *optional);

// Read "tavo.inp" of the working directory into values (nknown entries, the optional ones with
// their defaults when left out) and its text; stop with a "|" message when it cannot be read or
// its values cannot make a run. Prints the label warnings and the extra-values warning.
void read_parameter_file(double *values, std::string &text);

// Set every parameter and derived run constant from the nineteen values as read; the optional
// settings nframe, nckpt and iseed get their defaults.
void set_run_constants(const double *values);

// Set nframe, nckpt and iseed from the optional values 20 .. 22 (optional[0 .. 2]), after
// set_run_constants.
void set_optional_constants(const double *optional);

// Print the banner, read "tavo.inp" (at most parameter_file_limit bytes), stop on values that
// cannot make a run, warn about extra values and a run too short for one output interval, set the
// run constants, allocate the fields for the grid (a grid the memory cannot hold stops here), set
// the threads, clear the running spectrum means and build the coefficient tables. Touches no file
// but reads "tavo.inp".
void initpar();

// I0(b) exp(-b), approximated to 1 % for b >= 0; gamma0(0) = 1.
double gamma0(double b);

// Fill cvfis, cpoti, cvort, clap and chyv for the current grid and parameters.
void build_tables();

// The five tables' entries at index (i, j) (0 <= i < nx, 0 <= j < ny): build_tables stores them,
// the step's half tables are made from them.
struct table_values {
  double cvfis, cpoti, cvort, clap, chyv;
};
table_values table_point(int i, int j);

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

// The largest dt for which the time step is stable on a mode with coupling rate `coupling`
// (negative real), drift rate `advection` (imaginary) and dissipation rate `dissipation` (taken at
// level 0): the roots of the step's characteristic polynomial stay within the unit circle. 0 for
// a negative or non-finite rate, infinity when all three are zero.
double combined_limit(double coupling, double advection, double dissipation);

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
