// The scheme: the time step, its field solves and transforms, the FFT wisdom kept between runs,
// the fields derived from the state for the output, the rates that limit the time step and the
// control of its length.
//
// State contract. After the set-up and after every step:
//   - ne, ni are the densities (the newest level), ne1, ne2, ni1, ni2 the two older levels,
//     fne1 and fni1 the right-hand sides of the last step, fne2, fni2 the ones before; `stepping`
//     says how long the last two steps were and how many of the levels hold the solution;
//   - pe and pi are the potential and the gyro-averaged potential of the densities (after the
//     set-up: what the initial state or the restart read made them);
//   - with a spectral dissipation taken explicitly (ihype > 0, fixed steps), dis_e and dis_i are its
//     terms of ne and ni, which the next step applies; a set-up that writes the densities calls
//     derive_dissipation() before the first step (the step leaves them so for its new densities);
//   - with the edge damping (vorfree = 2), gni is the damped gyro-average of the undamped new ion
//     density (it cannot be formed from the damped ni afterwards, so the step stores it).
// gni (without the edge damping), ww, hyve and hyvi are read only by the output; the step neither
// reads nor writes them, and derive_output_fields() makes them. (vis_e and vis_i are the
// biharmonic branch's first Laplacians of the densities a step starts from, its own work.)
//
// Two ways to step, chosen by cfl (value 23; timestep.cpp says how and why):
//   cfl = 0   every step is dt; everything is explicit (the dissipation at the newest level);
//   cfl > 0   the parallel coupling and the dissipation are implicit, each step is cfl times the
//             largest stable step of the state (step_control.cpp), at most dt.
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
// The implicit step's rates per mode on the half spectrum (adaptive steps; no normalisation):
// coupling_half C (1 + 1/P), cross_half C Gamma/P (both 0 for modes the coupling leaves out: ky = 0
// in the modified model), damping_half diff D(k), the dissipation rate (negative where it amplifies).
extern double *coupling_half, *cross_half, *damping_half;

// Doubles from one row of a real slot to the next.
inline int real_row() { return 2 * (ny / 2 + 1); }

// Bytes that make_transforms reserves for FFTW's layout of `elements` complex values per transform
// on rows of gridy points and `threads` threads (the buffers of the step and of the spectral solve,
// gamma_half, with adaptive steps the implicit step's tables, and the row store of the sweep); the
// memory check of the run counts them from here.
double transform_bytes(long elements, int gridy, int threads);
// Bytes of the sweep's row store for rows of gridy points and `threads` threads.
double sweep_rows_bytes(int gridy, int threads);

// Create the buffers, the plans (measured when b_plan) for npar threads, gamma_half from cpoti
// (build_tables comes first), with adaptive steps the implicit step's tables, the spectral solve's
// buffers and the update sweep's row buffers. Measured plans start from the stored wisdom, which is
// stored again after the planning (wisdom.cpp). Every process calls it (FFTW's MPI planning is
// collective).
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

// The steps behind the state: the multistep history holds the solution at the state's time and at
// `levels - 1` earlier times, h1 and h2 before it (levels 3: ne1 at t - h1, ne2 at t - h1 - h2).
// The controller's part (adaptive steps, step_control.cpp): its step, the E x B measure of the
// state the last step started from, and the steps taken since the last output.
struct step_state {
  double h1, h2;     // the step that made the state, the one before
  int levels;        // levels of the history that hold the solution, 1 .. 3
  double nominal;    // the controller's step (before it is shortened to land on an output or sample)
  double gradient;   // max |grad phi|^2 as centred differences (phi[+1] - phi[-1])^2, summed over x and y
  double shortest, longest;  // the shortest and longest step since the last output
  long count;                // steps since the last output
};
extern step_state stepping;

// The weights of one step of order 1 .. 3 from the history levels and right-hand sides:
//   n = level[0] n0 - level[1] n1 + level[2] n2 + factor (slope[0] f0 - slope[1] f1 + slope[2] f2 ...)
// for the step h0 after steps h1 and h2 (the formulas are at the head of timestep.cpp). At equal
// steps of order 3 they are 18/11, 9/11, 2/11, 3, 3, 1 and h0 6/11 exactly.
struct step_weights {
  double level[3];
  double slope[3];
  double factor;
};
step_weights multistep_weights(int order, double h0, double h1, double h2);

// One whole time step of length h: the history moves on by one level (stepping with it); adds its
// stage times to stage_time. Leaves the state of the contract above.
void timestep(double h);

// This process's max |grad phi|^2 (as in step_state) of the state the last adaptive step started
// from, measured by its sweep; the driver reduces it over the processes with the stop signal.
extern double sweep_gradient;

// The steps behind a history of equal levels and zero old right-hand sides (a fresh start, or the
// levels of "restart.dat"): with fixed steps the history counts as complete, made by steps of dt
// (the start of earlier versions: the first step is n0 + dt 18/11 f0); with adaptive steps it holds
// the state alone, and the scheme starts at third order (step_control.cpp).
void fresh_history_steps();

// A history the scheme cannot use (written by the other way to step): equal levels of the state and
// zero old right-hand sides, with fresh_history_steps().
void discard_history();

// With adaptive steps and a history that holds the state alone (stepping.levels 1): pe and pi
// become the potentials of the densities (process 0's whole fields), which the first step's
// right-hand side needs for a start at third order. (The bath and the blob leave them zero, the
// merger, shear-flow and ky-mode starts leave pi zero; fixed steps start from them as they are, as
// earlier versions did, at first order.) Nothing otherwise.
void complete_start_potentials();

// Whether the step keeps the spectral dissipation terms dis_e, dis_i (ihype > 0 with fixed steps).
bool explicit_spectral_dissipation();

// dis_e, dis_i = the spectral dissipation of ne, ni (when the step keeps them; nothing otherwise).
void derive_dissipation();

// The fields that only the output reads, from the state the last step left: gni = Gamma ni (a copy
// for cold ions; with the edge damping the step's own gni is kept), ww = -(zze ne + zzi gni), and
// hyve, hyvi the dissipation of the last step: D(ne1) and D(ni1) with fixed steps, D(ne) and D(ni)
// (implicit, at the new level) with adaptive ones (with vis_e, vis_i for ihype 0; left alone for
// ihype < -1). Called after the steps of an interval, before the diagnostics.
void derive_output_fields();

// The field passes between the transforms of a step (field_solves.cpp).
// Edge damping: gyro-average of the new ni, damping of ne, ni and gni, and the
// damped vorticity's spectrum in spec_out slot 1 (and the damped densities' in spec_in).
void damped_vorticity();
// The spectra of pe and pi into spec_out, from the spectra of ne and ni in spec_in (slots 0, 1)
// or, when `damped`, from the damped vorticity's spectrum in spec_out slot 1; with an explicit
// spectral dissipation also its spectra, in place of the densities' in spec_in.
void potential_spectra(bool damped);
// The implicit part of an adaptive step, per Fourier mode: the new densities' spectra from those of
// the explicit update in spec_in (in their place, normalised for the backward transform) with the
// step's factor, and unless `damped` the spectra of pe and pi from them into spec_out.
void implicit_spectra(double factor, bool damped);
// The backward transforms and the stores of pe, pi and of the second pair in spec_in: dis_e, dis_i
// (explicit spectral dissipation), the new densities ne, ni (adaptive steps), or nothing.
void store_potentials();
// The backward transform of the new densities of an adaptive step (spec_in into real_in) and their
// store into ne, ni (before the edge damping, which needs them there and in real_in).
void store_densities();

// ---- The length of the adaptive steps (step_control.cpp) ----

// h times an amplifying dissipation rate that the implicit step keeps accurate.
extern const double growth_limit;

// The largest stable step of a state with E x B measure `gradient` (as in step_state): the explicit
// advection and drive on the imaginary axis, an amplifying dissipation; infinity when nothing limits.
double largest_stable_step(double gradient);

// Start the controller of a run that does not resume, for the E x B measure of its state (the same
// on every process; it becomes the sweep measure the first step's reduction gives): the step is
// dt with fixed steps; with adaptive ones the first step of the start at third order (levels 1),
// or, after a history of known steps, the controller's step grown from the last.
void start_controller(double gradient);

// The next step with adaptive steps, for the E x B measure `gradient` of the state the last sweep
// started from (over all processes; stored in stepping): the controller's step, shortened to land
// on an event `remaining` ahead. Does not take the step.
double controlled_step(double gradient, double remaining);

// Count the step h in the record of the output interval.
void record_step(double h);

// The steps of the output interval that ends (the controller's step at its end, the shortest and
// longest step taken and their number), and a new record for the next.
struct interval_steps {
  double nominal, shortest, longest;
  long count;
};
interval_steps output_interval_steps();

// A resumed run's controller goes on: the sweep measure becomes the one its checkpoint stored (every
// process read it), which the first step's reduction then gives (start_controller sets both for a
// run that does not resume).
void resume_controller();

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

// max |grad phi|^2 as centred differences of phi over the whole grid (process 0's fields): the
// E x B measure of step_state. exb_of_gradient turns it into the rate of exb_rate.
double potential_gradient(array2d phi);
double exb_of_gradient(double gradient);

// The E x B measure of the start: of pe, or, for a start that has no potential yet (the bath, the
// blob: the first step solves it), of the potential the densities imply (formed in lap_pe, which
// the first diagnostics call overwrites). Process 0's whole fields.
double start_gradient();

// The fastest frequency of the explicit gradient drive on a Fourier mode (step_control.cpp), and
// the fastest growth of an amplifying dissipation (max of -diff D(k), 0 when it only damps); set by
// make_transforms from the tables.
double drive_rate();
double amplifying_rate();
void measure_explicit_rates();

// The largest cfl run on developed turbulence (512^2, C 0.5 and 1, to t = 700: bench/README.md),
// beyond which the start-up warns, and the cfl the crash advice and the documentation recommend.
extern const double held_cfl, recommended_cfl;

// The largest dt for which the time step is stable on a mode with coupling rate `coupling`
// (negative real), drift rate `advection` (imaginary) and dissipation rate `dissipation` (taken at
// level 0): the roots of the step's characteristic polynomial stay within the unit circle. 0 for
// a negative or non-finite rate, infinity when all three are zero.
double combined_limit(double coupling, double advection, double dissipation);

// The warning lines (each ending with a line end; "" when none) for every term whose dt times its
// rate exceeds its limit, with exb the E x B rate; each names the term, dt times its rate and the
// dt (or diff) that would be stable.
std::string stability_warnings(double exb);

// Print the warnings for E x B rate exb on standard error.
void check_stability(double exb);

// The line (with its line end) naming the likely cause of a crash stop with density energy enn,
// from the rates at the last good output at time t_good with E x B rate exb.
std::string crash_cause(double enn, double exb, double t_good);
