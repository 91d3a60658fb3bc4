// Diagnostics and output: time series, profiles and cuts, snapshots, wavenumber spectra and the
// probe traces with their frequency spectra.
#pragma once

#include "common/state.hpp"

// The scalars of one diagnostics call, the columns of "eng.dat", "eng-transfer.dat" and "fne.dat".
struct output_scalars {
  double enn;          // density energy
  double enk;          // kinetic energy E_K
  double enz;          // zonal-flow energy E_Z
  double energy;       // E_K + enn
  double zonal_share;  // E_Z / E_K
  double drive;        // drive rate
  double coupling;     // parallel coupling rate
  double dissipation;  // dissipation rate
  double rate_sum;     // drive + coupling + dissipation
  double flux;         // radial particle flux Gamma_n
  // The steps of the output interval with adaptive steps (the driver's; diagnose leaves them NaN):
  double step;         // the controller's step at the output
  double step_min;     // the shortest step of the interval
  double step_max;     // the longest step of the interval
  double steps;        // steps in the interval
};

// The fields an output reads, each named: the densities, the potential and its gyro-average, the
// gyro-averaged ion density, the dissipation terms of the last step, and lap_pe, into which the
// call writes the vorticity (the Laplacian of pe) that its files and the field history read.
struct output_fields {
  array2d ne, ni, pe, pi, gni, hyve, hyvi, lap_pe;
};

// The program's own: the global fields of those names.
output_fields state_output_fields();

// Reduce the state to energies, fluxes and rates, stop on a collapsed energy, append to the time
// series and rewrite profiles, cuts, snapshots and spectra; ends with the progress line. Returns
// the scalars it wrote (also at t = 0, when the series get no line).
output_scalars diagnose(double t, double t0, int iout, int itmax, const output_fields &f);

// The time series a run appends to, one record (or block of records) per output.
constexpr int nappended = 5;
extern const char *const appended_series[nappended];

// Create the seven time-series files of a fresh run empty: the appended series, "traces.dat" and
// "time.dat".
void empty_time_series();

// The start of a continued run from the restart time t0: every appended series loses its records
// later than t0 (the records a killed run appended after its restart file was written), and a
// last line cut short.
void drop_records_after(double t0);
// How far a record may lie from a restart time t0 and still count as t0: the rounding of the
// restart header (rounding |t0|), at most half the output spacing itstp dt of this run.
double series_tolerance(double t0, double rounding);

constexpr int nprobes = 64;  // probes on an 8 by 8 lattice

// Store sample `sample` (0 .. maxtrace-1) of ne and pe at the 64 probes into trace_n, trace_p
// (each nprobes*maxtrace doubles, probe p at p*maxtrace + sample).
void record_probes(double *trace_n, double *trace_p, int sample);

// End-of-run analysis: windowed traces, summed frequency spectra ("traces.dat", "ptt_n.dat",
// "ptt_p.dat").
void trace_analysis(double t0, const double *trace_n, const double *trace_p);
