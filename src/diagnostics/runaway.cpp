// The runaway stop: a state whose density energy is not finite, or has grown since the last output
// by more than any physical growth allows, ends the run before anything of it is written.
//
// The specified crash check of the diagnostics stops only on a NaN or a collapsed enn; a state
// that has blown up to 1e86 or to inf passes it and would be written into every series, the
// field history and the next checkpoint. This check runs before each output:
//   - E = E_K + enn not finite (inf or NaN), or
//   - E grown since the last output that passed by more than exp(margin g Dt), with Dt the time
//     since that output, margin 5 and g the fastest rate at which any linear term can grow E.
// Of the linear rates the start-up check computes, the parallel coupling and the dissipation only
// move energy between n and phi or remove it (their rates, up to 1/dt, bound no growth: taken as
// the bound they would let a factor e^200 pass), and the E x B drift conserves it. The only source
// is the density-gradient drive, whose rate bounds every growth: with the drive
//   Gamma = delinv^2 <-ne Dy pe - taui ni Dy pi>,  |Dy pi| <= |grad pe| (the gyro-average),
// Cauchy-Schwarz gives Gamma <= sqrt(delinv (1 + taui)) (enn + E_K), so dE/dt <= g E with
//   g = sqrt(|delinv| (1 + taui))      (1 for the Hasegawa-Wakatani model),
// the fastest linear growth rate of the energy; the margin 5 on top of it covers the discrete
// differences. Fast linear growth (drift waves grow at a fraction of g) and the strongest
// turbulent bursts stay far below the bound; a numerical instability of dt crosses it within a
// few outputs. The exponent is capped at 700 (a factor 1e304); beyond that only the finite test
// applies. The start's E is no reference (some starts leave the potential to the first step, and
// a blob with ni = ne gains E_K at once), so the first output after the start is checked for
// finiteness only; the growth test begins with the second.
// Every process checks (the energies are sums over every process's rows), so every process stops
// at the same output. It prints the two crash lines of the specified crash stop, a line that says
// what ran away, and the likely cause with the rates of the last output that passed, so that its
// dt is one a user can take; then the run ends with status 1, as after the specified crash stop. The check comes
// before the call's output and before any checkpoint, so the last good "restart.dat" stays.
#include "diagnostics/runaway.hpp"

#include <fftw3.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "parallel/processes.hpp"
#include "scheme/scheme.hpp"

const double runaway_margin = 5.0;

// The last output that passed: its time, energy E and E x B rate (valid once `seen`).
static bool seen = false;
static double t_passed = 0.0, energy_passed = 0.0, exb_passed = 0.0;

double runaway_rate() { return std::sqrt(std::fabs(delinv) * (1.0 + std::fabs(taui))); }

double runaway_factor(double interval) {
  return std::exp(std::min(runaway_margin * runaway_rate() * std::fabs(interval), 700.0));
}

// enn and E_K as the diagnostics compute them (centred differences of pe), over every process's
// rows: every process gets the same values.
static void energies(array2d ne, array2d ni, array2d pe, double *enn, double *enk) {
  exchange_halos({pe});  // rows x-1, x+1 beyond the slab
  double sum_n = 0.0, sum_k = 0.0;
#pragma omp parallel for schedule(static) reduction(+ : sum_n, sum_k)
  for (int x = slab_first; x < slab_first + slab_rows; x++) {
    for (int y = 0; y <= ny1; y++) {
      const int yp = y == ny1 ? 0 : y + 1, ym = y == 0 ? ny1 : y - 1;
      const double dx = 0.5 * hy * (pe[x + 1][y] - pe[x - 1][y]), dy = 0.5 * hy * (pe[x][yp] - pe[x][ym]);
      sum_n += ne[x][y] * ne[x][y] + taui * ni[x][y] * ni[x][y];
      sum_k += dx * dx + dy * dy;
    }
  }
  double sums[2] = {sum_n, sum_k};
  sum_over_processes(sums, 2);
  *enn = delinv * (xyz * 0.5 * sums[0]);
  *enk = delinv * delinv * (xyz * 0.5 * sums[1]);
}

void stop_on_runaway(double t, double t0, int itmax, array2d ne, array2d ni, array2d pe) {
  double enn, enk;
  energies(ne, ni, pe, &enn, &enk);
  const double energy = enn + enk;
  const bool finite = std::isfinite(energy);
  const double bound = seen ? runaway_factor(t - t_passed) : 0.0;
  if (finite && !(seen && energy_passed > 0 && energy > bound * energy_passed)) {
    seen = true;
    t_passed = t;
    // The start's state may hold no potential yet (the first step solves it) or one that does not
    // match its densities, so its E is no reference: the growth test begins after the first output.
    energy_passed = t == t0 ? 0.0 : energy;
    exb_passed = exb_rate(pe);
    return;
  }
  // The lines of the specified crash stop.
  const double t_end = static_cast<double>(itmax) * dt + t0;
  printf("\n|t=%.3f (%.2f): enn=%.3e\n", t, t_end, enn);
  printf("|TAVO CRASHED!  enn=%.3e,   eno=%.3e\n", enn, eno);
  fflush(stdout);
  if (finite)
    fprintf(stderr,
            "| the energy ran away: E_K + enn grew from %.3e at t = %g to %.3e at t = %g, by a factor %.3g, more "
            "than the bound %.3g of any physical growth (exp(%g g T) with the drive's rate g = %.3g over T = %g); "
            "nothing of this state was written\n",
            energy_passed, t_passed, energy, t, energy / energy_passed, bound, runaway_margin, runaway_rate(),
            t - t_passed);
  else
    fprintf(stderr, "| the energy is not finite (E_K + enn = %g at t = %g); nothing of this state was written\n",
            energy, t);
  // Named like a blow-up to inf, with the rates of the last output that passed.
  if (seen) fputs(crash_cause(HUGE_VAL, exb_passed, t_passed).c_str(), stderr);
  fftw_cleanup_threads();
  stop_all_processes(1);
}
