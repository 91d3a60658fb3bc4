// Work data of one diagnostics call and the writers that share it.
#pragma once

#include "common/state.hpp"

// neprof, peprof and lap_pe (see state.hpp) carry the call's profiles and vorticity.

// Rewrite "cutx.dat", "cuty.dat" and "xprof.dat" from the given fields and lap_pe.
void write_profiles(array2d ne, array2d ni, array2d pe, array2d gni);

// Write the snapshots of ne, lap_pe, pe and pe - ne through their temporary files.
void write_snapshots(array2d ne, array2d pe);

// Rewrite the five wavenumber spectra of pi, ne, lap_pe and the gradient energy of pi; advance
// their running means (weighted by the interval index iout) in a continued run.
void write_spectra(array2d ne, int iout);
