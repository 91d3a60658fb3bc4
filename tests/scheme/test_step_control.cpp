// The weights of the variable-step update and the controller of the adaptive steps.
//
// The weights against what defines them: the update of order p is exact for a polynomial of
// degree p whose derivative is the right-hand side (the BDF differentiates it exactly at the new
// time, the extrapolation of its derivative of degree p - 1 is exact), for any steps; at equal
// steps they are the fixed step's constants, bit for bit. The controller against the rules of
// scheme/step_control.cpp on a run whose E x B measure the test sets.
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

#include "scheme/scheme.hpp"
#include "support/fields.hpp"
#include "support/run_setup.hpp"

namespace {

TEST(StepWeights, EqualStepsGiveTheFixedStepsConstantsBitForBit) {
  std::mt19937 gen(5);
  std::uniform_real_distribution<double> u(-8.0, 1.0);
  for (int k = 0; k < 1000; k++) {
    const double h = std::pow(10.0, u(gen));
    const step_weights w = multistep_weights(3, h, h, h);
    EXPECT_EQ(w.level[0], 18.0 / 11.0);
    EXPECT_EQ(w.level[1], 9.0 / 11.0);
    EXPECT_EQ(w.level[2], 2.0 / 11.0);
    EXPECT_EQ(w.slope[0], 3.0);
    EXPECT_EQ(w.slope[1], 3.0);
    EXPECT_EQ(w.slope[2], 1.0);
    EXPECT_EQ(w.factor, h * 6.0 / 11.0) << "h = " << h;  // as dtt = dt * 6.0 / 11.0 was formed
    if (HasFailure()) return;
  }
}

// p(t) = sum c_k t^k of degree `order`; the update from levels at 0, -h1, -h1 - h2 to h0.
TEST(StepWeights, ExactForPolynomialsOfTheirOrderWithAnySteps) {
  std::mt19937 gen(9);
  std::uniform_real_distribution<double> ratio(0.5, 2.0), coefficient(-1.0, 1.0);
  for (int order = 1; order <= 3; order++)
    for (int trial = 0; trial < 200; trial++) {
      const double h0 = 0.1, h1 = h0 * ratio(gen), h2 = h1 * ratio(gen);
      double c[4] = {0, 0, 0, 0};
      for (int k = 0; k <= order; k++) c[k] = coefficient(gen);
      auto p = [&](double t) { return ((c[3] * t + c[2]) * t + c[1]) * t + c[0]; };
      auto dp = [&](double t) { return (3 * c[3] * t + 2 * c[2]) * t + c[1]; };
      const double t[3] = {0.0, -h1, -h1 - h2};
      const step_weights w = multistep_weights(order, h0, h1, h2);
      const double got = w.level[0] * p(t[0]) - w.level[1] * p(t[1]) + w.level[2] * p(t[2]) +
                         w.factor * (w.slope[0] * dp(t[0]) - w.slope[1] * dp(t[1]) + w.slope[2] * dp(t[2]));
      EXPECT_NEAR(got, p(h0), 1e-13) << "order " << order << ", steps " << h0 << ", " << h1 << ", " << h2;
      if (HasFailure()) return;
    }
}

// A 16 x 16 run with adaptive steps whose fields stay zero: the test sets the E x B measure, and
// each step moves the history's steps on as a real one does. The limit L of a measure g is
// largest_stable_step(g).
class Controller : public testing::Test {
 protected:
  void SetUp() override {
    values19 v = test_values();
    v[v_dt] = 1.0;  // a cap far above the steps
    start_step(v, 0.5);
  }
  // The measure whose limit is `limit`.
  static double gradient_for(double limit) {
    const double exb = advection_limit / limit - drive_rate();
    const double scale = std::fabs(delinv) * 0.5 * hy * hy;
    return (exb / scale) * (exb / scale);
  }
  // One controlled step towards an event `remaining` ahead, taken.
  static double step(double gradient, double remaining) {
    const double h = controlled_step(gradient, remaining);
    timestep(h);
    return h;
  }
};

TEST_F(Controller, StartsAtThirdOrderAndGrowsByTheTable) {
  // The first step is h (h/L) of the controller's step h, at most h/4: with dt far below the
  // limit (an accurate run) and at the limit's share cfl/1.04.
  for (double cap : {0.002, 1.0}) {
    SCOPED_TRACE("dt " + std::to_string(cap));
    dt = cap;
    fresh_history_steps();
    const double limit = 0.05, g = gradient_for(limit);
    ASSERT_NEAR(largest_stable_step(g), limit, 1e-12 * limit);
    start_controller(g);
    const double wanted = std::fmin(cap, cfl * limit / 1.04);
    const double first = step(g, 1e6);
    EXPECT_NEAR(first, wanted * std::fmin(0.25, wanted / limit), 1e-8 * first);
    double previous = first;
    int steps = 1;
    for (; steps < 40 && previous < wanted * (1 - 1e-8); steps++) {
      const double h = step(g, 1e6);
      // Growth at most 1.5, and no more than the table allows at the grown step's share of L.
      const double share = h / limit, bound = share > 0.75 ? 1.1 : share > 0.6 ? 1.2 : share > 0.27 ? 1.4 : 1.5;
      EXPECT_LE(h / previous, bound + 1e-12) << "share " << share;
      previous = h;
    }
    EXPECT_NEAR(stepping.nominal, wanted, 1e-15) << "after " << steps << " steps";
    EXPECT_LE(steps, 17);
  }
}

TEST_F(Controller, KeepsTheStepInsideTheBandShrinksAtOnceGrowsBoundedly) {
  const double limit = 0.05;
  start_controller(gradient_for(limit));
  for (int k = 0; k < 40; k++) step(gradient_for(limit), 1e6);
  const double settled = stepping.nominal;
  ASSERT_NEAR(settled, cfl * limit / 1.04, 1e-15);
  // The limit moves by less than the band, 4 % either way: the step stays.
  for (double change : {1.03, 0.99, 1.035, 0.97})
    EXPECT_EQ(controlled_step(gradient_for(limit * change), 1e6), stepping.h1) << "limit times " << change;
  // The limit falls below the step's share: the step falls at once, to cfl L / 1.04.
  const double lower = 0.02;
  step(gradient_for(lower), 1e6);
  EXPECT_NEAR(stepping.nominal, cfl * lower / 1.04, 1e-15);
  // The limit rises threefold: the step grows, by at most the table's ratio per step, to cfl L / 1.04.
  double previous = stepping.h1;
  for (int k = 0; k < 40; k++) {
    const double h = step(gradient_for(3 * lower), 1e6);
    EXPECT_LE(h / previous, 1.5 + 1e-12);
    EXPECT_LE(h, cfl * 3 * lower / 1.04 * (1 + 1e-12));
    previous = h;
  }
  EXPECT_NEAR(stepping.nominal, cfl * 3 * lower / 1.04, 1e-15);
}

TEST_F(Controller, LandsOnEveryEventInEqualSteps) {
  const double limit = 0.05, g = gradient_for(limit);
  start_controller(g);
  for (int k = 0; k < 40; k++) step(g, 1e6);
  const double nominal = stepping.nominal;
  // Events at irregular distances, each after steps of the controller's length: each is reached
  // exactly, in equal steps no longer than the controller's and, from a distance of one step on,
  // no shorter than half of it.
  for (double distance : {1.0, 0.5 * nominal, 1.3 * nominal, 2.0 * nominal, 0.7314}) {
    SCOPED_TRACE("distance " + std::to_string(distance));
    for (int k = 0; k < 5; k++) step(g, 1e6);  // back to the controller's step after a short one
    double remaining = distance, first = 0.0;
    int count = 0;
    while (remaining > 0) {
      const double h = step(g, remaining);
      if (count == 0) first = h;
      EXPECT_LE(h, nominal * (1 + 1e-9));
      EXPECT_NEAR(h, first, 1e-12 * first);
      if (distance >= nominal) {
        EXPECT_GE(h, 0.5 * nominal);
      }
      remaining = h == remaining ? 0.0 : remaining - h;
      ASSERT_LT(++count, 100000);
    }
    EXPECT_NEAR(first * count, distance, 1e-12 * distance);
  }
}

}  // namespace
