// Test support: set up the run constants, tables and transforms of a small grid without a
// parameter file, and run the program end to end in a temporary directory.
#pragma once

#include <array>
#include <string>

#include "common/state.hpp"
#include "setup/parameters.hpp"

// The places of the nineteen values of "tavo.inp", from the parameter table.
constexpr int v_chat = value_index("chat"), v_taui = value_index("taui"), v_delta = value_index("delta"),
              v_diff = value_index("diff"), v_incon = value_index("incon"), v_sigma = value_index("sigma"),
              v_amp = value_index("amp"), v_vorfree = value_index("vorfree"), v_ly = value_index("ly"),
              v_nx = value_index("nx"), v_ny = value_index("ny"), v_dt = value_index("dt"),
              v_itstp = value_index("itstp"), v_itmax = value_index("itmax"), v_ntrace = value_index("ntrace"),
              v_ipade = value_index("ipade"), v_ihype = value_index("ihype"), v_bplan = value_index("b_plan"),
              v_npar = value_index("npar");
typedef std::array<double, nvalues> values19;

// A small, quiet run: 16 x 16 grid, ly = 2 pi (so k = index), warm ions, no dissipation, 1 thread.
values19 test_values();

// Set the run constants from v (and cfl, value 23), allocate zero fields for its grid, set the
// thread count, build the tables and make the driver's transforms and wisdom, as the program does
// before its initial state; the history's steps those of a fresh start, the controller started.
void setup_run(const values19 &v, double cfl_value = 0.0);

// Zero every field of the grid state over the used extent.
void clear_state();

// Write text into path.
void write_text(const std::string &path, const std::string &text);

// Read a whole file ("" when it does not exist).
std::string read_text(const std::string &path);

// A parameter file holding the nineteen values with their names.
std::string parameter_file(const values19 &v);

// The same followed by the optional values 20 and 21, nframe and nckpt.
std::string parameter_file(const values19 &v, int nframe, int nckpt);

// The same followed by the optional values 20 to 23: nframe, nckpt, iseed 0 and cfl.
std::string parameter_file(const values19 &v, int nframe, int nckpt, double cfl);

// A fresh empty directory under the system's temporary directory.
std::string make_temp_dir();

// The program of this build (build/tavo) for a test to run. A unit test runs without it: in the
// unit tier (TAVO_TEST_TIER=unit, set by CTest) this records a failure saying so and returns a path
// that does not exist.
std::string tavo_program();

// Run build/tavo in dir; returns the exit status (-1 when it did not exit normally) and puts
// its standard output into output.
int run_tavo(const std::string &dir, std::string *output);

// Standard error of a run without its progress lines ("| progress: ...", and the count of the
// adaptive steps at the end, "| steps: ..."): what is left are the warnings and messages a test
// looks for.
std::string without_progress(const std::string &errors);
