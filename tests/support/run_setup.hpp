// Test support: set up the run constants, tables and transforms of a small grid without a
// parameter file, and run the program end to end in a temporary directory.
#pragma once

#include <array>
#include <string>

#include "common/state.hpp"

// The nineteen values of "tavo.inp" in their order.
enum {
  v_chat, v_taui, v_delta, v_diff, v_incon, v_sigma, v_amp, v_vorfree, v_ly, v_nx, v_ny, v_dt,
  v_itstp, v_itmax, v_ntrace, v_ipade, v_ihype, v_bplan, v_npar
};
typedef std::array<double, 19> values19;

// A small, quiet run: 16 x 16 grid, ly = 2 pi (so k = index), warm ions, no dissipation, 1 thread.
values19 test_values();

// Set the run constants from v, allocate zero fields for its grid, set the thread count, build the
// tables and make the driver's transforms and wisdom, as the program does before its initial state.
void setup_run(const values19 &v);

// Zero every field of the grid state (not the tables) over the used extent.
void clear_state();

// Write text into path.
void write_text(const std::string &path, const std::string &text);

// Read a whole file ("" when it does not exist).
std::string read_text(const std::string &path);

// A parameter file holding the nineteen values with their names.
std::string parameter_file(const values19 &v);

// The same followed by the optional values 20 and 21, nframe and nckpt.
std::string parameter_file(const values19 &v, int nframe, int nckpt);

// A fresh empty directory under the system's temporary directory.
std::string make_temp_dir();

// Run build/tavo in dir; returns the exit status (-1 when it did not exit normally) and puts
// its standard output into output.
int run_tavo(const std::string &dir, std::string *output);

// Standard error of a run without its progress lines ("| progress: ..."): what is left are the
// warnings and messages a test looks for.
std::string without_progress(const std::string &errors);
