// Diagnostics and output: time series, profiles and cuts, snapshots, wavenumber spectra and the
// probe traces with their frequency spectra.
#pragma once

#include "common/state.hpp"

// Reduce the state to energies, fluxes and rates, stop on a collapsed energy, append to the time
// series and rewrite profiles, cuts, snapshots and spectra; ends with the progress line.
void diagnose(double t, double t0, int iout, int itmax, array2d ne, array2d ni, array2d pe, array2d gni);

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

constexpr int nprobes = 64;  // probes on an 8 by 8 lattice

// Store sample `sample` (0 .. maxtrace-1) of ne and pe at the 64 probes into trace_n, trace_p
// (each nprobes*maxtrace doubles, probe p at p*maxtrace + sample).
void record_probes(double *trace_n, double *trace_p, int sample);

// End-of-run analysis: windowed traces, summed frequency spectra ("traces.dat", "ptt_n.dat",
// "ptt_p.dat").
void trace_analysis(double t0, const double *trace_n, const double *trace_p);
