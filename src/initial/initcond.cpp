// Initial states of a run and the common completion of the multistep history.
//
// incon selects the start: 0 a Gaussian blob amp exp(-((x-nxh)^2 + (y-nyh)^2)/wsrc^2); 1 a
// turbulent bath, a random sum of 32 x 32 cosine modes with amplitudes amp cos(phi)/sqrt(s^4 + 1),
// s = (i^2 + j^2)/327.68; 3 two like-signed Gaussians 4 wsrc apart (vortex merger); 4 a radial
// cosine shear profile with a small five-period perturbation along y; 5 a single ky mode
// amp sin(ky y) with the nonlinearity switched off; 2 the state of "restart.dat". Any other value
// leaves ne = ni = 0. The starts that need a potential solve ww = ne - Gamma ni and pe = -P^-1 ww.
// The completion (complete_start_state) sets gni = Gamma ni, three equal history levels and
// zero past tendencies, and eno = (1/2)<exp(2 ne)>. With fixed steps the third-order update then
// starts without lower-order steps, as in earlier versions; adaptive steps start at third order
// from the state alone (scheme/step_control.cpp).
// Every process builds the rows of its slab. The bath's draws are few (1024 mode amplitudes and
// one factor per block) and global: every process takes all of them, in the same fixed order on
// one thread, and fills its rows, so the state is the same whatever the processes. With iseed = 0
// they come from the C
// library's rand, never seeded, so equal parameters give the same bath in every run on the same
// platform (the bath of earlier versions); any other iseed seeds a Mersenne twister (std::mt19937,
// whose sequence the C++ standard fixes), a different realisation for each seed that repeats bit
// for bit on every platform and thread count.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <vector>

#include "common/state.hpp"
#include "initial/initial.hpp"
#include "io/io.hpp"
#include "parallel/processes.hpp"
#include "scheme/scheme.hpp"

constexpr double twopi = 6.283185307179586;
constexpr int nbath = 32;  // bath modes per direction

// Gaussian blob of height amp and width wsrc centred on (nxh, nyh).
static void blob() {
  printf("| blob initial condition...\n");
  dr = wsrc * wsrc;
#pragma omp parallel for schedule(static)
  for (int x = slab_first; x < slab_first + slab_rows; x++) {
    const int dx = x - nxh;
    for (int y = 0; y <= ny1; y++) {
      const int dy = y - nyh;
      ne[x][y] += amp * exp(-(dx * dx) / dr) * exp(-(dy * dy) / dr);
      ni[x][y] = ne[x][y];
    }
  }
  if (vorfree == 1) spectral_solve(ne, cvfis, ni);
}

// ww = ne - Gamma ni (with gni = Gamma ni) and the potential pe = -P^-1 ww.
static void solve_potential() {
  spectral_solve(ni, cpoti, gni);
  for (int x = slab_first; x < slab_first + slab_rows; x++)
    for (int y = 0; y <= ny1; y++) ww[x][y] = -aae * ne[x][y] - aai * gni[x][y];
  spectral_solve(ww, cvort, pe);
}

// Two Gaussians of height amp, width wsrc, at x = nxh -+ 2 wsrc on the row ny1/2; ni = 0.99 ne.
static void merger() {
  printf("| merger initial condition...\n");
  vorset = 0.01;
  dr = wsrc * wsrc;
  hyd = 0.0;
  const int yc = ny1 / 2;
#pragma omp parallel for schedule(static)
  for (int x = slab_first; x < slab_first + slab_rows; x++) {
    const double d1 = x - nxh - 2.0 * wsrc;
    const double d2 = x - nxh + 2.0 * wsrc;
    const double e1 = exp(-(d1 * d1) / dr);
    const double e2 = exp(-(d2 * d2) / dr);
    for (int y = 0; y <= ny1; y++) {
      const int dy = y - yc;
      const double ey = exp(-(dy * dy) / dr);
      ne[x][y] += amp * e1 * ey;
      ne[x][y] += amp * e2 * ey;
    }
  }
  for (int x = slab_first; x < slab_first + slab_rows; x++)
    for (int y = 0; y <= ny1; y++) ni[x][y] = (1.0 - vorset) * aai * ne[x][y];
  solve_potential();
}

// Radial cosine profile (-amp at x = 0, +amp at x = nxh) plus 0.001 amp sin(10 pi y/ny); ni = 0.
static void shear_flow() {
  printf("| shear flow initial condition...\n");
#pragma omp parallel for schedule(static)
  for (int x = slab_first; x < slab_first + slab_rows; x++) {
    const double profile = amp * cos(M_PI * (x - nxh) / nxh);
    for (int y = 0; y <= ny1; y++) {
      ne[x][y] = profile + 0.001 * amp * sin(10.0 * M_PI * y / ny);
      ni[x][y] = 0.0;
    }
  }
  solve_potential();
}

// ne = amp sin(ky y) in every row, with sigma as ky; the run is made linear (clin = 0); ni = 0.
static void single_mode() {
  printf("| single ky mode initial condition...\n");
  clin = 0.0;
#pragma omp parallel for schedule(static)
  for (int x = slab_first; x < slab_first + slab_rows; x++)
    for (int y = 0; y <= ny1; y++) {
      ne[x][y] = amp * sin(y * sigma / hy);
      ni[x][y] = 0.0;
    }
  solve_potential();
}

// Random superposition of 32 x 32 cosine modes, repeated in na = (int)aspect blocks along y,
// each block with its own random factor; the bath grows with amp squared.
static void bath() {
  printf("| start bath ... ");
  int na = static_cast<int>(aspect);
  if (na == 0) na = 1;
  // Draws in 0 .. 2^31 - 1 (rand's range on glibc), from rand or from the seeded generator.
  std::mt19937 seeded(static_cast<std::mt19937::result_type>(iseed));
  auto draw = [&seeded]() { return iseed == 0 ? rand() : static_cast<int>(seeded() >> 1); };

  // Mode amplitudes: one draw per mode, i outer, j inner, before the block draws.
  static double modes[nbath + 1][nbath + 1];
  for (int i = 1; i <= nbath; i++)
    for (int j = 1; j <= nbath; j++) {
      const int r = draw();
      const double phase = (r % 50) * 0.02 * twopi;
      const double s = (i * i + j * j) * 3.125 * (1.0 / 1024.0);
      modes[i][j] = amp * cos(phase) / sqrt(pow(s, 4.0) + 1.0);
    }

  // The cosines of every mode at every row and column, computed once instead of per point.
  std::vector<double> cosx_store(static_cast<size_t>(nbath + 1) * nx), cosy_store(static_cast<size_t>(nbath + 1) * ny);
  double *cosx[nbath + 1], *cosy[nbath + 1];
  for (int i = 0; i <= nbath; i++) {
    cosx[i] = &cosx_store[static_cast<size_t>(i) * nx];
    cosy[i] = &cosy_store[static_cast<size_t>(i) * ny];
  }
  for (int i = 1; i <= nbath; i++)
    for (int x = 0; x <= nx1; x++) cosx[i][x] = cos(twopi * i * x / nx);
  for (int j = 1; j <= nbath; j++)
    for (int y = 0; y <= ny1; y++) cosy[j][y] = cos(twopi * j * na * y / ny);

  for (int b = 0; b < na; b++) {
    const int r = draw();
    const double block = cos(twopi * (r % 100) * 0.01);
    const int ys = (b * ny) / na;
    int ye = (ny / na) * (b + 1);
    if (ye > ny1) ye = ny1;
    // Every point sums its modes in the fixed order on one thread, so the field does not
    // depend on the thread count.
#pragma omp parallel for schedule(static)
    for (int x = slab_first; x < slab_first + slab_rows; x++)
      for (int y = ys; y <= ye; y++) {
        double sum = 0.0;
        for (int i = 1; i <= nbath; i++)
          for (int j = 1; j <= nbath; j++)
            sum += block * modes[i][j] * cosx[i][x] * cosy[j][y] * amp * 0.03125;
        ne[x][y] += sum;
      }
  }

  for (int x = slab_first; x < slab_first + slab_rows; x++) {
    memcpy(ni[x], ne[x], sizeof(double) * ny);
    if (chat == 0) memset(ni[x], 0, sizeof(double) * ny);
  }
  if (vorfree == 1) spectral_solve(ne, cvfis, ni);
  for (int x = slab_first; x < slab_first + slab_rows; x++) {
    memset(ww[x], 0, sizeof(double) * ny);
    memset(pe[x], 0, sizeof(double) * ny);
    memset(pi[x], 0, sizeof(double) * ny);
  }
  printf("| bath done ...\n");
}

void complete_start_state() {
  spectral_solve(ni, cpoti, gni);
  double total = 0.0;
#pragma omp parallel
  {
    double partial = 0.0;  // this thread's rows of the energy sum
#pragma omp for schedule(static)
    for (int x = slab_first; x < slab_first + slab_rows; x++)
      for (int y = 0; y <= ny1; y++) {
        ne1[x][y] = ne2[x][y] = ne[x][y];
        ni1[x][y] = ni2[x][y] = ni[x][y];
        fne1[x][y] = fne2[x][y] = 0.0;
        fni1[x][y] = fni2[x][y] = 0.0;
        partial += exp(2.0 * ne[x][y]);
      }
    // The order in which the threads add their parts is not fixed: the last bits of eno may
    // differ between runs with more than one thread.
#pragma omp atomic
    total += partial;
  }
  sum_over_processes(&total, 1);
  eno = 0.5 * xyz * total;
  fresh_history_steps();
}

double initcond() {
  if (incon == 0) blob();
  else if (incon == 1) bath();
  else if (incon == 3) merger();
  else if (incon == 4) shear_flow();
  else if (incon == 5) single_mode();
  complete_start_state();
  fflush(stdout);
  if (incon == 2) return read_continuation();
  return 0.0;
}
