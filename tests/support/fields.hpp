// Test support for fields on the grid: the largest value and the largest difference over the used
// extent (x = 0 .. nx1, y = 0 .. ny1), a field check that names its worst point, smooth random
// fields made of the Fourier modes up to index 3, the grid constants of a bare grid, and the start
// of a time-step test from a clean state and a fresh multistep history.
#pragma once

#include <initializer_list>

#include "common/state.hpp"
#include "support/run_setup.hpp"

// Register fields a test file owns (expected values, saved copies): every grid set-up of this
// support (set_grid, setup_run and what calls them) gives each registered field storage for its
// grid with the program's row stride and halo rows: zero when the shape changed, kept when it did
// not. Returns true, so that a file can register its fields in the initialiser of a namespace-scope
// constant.
bool register_test_fields(std::initializer_list<array2d *> fields);

// Fresh zero storage for every registered field on the current grid (called by the grid set-ups).
void allocate_test_fields();

// to = from over the used extent.
void copy_field(array2d to, const array2d from);

// f = 0 over the used extent (nothing for a field without storage).
void zero_field(array2d f);

// Largest |f| over the used extent; NaN entries are passed over.
double max_abs(const array2d f);

// Largest |f| over the used extent; infinite as soon as f holds a NaN.
double max_abs_or_inf(const array2d f);

// Largest |got - want| over the used extent, its point into (at_x, at_y); NaN at the first NaN.
double max_diff(const array2d got, const array2d want, int *at_x, int *at_y);

// Expect |got - want| <= tol at every point of the used extent, naming the worst point.
void expect_field(const char *name, const array2d got, const array2d want, double tol);

// f = offset + a sum of the Fourier modes up to index 3 with random amplitudes (up to amplitude)
// and phases, drawn from a generator seeded with seed.
void smooth_random(array2d f, unsigned seed, double amplitude, double offset);

// Run constants and zero fields of an nx by ny grid (gridx, gridy) with box length ly along y, on
// one thread; no tables and no transforms.
void set_grid(int gridx, int gridy, double length);

// A small grid with the values v, all fields and tables cleared first, so that nothing of an
// earlier test in this process shows through.
void start_grid(const values19 &v, double cfl_value = 0.0);

// start_grid (which sets the step sizes dtt and ddtt with the run constants).
void start_step(const values19 &v, double cfl_value = 0.0);

// The state of a fresh run from the densities: the reference's potentials, then the program's
// start-state completion (complete_start_state) and the dissipation terms of the densities.
void fresh_history();
