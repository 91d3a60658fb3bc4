// The table of the values of "tavo.inp": the one place that lists them.
//
// Every value has its number (its place in the file, from 1), its name, its kind, the default of
// an optional value, its allowed range, its unit and a one-line meaning. The reader, the label
// check, the run constants, the refusals, the command line (--parameters, --check), the field
// history's attributes and, through `tavo --parameters=json`, the Python package and docs/parameters.md
// all take the values from here.
//
// Kinds:
//   real    used as read
//   whole   a count: values 1 .. 19 are truncated toward zero to a 32-bit int, the optional
//           values must be whole numbers
//   switch  a choice by value, used as read; values without a meaning of their own act as the
//           meaning says
// Ranges: every value must be a finite number; a whole value is checked after its truncation.
// low_open excludes low itself (dt > 0), high_open high itself (cfl < 1), nonzero excludes 0 (delta,
// the reciprocal of the bracket weight). Ranges are those every stored parameter file and example satisfies: a value outside
// one cannot make a run (a step of zero or negative length, a grid without points, ...).
#pragma once

#include <limits>
#include <string>

constexpr int nvalues = 19;                   // positional values of "tavo.inp" every file holds
constexpr int noptional = 4;                  // optional values 20 .. 23
constexpr int nknown = nvalues + noptional;   // every value the program knows

enum class value_kind { real, whole, choice };

struct parameter {
  const char *name;
  value_kind kind;
  double fallback;  // default of an optional value (NaN for the nineteen every file holds)
  double low, high;  // allowed range, both ends included unless low_open
  bool low_open;
  bool nonzero;
  const char *unit;
  const char *meaning;
  bool high_open = false;
  // Left out of the records of a run (the field history's attributes) at its default: a value
  // added after those records' layout, so that a run that does not set it writes the files of
  // earlier versions.
  bool quiet_default = false;
};

constexpr double no_default = std::numeric_limits<double>::quiet_NaN();
constexpr double unbounded = std::numeric_limits<double>::infinity();
constexpr double int_top = 2147483647.0;

inline constexpr parameter parameter_table[nknown] = {
    {"chat", value_kind::real, no_default, -unbounded, unbounded, false, false, "c_s/L_perp",
     "parallel coupling C = |chat|; sign: + modified (zonal parts uncoupled), - ordinary coupling; 0 also "
     "switches the gradient drive off"},
    {"taui", value_kind::real, no_default, -unbounded, unbounded, false, false, "1",
     "ion temperature ratio tau_i = |taui|; negative: no tau_i in the Pade polarisation"},
    {"delta", value_kind::real, no_default, -unbounded, unbounded, false, true, "1",
     "the E x B brackets are weighted by 1/delta"},
    {"diff", value_kind::real, no_default, -unbounded, unbounded, false, false, "rho_s^2p c_s/L_perp",
     "dissipation coefficient nu of the operator ihype chooses (sign: see ihype)"},
    {"incon", value_kind::choice, no_default, -unbounded, unbounded, false, false, "-",
     "start: 0 blob, 1 random bath, 2 continue from restart.dat, 3 vortex merger, 4 shear flow, 5 single ky "
     "mode"},
    {"sigma", value_kind::real, no_default, -unbounded, unbounded, false, false, "rho_s",
     "width of the blob or merger vortices; for incon 5 the wavenumber ky (in 1/rho_s)"},
    {"amp", value_kind::real, no_default, -unbounded, unbounded, false, false, "1",
     "amplitude of the initial state (the bath grows like amp squared)"},
    {"vorfree", value_kind::choice, no_default, -unbounded, unbounded, false, false, "-",
     "1 vorticity-free blob or bath start, 2 damp the densities near both radial edges in every step"},
    {"ly", value_kind::real, no_default, 0, unbounded, true, false, "rho_s",
     "box length along y; along x it is nx/ny times ly"},
    {"nx", value_kind::whole, no_default, 1, int_top, false, false, "points", "grid points along x (radial)"},
    {"ny", value_kind::whole, no_default, 1, int_top, false, false, "points", "grid points along y (poloidal)"},
    {"dt", value_kind::real, no_default, 0, unbounded, true, false, "L_perp/c_s", "time step"},
    {"itstp", value_kind::whole, no_default, 1, int_top, false, false, "steps", "time steps between two outputs"},
    {"itmax", value_kind::whole, no_default, 0, int_top, false, false, "steps", "time steps of the run (0: set up and stop)"},
    {"ntrace", value_kind::whole, no_default, -int_top, int_top, false, false, "steps",
     "time steps between two probe samples; 0 or less: no probe traces"},
    {"ipade", value_kind::whole, no_default, 0, 1, false, false, "-", "gyro-average: 0 Pade form, 1 gamma0 form"},
    {"ihype", value_kind::whole, no_default, -int_top, int_top, false, false, "-",
     "dissipation: -1 Laplacian, 0 Laplacian squared, 1 2 4 6 8 spectral k^2 k^4 k^8 k^6 k^12, others none"},
    {"b_plan", value_kind::choice, no_default, -unbounded, unbounded, false, false, "-",
     "1: measured FFT plans (slower start, faster steps); else estimated"},
    {"npar", value_kind::whole, no_default, 1, int_top, false, false, "threads",
     "threads, 1 ... the number the OpenMP runtime offers"},
    {"nframe", value_kind::whole, 1, 0, int_top, false, false, "outputs",
     "outputs between two frames of the field history tavo.nc (the output at the start counts); 0 no history"},
    {"nckpt", value_kind::whole, 10, 0, int_top, false, false, "outputs",
     "outputs between two checkpoints of restart.dat during the run; 0 only at the end"},
    {"iseed", value_kind::whole, 0, 0, int_top, false, false, "-",
     "seed of the bath start (incon 1); 0 the fixed sequence of earlier versions"},
    {"cfl", value_kind::real, 0, 0, 1, false, false, "-",
     "0: every step is dt; between 0 and 1: adaptive steps, each cfl times the largest stable step of the "
     "state, at most dt", true, true},
};

// The number (0-based) of the value named name, exactly; -1 when no value has that name.
constexpr int value_index(const char *name) {
  for (int k = 0; k < nknown; k++) {
    const char *a = parameter_table[k].name;
    const char *b = name;
    while (*a && *a == *b) a++, b++;
    if (*a == *b) return k;
  }
  return -1;
}

// The kind's word ("real", "whole", "switch").
const char *kind_name(value_kind kind);

// The allowed range of value k (0-based) as text: "any", "> 0", ">= 1", "0 .. 1", "not 0".
std::string range_text(int k);

// The "|" message line (without line end) refusing value k (0-based) with the value v, or nullptr
// when v is allowed; the text stays valid until the next call.
const char *value_refusal(int k, double v);

// The table for people (--parameters): one line per value.
std::string parameter_listing();

// The table for scripts (--parameters=json): a JSON array of one object per value.
std::string parameter_json();
