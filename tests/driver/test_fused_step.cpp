// The fused time step (history shift inside the update sweep, field passes merged between the
// transforms) against the separate stages run one after another: the fields must agree bit for
// bit, in every configuration that changes which passes are fused.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>
#include <vector>

#include "driver/driver.hpp"
#include "support/run_setup.hpp"

namespace {

array2d *const state_fields[] = {&ne,  &ni,  &pe,   &pi,   &gni,  &ww,   &ne0,  &ne1,  &ne2,  &ni0,
                                 &ni1, &ni2, &fne0, &fne1, &fne2, &fni0, &fni1, &fni2, &hyve, &hyvi};
const char *const state_names[] = {"ne",  "ni",  "pe",   "pi",   "gni",  "ww",   "ne0",  "ne1",  "ne2",  "ni0",
                                   "ni1", "ni2", "fne0", "fne1", "fne2", "fni0", "fni1", "fni2", "hyve", "hyvi"};
std::vector<double> snapshot() {
  std::vector<double> all;
  for (array2d *f : state_fields)
    for (int x = 0; x <= nx1; x++) all.insert(all.end(), (*f)[x], (*f)[x] + ny);
  return all;
}

void restore(const std::vector<double> &all) {
  size_t k = 0;
  for (array2d *f : state_fields)
    for (int x = 0; x <= nx1; x++, k += ny) memcpy((*f)[x], &all[k], sizeof(double) * ny);
}

// A random state with distinct history levels, consistent derived fields.
void random_state(unsigned seed) {
  std::mt19937 gen(seed);
  std::uniform_real_distribution<double> u(-0.1, 0.1);
  array2d *evolved[] = {&ne, &ni, &ne1, &ne2, &ni1, &ni2, &fne1, &fne2, &fni1, &fni2};
  for (array2d *f : evolved)
    for (int x = 0; x <= nx1; x++)
      for (int y = 0; y <= ny1; y++) (*f)[x][y] = u(gen);
  f_copy2darray(ne, ne0, nx1, ny1);
  f_copy2darray(ni, ni0, nx1, ny1);
  stage_poi1();
  stage_pol();
  stage_poi2();
}

// Set up the run of v with the random state of seed, as the driver does before its first step.
void start_random_run(const values19 &v, unsigned seed) {
  clear_state();
  setup_run(v);
  compute_xmask();
  dtt = dt * 6.0 / 11.0;
  random_state(seed);
}

// The fields that may be read between the steps of a run of steps (probe traces). The others are
// checked through them: the next step's ne and ni depend on pi, and on gni through pe.
const char *const visible_names[] = {"ne", "ni", "pe"};
constexpr int visible_fields = 3;  // the first entries of state_fields

std::vector<double> visible_snapshot() {
  std::vector<double> all = snapshot();
  all.resize(static_cast<size_t>(visible_fields) * nx * ny);
  return all;
}

// The first difference between two snapshots, as a test failure naming the field and point.
void expect_same_bits(const std::vector<double> &staged, const std::vector<double> &fused, const char *const *names) {
  ASSERT_EQ(staged.size(), fused.size());
  const size_t per_field = static_cast<size_t>(nx) * ny;
  for (size_t k = 0; k < staged.size(); k++)
    if (memcmp(&staged[k], &fused[k], sizeof(double)) != 0) {
      ADD_FAILURE() << names[k / per_field] << " at point " << k % per_field << ": fused " << fused[k]
                    << ", staged " << staged[k] << ", difference " << fused[k] - staged[k];
      break;
    }
}

// From a run set up with random_state: `steps` steps as the separate stages, then from the same
// start as many steps of timestep(); the fields must agree bit for bit. With `turning`, every
// step but the last is told that more steps follow, as the driver does within an output interval:
// after each step the fields that may be read between steps must agree, and after the last one
// every field.
void expect_fused_equals_staged(int steps, bool turning = false) {
  const std::vector<double> start = snapshot();
  std::vector<std::vector<double>> staged_steps;
  for (int s = 0; s < steps; s++) {
    stage_upd();
    stage_poi1();
    stage_bnd();
    stage_pol();
    stage_poi2();
    stage_mem();
    staged_steps.push_back(visible_snapshot());
  }
  const std::vector<double> staged = snapshot();

  restore(start);
  for (int s = 0; s < steps; s++) {
    timestep(turning && s + 1 < steps);
    SCOPED_TRACE(testing::Message() << "after step " << s + 1 << " of " << steps);
    expect_same_bits(staged_steps[s], visible_snapshot(), visible_names);
  }
  expect_same_bits(staged, snapshot(), state_names);
}

struct Case {
  const char *name;
  double chat, taui, vorfree, ihype;
};

// The parameters of a case on a 24 x 20 grid (nx1 = 23: the edge damping acts on several rows).
values19 case_values(const Case &c) {
  values19 v = test_values();
  v[v_nx] = 24;
  v[v_ny] = 20;
  v[v_chat] = c.chat;
  v[v_taui] = c.taui;
  v[v_vorfree] = c.vorfree;
  v[v_ihype] = c.ihype;
  v[v_diff] = c.ihype == -1 ? -0.01 : 0.01;
  v[v_ly] = 10.0;
  return v;
}

TEST(FusedStep, EqualsSeparateStagesBitForBit) {
  const Case cases[] = {
      {"warm ions, Laplacian", 1.0, 1.0, 0, -1},   {"cold ions, biharmonic", 0.5, 0.0, 0, 0},
      {"row averages off, k^4", -0.7, 2.0, 0, 2},   {"edge damping, warm", 1.0, 1.0, 2, -1},
      {"edge damping, cold", -1.0, 0.0, 2, 4},     {"no dissipation", 1.0, 0.5, 1, -5},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    start_random_run(case_values(c), 7);
    expect_fused_equals_staged(3);
  }
}

// The update of timestep() works row by row in blocks of rows, one block per thread, reading the
// old densities of the rows next to a block from copies, and each row in chunks of 64 columns.
// Each grid point's arithmetic is that of the separate stages whatever the blocks and chunks, so
// the fields must agree bit for bit for blocks of one row, blocks that wrap onto themselves, grids
// with fewer rows than threads, and rows of one chunk, of a chunk and one column, and of several
// chunks with a short last one.
struct Grid {
  int nx, ny, threads;
  double ihype;
};

// The parameters of a grid on a box of length 3 with the grid's threads and dissipation.
values19 grid_values(const Grid &g) {
  values19 v = test_values();
  v[v_nx] = g.nx;
  v[v_ny] = g.ny;
  v[v_npar] = g.threads;
  v[v_ihype] = g.ihype;
  v[v_diff] = g.ihype == -1 ? -0.01 : 0.01;
  v[v_ly] = 3.0;
  return v;
}

TEST(FusedStep, RowBlocksOfAnySizeGiveTheSameFields) {
  const Grid grids[] = {{1, 6, 1, -1}, {2, 5, 1, -1}, {3, 4, 2, -1}, {5, 3, 2, -1}, {4, 2, 3, -1}, {7, 1, 3, -1},
                        {2, 9, 3, -1}, {9, 8, 2, -1}, {16, 12, 3, -1}, {13, 10, 2, 0},  {11, 12, 2, 2},  {6, 7, 3, -3},
                        {4, 64, 2, -1}, {3, 65, 2, -1}, {5, 130, 2, -1}, {2, 129, 3, 0}, {4, 200, 1, 2}, {3, 66, 2, -3}};
  for (const Grid &g : grids) {
    SCOPED_TRACE(testing::Message() << g.nx << " x " << g.ny << ", " << g.threads << " threads, ihype " << g.ihype);
    start_random_run(grid_values(g), 11);
    expect_fused_equals_staged(2);
  }
}

// Within an output interval the driver tells each step but the last that more steps follow: the
// older history levels then move on by turning round between two arrays each, the gyro-averaged
// potential stays in a transform buffer, and the last step puts everything back. Runs of one to
// seven steps end from every turn, with and without dissipation stored, warm and cold ions, and
// edge damping (which then acts on level 0 in ne and ni alone).
TEST(FusedStep, StepsThatMoreStepsFollowEndInTheSameFields) {
  const Case cases[] = {
      {"warm ions, Laplacian", 1.0, 1.0, 0, -1},  {"cold ions, biharmonic", 0.5, 0.0, 0, 0},
      {"edge damping, warm", 1.0, 1.0, 2, -1},    {"edge damping, cold, k^8", -1.0, 0.0, 2, 4},
      {"no dissipation", 1.0, 0.5, 1, -5},
  };
  for (const Case &c : cases)
    for (int steps = 1; steps <= 7; steps++) {
      SCOPED_TRACE(testing::Message() << c.name << ", " << steps << " steps");
      start_random_run(case_values(c), 5);
      expect_fused_equals_staged(steps, true);
    }
}

// The same with the row blocks of several threads and rows of several chunks, where each thread
// keeps its dissipation rows and a ring of potential rows in its own buffers (on grids of one and
// two rows the ring holds the same row more than once).
TEST(FusedStep, StepsThatMoreStepsFollowWithRowBlocksAndChunks) {
  const Grid grids[] = {{1, 6, 1, -1}, {2, 5, 2, -1}, {3, 4, 2, -1},  {7, 1, 3, -1},
                        {9, 8, 2, -1}, {5, 130, 2, -1}, {4, 200, 3, -1}};
  for (const Grid &g : grids) {
    SCOPED_TRACE(testing::Message() << g.nx << " x " << g.ny << ", " << g.threads << " threads");
    start_random_run(grid_values(g), 13);
    expect_fused_equals_staged(4, true);
  }
}

}  // namespace
