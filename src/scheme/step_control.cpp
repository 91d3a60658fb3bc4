// The length of each step with adaptive steps (cfl > 0): cfl times the largest stable step of the
// state, at most dt, landing on every output and probe sample.
//
// What limits the step. With the parallel coupling and the dissipation implicit (timestep.cpp),
// the explicit terms are the E x B advection and the gradient drive, both on the imaginary axis,
// where the step's explicit extrapolation is stable up to |h z| = 0.634 (advection_limit); the
// implicit damping only widens that (to 0.65 at h x = 0.1 and 0.81 at 1, x its rate). So
//   largest stable step L = advection_limit / (exb + drive),
//   exb   = max |grad phi| hy / delta, from the potential of the state (stability.cpp),
//   drive = the fastest frequency of the explicit drive on a mode, max over the half spectrum of
//           hy |sin(ky/hy)| max((1 - Gamma^2)/P, Gamma^2/(1 + P)): (1 - Gamma^2)/P without the
//           coupling, Gamma^2/(1 + P) where it makes the electrons adiabatic (warm ions give it a
//           rate that grows like taui ky at large ky; for cold ions it is ky/(1 + k^2) <= 1/2),
// and, where the dissipation amplifies (diff D(k) < 0, a user's choice), the implicit step stays
// accurate only while h times that rate is below growth_limit. The sum of exb and drive counts a
// mode with both at once (the two are imaginary; drive is at most 1/2 for cold ions, small beside
// the drift of developed turbulence). On the linear modes of the Hasegawa-Wakatani model this L
// lies 3 to 6 % below the largest stable step of the whole step (drive explicit, coupling implicit,
// C 0.1 to 5), for warm ions (taui 1 and 3, both gyro-average forms) up to 30 % below.
//
// The E x B measure max |grad phi|^2 is taken by the sweep of every step (which reads phi anyway)
// and reduced over the processes together with the stop signal, once per step: so the step after
// a sweep uses the potential that sweep started from, one step old. The flow moves less than
// 0.634 cfl grid cells in a step, and its largest gradient changes by a small fraction of the
// band below in one step; the start measures the initial potential.
//
// The controller. D = cfl L is the step wanted. The step stays constant inside a band of
// (1 + band)^2 below D and moves only when it leaves it: above D it shrinks at once to
// D/(1 + band); below D/(1 + band)^2 it grows towards D/(1 + band), by at most the ratio q of
// the table below per step. Equal steps keep the equal-step weights of the update, so most steps
// take the same weights; the steps stay within cfl of the limit. The growth bound: under steps that
// grow by q every step, the variable-step update is stable on the imaginary axis only up to a
// fraction of 0.634 (computed from its characteristic polynomial at steps h, h/q, h/q^2):
//   q          1.02  1.05  1.1   1.2   1.3   1.4   1.5   (1.65: not zero-stable at all)
//   fraction   0.98  0.947 0.888 0.756 0.613 0.457 0.278
// so a step grows by the largest q whose fraction is not exceeded by the grown step's share of L
// (fast far below the limit, slowly near it). Shrinking, even by a large factor, does no harm once.
//
// Landing. Outputs, probe samples and the end lie at fixed times (multiples of dt from t0). The
// step is the remaining time to the next of them divided by the number of steps it takes there:
// ceil(remaining / step), so the shortening is spread over the whole interval and the last step
// lands exactly. Events lie at least dt apart and the step is at most dt, so a step shrinks to no
// less than half the controller's.
//
// The start at third order. A history that holds only the state (a fresh run, a continuation
// from "restart.dat", or from a checkpoint of the other way to step) starts with a first-order
// step, then a second-order one, then third order, each with its variable-step weights. Their
// local errors are O(h1^2) and O(h2^3). A bounded number of steps with local error O(h^3) keeps a
// third-order method third order, so the second step could be as long as the run's, but the
// first must be shorter: h1 = h (h/L) (at most h/4, at least h/1000), O(h^2), whose local error
// O(h^4) is that of a third-order step. Then the steps grow by the table's ratios to the
// controller's step (at most 17 steps). (h1 = h sqrt(h/L), local error O(h^3), is third order
// too, but its error is of the size of the whole run's: on a linear mode the error at t = 1 fell
// only 6.2 to 6.7-fold per halving of h down to h = 0.00125, against 8.0 with h (h/L).)
#include <cmath>

#include "parallel/processes.hpp"
#include "scheme/scheme.hpp"

step_state stepping;
double sweep_gradient;

const double growth_limit = 0.5;  // h times an amplifying dissipation rate, for accuracy
static const double band = 0.04;

// Growth ratios and the share of the limit L up to which the update stays stable when every step
// grows by that ratio (rounded down from the table in the head), largest first.
static const double growth_ratio[] = {1.5, 1.4, 1.3, 1.2, 1.1, 1.05, 1.02};
static const double growth_share[] = {0.27, 0.45, 0.6, 0.75, 0.88, 0.94, 0.97};

void fresh_history_steps() {
  stepping.h1 = stepping.h2 = dt;
  stepping.levels = cfl > 0 ? 1 : 3;
}

void discard_history() {
  for (int x = slab_first; x < slab_first + slab_rows; x++)
    for (int y = 0; y <= ny1; y++) {
      ne1[x][y] = ne2[x][y] = ne[x][y];
      ni1[x][y] = ni2[x][y] = ni[x][y];
      fne1[x][y] = fne2[x][y] = fni1[x][y] = fni2[x][y] = 0.0;
    }
  fresh_history_steps();
}

double largest_stable_step(double gradient) {
  const double rate = exb_of_gradient(gradient) + drive_rate();
  double limit = rate > 0 ? advection_limit / rate : INFINITY;
  const double amplifying = amplifying_rate();
  if (amplifying > 0) limit = std::fmin(limit, growth_limit / amplifying);
  return limit;
}

// The largest ratio by which the step h may grow when the limit is `limit` (1: none).
static double growth_bound(double h, double limit) {
  for (size_t k = 0; k < sizeof growth_ratio / sizeof growth_ratio[0]; k++)
    if (growth_ratio[k] * h <= growth_share[k] * limit) return growth_ratio[k];
  return 1.0;
}

void start_controller(double gradient) {
  stepping.gradient = sweep_gradient = gradient;  // what the first step's reduction gives
  stepping.shortest = INFINITY;
  stepping.longest = 0.0;
  stepping.count = 0;
  if (cfl <= 0) {
    stepping.nominal = dt;
    return;
  }
  const double limit = largest_stable_step(gradient);
  const double wanted = std::fmin(dt, cfl * limit / (1 + band));
  if (stepping.levels >= 3) {
    // A history of known steps: go on from its last step, growing as the table allows.
    stepping.nominal = std::fmin(wanted, stepping.h1 * growth_bound(stepping.h1, limit));
    return;
  }
  // The first step of a start at third order (see the head).
  const double share = std::isfinite(limit) ? wanted / limit : 0.0;
  stepping.nominal = wanted * std::fmin(0.25, std::fmax(1e-3, share));
}

double controlled_step(double gradient, double remaining) {
  stepping.gradient = gradient;
  double h = stepping.nominal;
  // The first step of a start at third order is the one start_controller chose.
  if (cfl > 0 && stepping.levels > 1) {
    const double limit = largest_stable_step(gradient);
    const double wanted = cfl * limit;
    const double growth = growth_bound(stepping.h1, limit);
    if (h > wanted) h = wanted / (1 + band);
    else if (h < wanted / ((1 + band) * (1 + band)) && h < dt) h = std::fmin(wanted / (1 + band), stepping.h1 * growth);
    stepping.nominal = h = std::fmin(h, dt);
    // After a step shortened to land on an event the step grows back by the table too.
    h = std::fmin(h, stepping.h1 * growth);
  }
  // Land on the event: the remaining time in equal steps of at most h.
  const double steps = std::ceil(remaining / h - 1e-9);
  return steps > 1 ? remaining / steps : remaining;
}

void record_step(double h) {
  stepping.shortest = std::fmin(stepping.shortest, h);
  stepping.longest = std::fmax(stepping.longest, h);
  stepping.count++;
}

interval_steps output_interval_steps() {
  const interval_steps record{stepping.nominal, stepping.shortest, stepping.longest, stepping.count};
  stepping.shortest = INFINITY;
  stepping.longest = 0.0;
  stepping.count = 0;
  return record;
}

void resume_controller() { sweep_gradient = stepping.gradient; }
