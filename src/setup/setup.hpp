// Run set-up: the parameter file, the run constants derived from it and the Fourier-space
// coefficient tables.
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


// The "|" line (without line end) refusing an nx by ny grid, or nullptr: the memory check of the
// run (the driver's grid_problem, which counts what every layer above reserves), handed to the
// value checks so that the grid is refused in its place among the values.
typedef const char *(*grid_check)(int gridx, int gridy);

// Stop with a "|" message when a value cannot make a run: outside its range in the parameter
// table, or a grid that `grid` refuses. values holds nknown entries. Nothing has been written
// before.
void check_values(const double *values, grid_check grid);

// The "|" message line (without line end) of the first of the nineteen values that the table's
// ranges refuse, or of the grid that `grid` refuses once nx and ny are in range; nullptr when
// there is none. The text stays valid until the next call.
const char *values_problem(const double *values, grid_check grid);

// The "|" message line of the first optional value (values 20 .. 23, given as optional[0 .. 3])
// that cannot make a run, or nullptr; the text stays valid until the next call.
const char *optional_problem(const double *optional);

// Read "tavo.inp" of the working directory into values (nknown entries, the optional ones with
// their defaults when left out) and its text; stop with a "|" message when it cannot be read or
// its values cannot make a run (the grid checked by `grid`) or a label names another value (the
// file is misread: label_problem). Prints the extra-values warning.
void read_parameter_file(double *values, std::string &text, grid_check grid);

// Set every parameter and derived run constant from the nineteen values as read; the optional
// settings nframe, nckpt, iseed and cfl get their defaults.
void set_run_constants(const double *values);

// Set nframe, nckpt, iseed and cfl from the optional values 20 .. 23 (optional[0 .. 3]), after
// set_run_constants.
void set_optional_constants(const double *optional);

// Print the banner, read "tavo.inp" (at most parameter_file_limit bytes), stop on values that
// cannot make a run (the grid checked by `grid`), warn about extra values and a run too short for
// one output interval, set the run constants and keep the values as read in values_read. Touches
// no file but reads "tavo.inp".
void initpar(grid_check grid);

// I0(b) exp(-b), approximated to 1 % for b >= 0; gamma0(0) = 1.
double gamma0(double b);

// Fill cvfis, cpoti, cvort, clap and chyv for the current grid and parameters: at each element of
// this process's half spectrum the symmetric part of the coefficient (state.hpp).
void build_tables();

// The five coefficients at index (i, j) (0 <= i < nx, 0 <= j < ny); build_tables keeps their
// symmetric parts.
struct table_values {
  double cvfis, cpoti, cvort, clap, chyv;
};
table_values table_point(int i, int j);

// The "|" line (without line end) refusing the parameter file text because a value is labelled
// with the name of another known value (a shift by a stray '=', a missing '=', swapped lines),
// naming the first such value and what moved it; nullptr when every label fits its place or names
// no value. The text stays valid until the next call.
const char *label_problem(const std::string &text);
