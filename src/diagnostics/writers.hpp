// Work data of one diagnostics call and the writers that share it.
#pragma once

#include "common/state.hpp"

#include "diagnostics/diagnostics.hpp"

// neprof and peprof (see state.hpp) carry the call's profiles; f.lap_pe its vorticity.

// Rewrite "cutx.dat", "cuty.dat" and "xprof.dat" from ne, ni, pe, lap_pe and gni.
void write_profiles(const output_fields &f);

// Write the snapshots of ne, lap_pe, pe and pe - ne through their temporary files.
void write_snapshots(const output_fields &f);

// Rewrite the five wavenumber spectra of pi, ne, lap_pe and the gradient energy of pi; advance
// their running means (weighted by the interval index iout) in a continued run.
void write_spectra(const output_fields &f, int iout);
