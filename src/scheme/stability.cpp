// The rates that limit the explicit time step, checked against the limits of the scheme.
//
// The step n+ = (18 n0 - 9 n1 + 2 n2)/11 + (6/11) dt (3 f0 - 3 f1 + f2 - diff D(n0)) extrapolates
// the right-hand side f but takes the dissipation at level 0 only. For dn/dt = z n its roots then
// stay within the unit circle for dt z in f on the negative real axis down to -40/42 = -0.952
// (parallel coupling), on the imaginary axis up to |dt z| = 0.634 (advection: the E x B drift),
// and for dt z in the dissipation down to -4.5. Every term is explicit, so each one alone must
// keep dt times its largest rate below its limit:
//   coupling     C (1 + 1/P(k)) at the smallest coupled wavenumber (the longer box side; along y
//                only in the modified model, whose zonal parts are not coupled), read from cvort;
//   dissipation  |diff| |D(k)| at the grid's largest |k|, the corners (+-kx_max, +-ky_max): the
//                spectral factor from chyv, the fourth-order Laplacian's symbol
//                (hy^2/12)(32 cos t - 2 cos 2t - 30) per direction (squared for ihype 0);
//   E x B drift  max |grad phi| hy / delta, centred differences, from the potential at hand.
// The start-up check and the cause named after a crash use the same rates; the cause is a constant
// term beyond its limit, else the term nearest to its limit at the last good output.
//
// The terms act together on one Fourier mode, and the region of the scheme is no rectangle: a mode
// with both coupling and drift, dt z = -x + i y, is unstable well inside the two single limits. The
// start-up check therefore also takes each term's rate on the two modes where they meet worst and
// finds the largest stable dt from the roots of the step's characteristic polynomial
//   11 r^3 - (18 + 18 w - 6 q) r^2 + (9 + 18 w) r - (2 + 6 w) = 0,   w = dt z, q = dt (dissipation)
// (combined_limit): the smallest coupled wavenumber, with its coupling and its share k/hy of the
// drift rate, and the grid's corner, with the coupling there, the whole drift rate and the largest
// dissipation. The drift is that of the starting potential; a start that has none yet (the bath and
// the blob leave it zero until the first step) is checked with the potential its densities imply.
// The drift of developed turbulence is not known at the start and may exceed that of the start:
// the check is one of the starting state, and the crash stop names the term that was nearest to
// its limit at the last good output. (The examples start at 0.55 to 0.97 of the combined limit and
// hold; runs at 0.9 of a single-term limit have blown up once the turbulence developed, so no fixed
// fraction of the limit is safe for every case.)
#include <cmath>
#include <complex>
#include <cstdio>
#include <string>

#include "common/state.hpp"
#include "operators/operators.hpp"
#include "parallel/processes.hpp"
#include "scheme/scheme.hpp"
#include "setup/setup.hpp"

const double coupling_limit = 40.0 / 42.0;
const double dissipation_limit = 4.5;
const double advection_limit = 0.634;

double coupling_rate(double *k) {
  *k = 0.0;
  // Index of the smallest coupled wavenumber: (0, 1) along y, (1, 0) along x.
  int i = 0, j = 0;
  if (b_mhw || ny >= nx) j = ny > 1 ? 1 : 0;
  if (j == 0 && !b_mhw && nx > 1) i = 1;
  if (i == 0 && j == 0) return 0.0;  // every mode is zonal or the mean: nothing is coupled
  *k = 6.283185307179586 * hy * (i == 1 ? 1.0 / nx : 1.0 / ny);
  return chat * (1.0 - table_point(i, j).cvort / xyz);  // cvort = -N/P
}


// |D(k)| of the dissipation operator at the grid's largest |k| (the rate without |diff|).
static double dissipation_symbol(double *k) {
  // The largest |index| along each direction is n/2 for even and odd sizes alike.
  const double tx = 6.283185307179586 * (nx / 2) / nx, ty = 6.283185307179586 * (ny / 2) / ny;
  *k = hy * std::sqrt(tx * tx + ty * ty);
  const double lap = laplace_symbol(tx) + laplace_symbol(ty);
  if (ihype == -1) return std::fabs(lap);
  if (ihype == 0) return std::fabs(lap * lap);
  if (ihype == 1 || ihype == 2 || ihype == 4 || ihype == 6 || ihype == 8)
    return std::fabs(table_point(nx / 2, ny / 2).chyv / xyz);
  return 0.0;
}

double dissipation_rate(double *k) { return std::fabs(diff) * dissipation_symbol(k); }

double potential_gradient(array2d phi) {
  exchange_halos({phi});  // rows x-1 and x+1 beyond the slab
  double largest = 0.0;   // squared gradient
  const int first = slab_first, end = slab_first + slab_rows;
#pragma omp parallel for schedule(static) reduction(max : largest)
  for (int x = first; x < end; x++) {
    for (int y = 0; y <= ny1; y++) {
      const int yp = y == ny1 ? 0 : y + 1, ym = y == 0 ? ny1 : y - 1;
      const double dx = phi[x + 1][y] - phi[x - 1][y], dy = phi[x][yp] - phi[x][ym];
      largest = std::fmax(largest, dx * dx + dy * dy);
    }
  }
  return largest_of_all(largest);
}

// The centred differences are (hy/2)(phi[+1] - phi[-1]).
double exb_of_gradient(double gradient) { return clin * std::fabs(delinv) * 0.5 * hy * std::sqrt(gradient) * hy; }

double exb_rate(array2d phi) { return exb_of_gradient(potential_gradient(phi)); }

double start_gradient() {
  const double gradient = potential_gradient(pe);
  if (gradient > 0.0 || clin == 0.0) return gradient;
  // No potential yet (the bath, the blob): the one the densities imply, in lap_pe, which the
  // first diagnostics call overwrites before it reads it.
  spectral_solve(ni, cpoti, lap_pe);
  for (int x = slab_first; x < slab_first + slab_rows; x++)
    for (int y = 0; y <= ny1; y++) lap_pe[x][y] = -aae * ne[x][y] - aai * lap_pe[x][y];
  spectral_solve(lap_pe, cvort, lap_pe);
  return potential_gradient(lap_pe);
}

static double drive = 0.0, amplifying = 0.0;

double drive_rate() { return drive; }
double amplifying_rate() { return amplifying; }

void measure_explicit_rates() {
  // Per mode of the half spectrum: the drive -hyd (phi[y+1] - phi[y-1]) is -i 2 hyd sin(ky/hy)
  // times phi, and phi = -(1/P)(ne - Gamma ni); see step_control.cpp for the two limits.
  const double unnormalised = static_cast<double>(nx) * ny;
  const int columns = spectrum_columns();
  double rates[2] = {0.0, 0.0};
  for (int r = 0; r < spectrum_rows(); r++)
    for (int c = 0; c < columns; c++) {
      const int y = spectrum_transposed ? ky_first + r : c;
      const size_t at = static_cast<size_t>(r) * columns + c;
      const double inverse_p = -cvort[at] * unnormalised;
      const double gamma = taui > 0 ? gamma_half[at] : 1.0;
      const double frequency = 2.0 * hyd * std::fabs(std::sin(6.283185307179586 * y / ny));
      const double response = std::fmax((1.0 - gamma * gamma) * inverse_p, gamma * gamma * inverse_p / (1.0 + inverse_p));
      rates[0] = std::fmax(rates[0], frequency * response);
      if (damping_half) rates[1] = std::fmax(rates[1], -damping_half[at]);
    }
  largest_of_all(rates, 2);
  drive = rates[0];
  amplifying = rates[1];
}

// The largest modulus of the roots of the step's characteristic polynomial for dt z = w and dt
// times the dissipation rate q (Durand-Kerner iteration on the monic cubic).
static double largest_root(std::complex<double> w, double q) {
  using cd = std::complex<double>;
  const cd a2 = -(18.0 + 18.0 * w - 6.0 * q) / 11.0, a1 = (9.0 + 18.0 * w) / 11.0, a0 = -(2.0 + 6.0 * w) / 11.0;
  auto p = [&](cd r) { return ((r + a2) * r + a1) * r + a0; };
  cd r[3] = {cd(0.4, 0.9), cd(0.4, 0.9) * cd(0.4, 0.9), cd(0.4, 0.9) * cd(0.4, 0.9) * cd(0.4, 0.9)};
  for (int iteration = 0; iteration < 500; iteration++) {
    double moved = 0.0;
    for (int k = 0; k < 3; k++) {
      cd denominator = 1.0;
      for (int j = 0; j < 3; j++)
        if (j != k) denominator *= r[k] - r[j];
      if (std::abs(denominator) == 0.0) denominator = 1e-300;
      const cd step = p(r[k]) / denominator;
      r[k] -= step;
      moved = std::fmax(moved, std::abs(step));
    }
    if (moved < 1e-14) break;
  }
  return std::fmax(std::abs(r[0]), std::fmax(std::abs(r[1]), std::abs(r[2])));
}

double combined_limit(double coupling, double advection, double dissipation) {
  if (!(coupling >= 0 && advection >= 0 && dissipation >= 0) ||
      !std::isfinite(coupling + advection + dissipation))
    return 0.0;
  if (coupling + advection + dissipation == 0.0) return INFINITY;
  auto stable = [&](double step) {
    return largest_root(step * std::complex<double>(-coupling, advection), step * dissipation) <= 1.0 + 1e-9;
  };
  // The single limits bound the combined one from above; bisect below the smallest of them.
  double high = INFINITY;
  if (coupling > 0) high = std::fmin(high, coupling_limit / coupling);
  if (advection > 0) high = std::fmin(high, advection_limit / advection);
  if (dissipation > 0) high = std::fmin(high, dissipation_limit / dissipation);
  high *= 1.000001;
  double low = 0.0;
  for (int k = 0; k < 60; k++) {
    const double middle = 0.5 * (low + high);
    (stable(middle) ? low : high) = middle;
  }
  return low;
}

// The largest stable dt of the modes where the terms meet worst, with E x B rate exb (see above).
static double start_limit(double exb) {
  double k_low;
  const double low = coupling_rate(&k_low);
  const double share = k_low > 0 && k_low < hy ? k_low / hy : 1.0;
  double k_high;
  const double dissipation = dissipation_rate(&k_high);
  // The coupling at the grid's corner, C (1 + 1/P): never zonal, so coupled in both models.
  const double high = chat == 0 ? 0.0 : chat * (1.0 - table_point(nx / 2, ny / 2).cvort / xyz);
  return std::fmin(combined_limit(low, share * exb, 0.0), combined_limit(std::fmax(high, 0.0), exb, dissipation));
}

// x rounded down to three significant digits, so a value printed as stable is below the limit.
static double round_down(double x) {
  if (!(x > 0) || !std::isfinite(x)) return x;
  const double unit = std::pow(10.0, std::floor(std::log10(x)) - 2);
  return std::floor(x / unit) * unit;
}

// Name of the dissipation operator chosen by ihype.
static std::string dissipation_name() {
  if (ihype == -1) return "Laplacian dissipation";
  if (ihype == 0) return "biharmonic dissipation";
  const int power = ihype == 8 ? 12 : ihype == 6 ? 6 : 2 * ihype;
  return "dissipation diff k^" + std::to_string(power);
}

const double held_cfl = 0.8, recommended_cfl = 0.5;

std::string stability_warnings(double exb) {
  std::string text;
  char line[400];
  if (cfl > 0) {
    // The coupling and the dissipation are implicit; the controller keeps the explicit terms
    // within their limit. What is left to say is how close to it the steps go.
    if (cfl > held_cfl) {
      snprintf(line, sizeof line,
               "| warning: cfl = %g takes every step within %.3g of the largest stable one; developed turbulence "
               "has been run up to cfl = %g (the largest stable step is estimated from the potential of the "
               "state, one step old): a run may blow up, use cfl %g or less for long runs\n",
               cfl, 1 - cfl, held_cfl, held_cfl);
      text += line;
    }
    return text;
  }
  double k;
  const double coupling = coupling_rate(&k);
  if (dt * coupling > coupling_limit) {
    snprintf(line, sizeof line,
             "| warning: dt = %g is too large for the parallel coupling: dt C (1 + 1/P(k)) = %.3g at its "
             "smallest coupled wavenumber k = %.4g exceeds the limit %.3g of the time step; dt below %.3g is stable\n",
             dt, dt * coupling, k, coupling_limit, round_down(coupling_limit / coupling));
    text += line;
  }
  const double dissipation = dissipation_rate(&k);
  if (dt * dissipation > dissipation_limit) {
    // The bounds from the operator's symbol, so that a rate beyond the largest double (diff 1e308)
    // still gives the |diff| that is stable; a dt bound below the smallest normal double says nothing.
    const double dt_bound = round_down(dissipation_limit / dissipation);
    const double diff_bound = round_down(dissipation_limit / (dt * dissipation_symbol(&k)));
    char bounds[120];
    if (dt_bound >= 1e-300)
      snprintf(bounds, sizeof bounds, "dt below %.3g or |diff| below %.3g is stable", dt_bound, diff_bound);
    else
      snprintf(bounds, sizeof bounds, "|diff| below %.3g is stable", diff_bound);
    snprintf(line, sizeof line,
             "| warning: dt = %g is too large for the %s: dt |diff D(k)| = %.3g at the grid's largest wavenumber "
             "|k| = %.4g exceeds the limit %.3g of the time step; %s\n",
             dt, dissipation_name().c_str(), dt * dissipation, k, dissipation_limit, bounds);
    text += line;
  }
  if (dt * exb > advection_limit) {
    snprintf(line, sizeof line,
             "| warning: dt = %g is too large for the ExB drift of the initial state: dt max|grad phi| hy/delta = %.3g "
             "exceeds the limit %.3g of the time step; dt below %.3g is stable\n",
             dt, dt * exb, advection_limit, round_down(advection_limit / exb));
    text += line;
  }
  const double together = start_limit(exb);
  if (text.empty() && dt > together) {
    snprintf(line, sizeof line,
             "| warning: dt = %g is too large for the parallel coupling, the ExB drift of the initial state and the "
             "dissipation together: each is within its own limit, but on one mode they leave the stability region "
             "of the time step; dt below %.3g is stable\n",
             dt, round_down(together));
    text += line;
  }
  return text;
}

void check_stability(double exb) { fputs(stability_warnings(exb).c_str(), stderr); }

std::string crash_cause(double enn, double exb, double t_good) {
  char line[400];
  if (std::isfinite(enn)) {
    snprintf(line, sizeof line,
             "| likely cause: the fields decayed to zero (enn below 1e-16), no instability: a start that leaves "
             "them zero, or a dissipation that damped everything\n");
    return line;
  }
  if (cfl > 0) {
    // The steps followed the largest stable step of the explicit terms; the state outran them.
    const double limit = advection_limit / (exb + drive_rate());
    snprintf(line, sizeof line,
             "| likely cause: the steps too close to the largest stable one (cfl = %g: each step %g of it; at the "
             "last good output, t = %g, the E x B drift and the drive allowed %.3g) or a fast growth of the state "
             "itself: try cfl = %.2g\n",
             cfl, cfl, t_good, limit, std::fmin(recommended_cfl, 0.7 * cfl));
    return line;
  }
  // Each term's dt times its rate as a fraction of its limit. A constant term beyond its limit
  // makes the state grow until the drift follows, so it comes first; else the largest.
  double k;
  const double rates[3] = {coupling_rate(&k), dissipation_rate(&k), exb};
  const double limits[3] = {coupling_limit, dissipation_limit, advection_limit};
  const std::string names[3] = {"the parallel coupling", "the " + dissipation_name(), "the ExB drift"};
  auto share_of = [&](int p) { return dt * rates[p] / limits[p]; };
  int worst = share_of(1) > share_of(0) ? 1 : 0;
  if (share_of(worst) <= 1 && share_of(2) > share_of(worst)) worst = 2;
  const double share = share_of(worst);
  // The stable dt; when the rate is beyond the doubles (diff 1e308), the stable |diff| instead.
  const double dt_bound = round_down(limits[worst] / rates[worst]);
  char bound[160];
  if (dt_bound >= 1e-300 || worst != 1)
    snprintf(bound, sizeof bound, "dt below %.3g would be stable", dt_bound);
  else
    snprintf(bound, sizeof bound, "|diff| below %.3g would be stable",
             round_down(dissipation_limit / (dt * dissipation_symbol(&k))));
  if (share > 0.5 && worst == 2)
    snprintf(line, sizeof line,
             "| likely cause: %s, whose rate times dt was %.3g times the limit of the time step at the last "
             "good output (t = %g); %s, or let the steps follow the drift with cfl = %g (value 23)\n",
             names[worst].c_str(), share, t_good, bound, recommended_cfl);
  else if (share > 0.5)
    snprintf(line, sizeof line,
             "| likely cause: %s, whose rate times dt was %.3g times the limit of the time step at the last "
             "good output (t = %g); %s\n",
             names[worst].c_str(), share, t_good, bound);
  else
    snprintf(line, sizeof line,
             "| likely cause: a fast growth of the state itself; at the last good output (t = %g) every rate was "
             "within the limits of the time step (the largest, %s, at %.3g of its limit): try a smaller dt\n",
             t_good, names[worst].c_str(), share);
  return line;
}
