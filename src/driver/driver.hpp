// The time step and its field solves, on the driver's persistent transform plans and buffers.
#pragma once

#include "common/state.hpp"

// Persistent spectral buffers and plans of the time step (nx*ny complex values each).
extern cplx *fw_in, *fw_out, *bw_in, *bw_out;
extern fftw_plan plan_fw, plan_bw;
extern double xmask[nmax];  // radial damping profile used when vorfree = 2

// Stage accumulators of the timing report, in the report's order.
enum { t_ini, t_upd, t_poi1, t_poi2, t_pol, t_bnd, t_out, t_mem, nstages };
extern double stage_time[nstages];

// Create the four buffers and the two plans (measured when b_plan) for npar threads and export
// the wisdom into wisdom_sf.
void make_transforms();

// Release the buffers and plans made by make_transforms.
void free_transforms();

// Per-thread row buffers of the time step's update sweep, for up to `threads` threads (made and
// released with the transforms).
void make_sweep_rows(int threads);
void free_sweep_rows();

// xmask[x] = 1 - exp(-0.25 (nx1-x)^2) - exp(-0.25 x^2).
void compute_xmask();

// to[x][y] = from[x][y] for x = 0 .. lastx, y = 0 .. lasty.
void f_copy2darray(array2d from, array2d to, int lastx, int lasty);

// g = Re B(c * F(f)) on the persistent plans (f and g may coincide).
void spectral_filter(array2d f, array2d c, array2d g);

// The stages of one step, in their order: brackets, dissipation and update; gni; edge damping;
// ww and pe; pi; history shift.
void stage_upd();
void stage_poi1();
void stage_bnd();
void stage_pol();
void stage_poi2();
void stage_mem();

// Row of transform input: dst[y] = (src[y], 0) for y = 0 .. count-1 (by default the whole row).
inline void input_row(cplx *dst, const double *src, int count = ny) {
  for (int y = 0; y < count; y++) {
    dst[y][0] = src[y];
    dst[y][1] = 0.0;
  }
}

// Real parts of a row of transform output: dst[y] = Re src[y] for y = 0 .. count-1.
inline void real_row(double *dst, const cplx *src, int count = ny) {
  for (int y = 0; y < count; y++) dst[y] = src[y][0];
}

// The field solves of timestep(), fused: gni (left in fw_in for warm ions); edge damping, ww and
// pe (left in fw_in); pe stored and pi. Together they equal stages poi1, bnd, pol and poi2 after
// an update that has already moved the history on (ne0, ni0 equal to ne and ni; the edge damping
// acts on them too) and, for warm ions, written the new ni into fw_in as the transform input.
// Without `settle` (within a run of steps) ne0, ni0, gni and ww are left alone, and pi is not
// stored: for warm ions it is the real part of bw_out, for cold ions equal to pe.
void gyro_average_density();
void vorticity_and_potential(bool settle);
void gyro_average_potential(bool settle);

// One whole time step; adds its stage times to stage_time. Afterwards every field is exactly what
// the separate stages leave. A caller that runs another step straight after this one may set
// more_steps_follow: the step then leaves the history levels (ne0 .. ni2, fne0 .. fni2) turned
// round among their arrays instead of copying them on, hyve, hyvi unwritten for ihype = -1, gni, ww
// and pi unwritten, and the gyro-averaged potential in bw_out, which spares the passes over the grid
// ten of the fields they store and one whole pass. Until the next step without it, which puts every
// level back into its own array and stores every field, only ne, ni and pe may be read, and nothing
// but timestep may write any field or bw_out. A step reads history level 0 from ne and ni, which
// every set-up and step leaves equal to ne0 and ni0.
void timestep(bool more_steps_follow = false);

// The progress line of a run on standard error: the wall time since the stepping began (elapsed
// seconds, for steps of total steps), steps per second and the estimated time to the end.
void report_progress(long steps, long total, double elapsed);
