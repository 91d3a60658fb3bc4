// Global grid state and run constants of a tavo run.
//
// Every field is an nx by ny array of doubles indexed [x][y], x = 0 .. nx1, y = 0 .. ny1, made
// for the run's grid by allocate_fields at start-up (see allocate_fields.cpp for the layout). A
// field is a view: f[x] is the row pointer, so f[x][y] is a point, and copying the view copies
// no data. A process holds the rows of its slab (parallel/processes.hpp) and two halo rows on
// each side of them, each under its grid row number x. Run constants are written only by initpar
// (and by the two start modes that change clin and hyd).
#pragma once

#include <fftw3.h>

#include <cstddef>

// One field: row x starts at base + x*stride (stride >= ny, in doubles).
struct array2d {
  double *base;
  std::ptrdiff_t stride;
  double *operator[](int x) const { return base + x * stride; }
};
typedef fftw_complex cplx;  // spectral buffer element: (real, imaginary)

// ---- parameters read from "tavo.inp" (values 1 .. 19) ----
extern double chat;     // parallel coupling C (adiabaticity), |value 1|
extern bool b_mhw;      // couple only deviations from the row average (value 1 not negative)
extern double taui;     // ion temperature ratio tau_i, |value 2|
extern double xlwl;     // gyro-radius dependence of the Pade polarisation: 1 on, 0 off
extern double delinv;   // bracket weight 1/delta (1 / value 3)
extern double diff;     // dissipation coefficient nu
extern double incon;    // start mode: 0 blob, 1 bath, 2 restart, 3 merger, 4 shear flow, 5 ky mode
extern double sigma;    // width of the initial perturbation (length units), ky for incon = 5
extern double amp;      // amplitude of the initial perturbation
extern double vorfree;  // 1: vorticity-free start, 2: radial edge damping in every step
extern double ly;       // box length along y
extern int nx;          // grid points along x (first index)
extern int ny;          // grid points along y (second index)
extern double dt;       // time step
extern int itstp;       // steps between diagnostics calls
extern int itmax;       // total number of steps
extern int ntrace;      // probe sample spacing in steps
extern int ipade;       // gyro-average model: 0 Pade, 1 gamma0
extern int ihype;       // dissipation: -1 Laplacian, 0 biharmonic, 1/2/4/8 spectral k^2p
extern bool b_plan;     // measured FFT plans (value 18 exactly 1)
extern int npar;        // threads

// ---- optional values 20 .. 23 of "tavo.inp" (defaults when a file holds only nineteen) ----
extern int nframe;      // outputs between two frames of the field history "tavo.nc", 0 none
extern int nckpt;       // outputs between two checkpoints "restart.dat", 0 only at the end
extern int iseed;       // seed of the bath's random start, 0 the fixed unseeded sequence
extern double cfl;      // adaptive step: each step cfl times the largest stable one (at most dt); 0 every step dt

// ---- derived run constants ----
extern double hy;          // grid points per unit length (inverse spacing), ny/ly
extern double wsrc;        // perturbation width in grid spacings, sigma*hy
extern double aspect;      // nx/ny
extern double clin;        // weight of the nonlinear (bracket) terms, 1 or 0
extern int maxtrace;       // probe samples per trace
extern bool printtraces;   // analyse the probe traces at the end (ntrace > 0)
extern int nxh, nyh;       // half sizes nx/2, ny/2
extern int nx1, ny1;       // last used indices nx-1, ny-1
extern double hysq;        // stencil factor hy^2/12
extern double hyd;         // centred y difference factor hy/2 (0 when chat = 0)
extern double xyz;         // 1/(nx*ny)
extern double dtt;         // dt*6/11, step factor of the multistep update at equal steps of dt
extern double ddtt;        // itstp*dt, length of one output interval

// ---- species constants ----
constexpr double taue = -1.0;  // electron temperature factor
constexpr double mue = 0.0;    // electron mass factor
constexpr double mui = 1.0;    // ion mass factor
constexpr double aae = -1.0;   // electron weight in the polarisation
constexpr double aai = 1.0;    // ion weight in the polarisation
constexpr double zze = -1.0;   // electron charge sign
constexpr double zzi = 1.0;    // ion charge sign

// ---- evolved densities and derived fields ----
extern array2d ne;    // electron density n_e
extern array2d ni;    // ion gyrocentre density N_i
extern array2d pe;    // electrostatic potential phi
extern array2d pi;    // gyro-averaged potential Gamma phi
extern array2d gni;   // gyro-averaged ion density Gamma N_i
extern array2d ww;    // vorticity (polarisation density) n_e - Gamma N_i

// ---- multistep history: the older levels 1, 2 and the right-hand sides of the last steps ----
// Level 0 is ne, ni themselves; the right-hand side of the newest step is fne1, fni1.
extern array2d ne1, ne2, ni1, ni2;
extern array2d fne1, fne2, fni1, fni2;

// ---- dissipation terms ----
extern array2d hyve, hyvi;    // D(ne1), D(ni1): the dissipation of the last step (output only)
extern array2d vis_e, vis_i;  // first Laplacian of the biharmonic branch
extern array2d dis_e, dis_i;  // spectral dissipation D(ne), D(ni) that the next step applies (ihype > 0)

// ---- Fourier-space coefficient tables (include N = 1/(nx*ny)) ----
// Each holds the part of the half spectrum (ky >= 0) that this process holds, in its layout
// (spectrum_rows() by spectrum_columns(), parallel/processes.hpp), and at every wavenumber the
// symmetric part (c(k) + c(-k))/2 of the coefficient: what the real part of a complex filter
// applies, and so what a real transform multiplies by (setup/tables.cpp).
extern double *cvfis;  // N/G: inverse gyro-average
extern double *cpoti;  // N*G: gyro-average
extern double *cvort;  // -N/P: potential from vorticity (0 at k = 0)
extern double *clap;   // -k^2 N: Laplacian
extern double *chyv;   // (k^2)^p N: hyper-dissipation

// ---- running means of the wavenumber spectra (k = 0 .. nx/2 for pkxavg, 0 .. ny/2 for the others) ----
extern double *pkxavg, *pkyavg, *pkyavgn, *pkyavgw, *pkyavge;

// ---- profiles along x (nx entries each) ----
extern double *xmask;   // radial damping profile used when vorfree = 2
extern double *neprof;  // y-average of ne for each row x (diagnostics)
extern double *peprof;  // y-average of pe for each row x (diagnostics)

// ---- diagnostics work field ----
extern array2d lap_pe;  // Laplacian of pe in Fourier space, the vorticity of all outputs

// ---- the table of the fields: every field above, once, in the storage block's order ----
// state: what a step leaves for the next one and for the output (the contract of scheme/scheme.hpp);
// work: terms a step or an output forms for itself.
enum field_role { role_state, role_work };
struct field_record {
  array2d *field;
  const char *name;
  field_role role;
  bool checkpointed = false;  // held by the full-precision checkpoint "restart.nc": what the next step reads
};
extern const field_record field_table[];
extern const int nfield_records;

// The rows [*lo, *hi) of thread t of `threads` among the rows [first, first + rows): the static
// partition of the update sweep, in which allocate_fields first touches the fields.
inline void thread_rows(int first, int rows, int t, int threads, int *lo, int *hi) {
  *lo = first + static_cast<int>(static_cast<long>(rows) * t / threads);
  *hi = first + static_cast<int>(static_cast<long>(rows) * (t + 1) / threads);
}

// Doubles from one row of a field to the next for rows of `columns` values: whole 64-byte lines,
// an odd number of them and at least three, so never a power of two (see allocate_fields.cpp).
std::ptrdiff_t field_stride(int columns);

// Bytes of the one block allocate_fields makes on a gridx by gridy grid for `rows` rows and tables
// of `table_elements` values: every field of the field table, every profile and the five tables.
size_t field_block_bytes(int rows, int gridx, int gridy, long table_elements);

// Allocate every field for the grid rows [first, first + rows) of the current nx, ny (a process's
// slab: parallel/processes.hpp), the profiles, and the five coefficient tables of `table_elements`
// values each, zeroed, releasing those of an earlier grid. Returns 0, or the bytes of the block
// when they cannot be had (nothing is then allocated).
size_t allocate_fields(int first, int rows, long table_elements);

// Whether allocate_fields has made the fields (and free_fields not yet released them).
bool fields_allocated();

// Release what allocate_fields made (the views become empty).
void free_fields();

// ---- scalars that change during the run ----
extern double eno;          // density energy of the previous diagnostics call
extern double enwo;         // vorticity energy of the previous call (growth rate)
extern int jnull_old;       // previous zero crossing along y (single ky mode)
extern double vde_avg;      // running mean of the single mode's phase speed
extern double vorset;       // merger: fraction by which ni lies below ne
extern double dr;           // squared width of the blob and merger Gaussians
