// The scheme: the time step, its field solves and transforms, the FFT wisdom kept between runs,
// the fields derived from the state for the output, and the rates that limit the time step.
//
// State contract. After the set-up and after every step:
//   - ne, ni are the densities (the newest level), ne1, ne2, ni1, ni2 the two older levels,
//     fne1 and fni1 the right-hand sides of the last step, fne2, fni2 the ones before;
//   - pe and pi are the potential and the gyro-averaged potential of the densities (after the
//     set-up: what the initial state or the restart read made them);
//   - with a spectral dissipation (ihype > 0), dis_e and dis_i are its terms of ne and ni, which the
//     next step applies; a set-up that writes the densities calls derive_dissipation() before the
//     first step (the step leaves them so for its new densities);
//   - with the edge damping (vorfree = 2), gni is the damped gyro-average of the undamped new ion
//     density (it cannot be formed from the damped ni afterwards, so the step stores it).
// gni (without the edge damping), ww, hyve and hyvi are read only by the output; the step neither
// reads nor writes them, and derive_output_fields() makes them. (vis_e and vis_i are the
// biharmonic branch's first Laplacians of the densities a step starts from, its own work.)
#pragma once

#include <string>

#include "common/state.hpp"


// Stage accumulators of the timing report, in the report's order.
enum { t_ini, t_upd, t_poi1, t_poi2, t_pol, t_bnd, t_out, t_mem, nstages };
extern double stage_time[nstages];

// ---- Transforms of the step (transforms.cpp) ----
// Real-to-complex (r2c) and complex-to-real (c2r) two-dimensional transforms of size nx by ny,
// unnormalised, on FFTW's MPI interface over the processes' slabs (parallel/processes.hpp). A real
// slot holds this process's slab rows, row x at (x - slab_first) real_row() (padded as FFTW's MPI
// r2c asks); a half spectrum slot holds its part of the half spectrum (ky >= 0) in the layout
// spectrum_rows() by spectrum_columns() of parallel/processes.hpp. Each buffer holds two fields (slots 0 and 1) at real_slot or
// spectrum_slot elements from each other; every slot has the alignment of the first, so the plans
// run on any slot of a buffer of their kind.
extern double *real_in;    // r2c input (the new densities), c2r output of the dissipation
extern cplx *spec_in;      // r2c output (spectra of the densities), c2r input of the dissipation
extern cplx *spec_out;     // c2r input of the potentials and of the gyro-averaged ion density
extern double *real_out;   // c2r output of the potentials; r2c input of the damped vorticity
extern size_t real_slot, spectrum_slot;
// The forward transform of real_in's slot into spec_in's; of any real slot into any spectrum slot;
// the backward transform of a spectrum slot into a real slot; both slots of real_in forward, and
// both slots of a spectrum buffer backward into both slots of a real buffer.
void forward(int slot);
void forward_from(double *real, cplx *spectrum);
void backward(cplx *spectrum, double *real);
void forward_pair();
void backward_pair(cplx *spectrum, double *real);
// cpoti without the normalisation 1/(nx ny) (on the same half spectrum as the tables, state.hpp),
// for a product that follows another table's within one pair of transforms.
extern double *gamma_half;

// Doubles from one row of a real slot to the next.
inline int real_row() { return 2 * (ny / 2 + 1); }

// Bytes that make_transforms reserves for FFTW's layout of `elements` complex values per transform
// on rows of gridy points and `threads` threads (the buffers of the step and of the spectral solve,
// gamma_half and the row store of the sweep); the memory check of the run counts them from here.
double transform_bytes(long elements, int gridy, int threads);
// Bytes of the sweep's row store for rows of gridy points and `threads` threads.
double sweep_rows_bytes(int gridy, int threads);

// Create the buffers, the plans (measured when b_plan) for npar threads, gamma_half from cpoti
// (build_tables comes first), the spectral solve's buffers and the update sweep's row buffers.
// Measured plans start from the stored wisdom, which is stored again after the planning
// (wisdom.cpp). Every process calls it (FFTW's MPI planning is collective).
void make_transforms();

// Release what make_transforms made.
void free_transforms();

// ---- The spectral field solve (spectral_solve.cpp) ----

// out = Re B(coeff * F(in)) over this process's slab, on the step's transforms: coeff one of the
// tables of state.hpp (their symmetric parts); in and out may coincide. Every process calls it at
// once; needs make_transforms first.
void spectral_solve(array2d in, const double *coeff, array2d out);

// The buffers of the spectral solve for the step's layout (make_transforms makes them), and their
// release.
void make_spectral_solve();
void free_spectral_solve();

// ---- FFTW wisdom kept between runs (wisdom.cpp) ----
// The file of stored wisdom for the current grid and npar threads: $XDG_CACHE_HOME/tavo/ (else
// ~/.cache/tavo/) "wisdom-<nx>x<ny>-<npar>t"; "" when there is none to use (TAVO_WISDOM=0, or no
// cache directory can be named).
std::string wisdom_path();

// Import the stored wisdom when its key (FFTW version, grid, thread count, planner flags) is this
// run's; a damaged or foreign file is passed over with a "|" note on standard error.
void load_wisdom();

// Store FFTW's wisdom (under a temporary name, renamed when complete) unless the file already
// holds it; a failure is noted on standard error and the run goes on.
void store_wisdom();

// ---- The step (timestep.cpp, field_solves.cpp) ----

// Per-thread row buffers of the update sweep, for up to `threads` threads (made and released with
// the transforms).
void make_sweep_rows(int threads);
void free_sweep_rows();

// xmask[x] = 1 - exp(-0.25 (nx1-x)^2) - exp(-0.25 x^2).
void compute_xmask();

// to[x][y] = from[x][y] for x = 0 .. lastx, y = 0 .. lasty.
void f_copy2darray(array2d from, array2d to, int lastx, int lasty);

// One whole time step; adds its stage times to stage_time. Leaves the state of the contract above.
void timestep();

// dis_e, dis_i = the spectral dissipation of ne, ni (ihype > 0; nothing otherwise).
void derive_dissipation();

// The fields that only the output reads, from the state the last step left: gni = Gamma ni (a copy
// for cold ions; with the edge damping the step's own gni is kept), ww = -(zze ne + zzi gni), and
// hyve, hyvi the dissipation of the last step, D(ne1) and D(ni1) (with vis_e, vis_i for ihype 0;
// left alone for ihype < -1). Called after the steps of an interval, before the diagnostics.
void derive_output_fields();

// The field passes between the transforms of a step (field_solves.cpp).
// Edge damping: gyro-average of the new ni, damping of ne, ni and gni, and the
// damped vorticity's spectrum in spec_out slot 1 (and the damped densities' in spec_in).
void damped_vorticity();
// The spectra of pe and pi into spec_out, from the spectra of ne and ni in spec_in (slots 0, 1)
// or, when `damped`, from the damped vorticity's spectrum in spec_out slot 1; with a spectral
// dissipation also its spectra, in place of the densities' in spec_in.
void potential_spectra(bool damped);
// The backward transforms and the stores of pe, pi (and dis_e, dis_i).
void store_potentials();

// ---- The rates that limit the time step (stability.cpp) ----

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
