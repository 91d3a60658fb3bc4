// The program's time step against the plain reference step of tests/support, over several steps
// from a state with distinct history levels, for every combination of warm and cold ions, both
// gyro-average models, every dissipation branch and every vorfree, on grids of odd and even sizes
// and on row blocks of several threads.
//
// Tolerance: the two steps do the same arithmetic in real space; they differ in the transforms
// (the program's real-to-complex pairs on measured or estimated plans, the reference's complex
// pairs) and in which spectra they reuse, so each solve differs by the round-off of an FFT, a few
// 1e-16 of the field's size, which the tables amplify up to their largest entry (chyv's k^4 and
// cvort's 1/k^2 on these boxes stay below 1e3). 1e-12 of each field's size covers three steps;
// measured: at most 1.5e-14.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>
#include <vector>

#include "scheme/scheme.hpp"
#include "support/fields.hpp"
#include "support/reference_step.hpp"
#include "support/run_setup.hpp"

namespace {

// The fields a step leaves: the state of the field table.
std::vector<const field_record *> compared_fields() {
  std::vector<const field_record *> fields;
  for (int k = 0; k < nfield_records; k++)
    if (field_table[k].role == role_state) fields.push_back(&field_table[k]);
  return fields;
}
const std::vector<const field_record *> compared = compared_fields();

std::vector<double> snapshot() {
  std::vector<double> all;
  for (const field_record *f : compared)
    for (int x = 0; x < nx; x++) all.insert(all.end(), (*f->field)[x], (*f->field)[x] + ny);
  return all;
}

void restore(const std::vector<double> &all) {
  size_t k = 0;
  for (const field_record *f : compared)
    for (int x = 0; x < nx; x++, k += ny) memcpy((*f->field)[x], &all[k], sizeof(double) * ny);
}

// Smooth fields with noise on every mode (the highest modes are where the tables of odd sizes are
// not symmetric), distinct history levels, the potentials of the densities and the program's
// dissipation of them.
void random_state(unsigned seed) {
  std::mt19937 gen(seed);
  std::uniform_real_distribution<double> noise(-0.02, 0.02);
  array2d *evolved[] = {&ne, &ni, &ne1, &ne2, &ni1, &ni2, &fne1, &fne2, &fni1, &fni2};
  unsigned k = 0;
  for (array2d *f : evolved) {
    smooth_random(*f, seed + k++, 0.1, 0.0);
    for (int x = 0; x < nx; x++)
      for (int y = 0; y < ny; y++) (*f)[x][y] += noise(gen);
  }
  reference_fields();
  derive_dissipation();
}

// `steps` steps of the reference and of the program from the same state; every field after the
// program's steps and derive_output_fields against the reference, relative to its size.
void expect_reference(int steps) {
  const std::vector<double> start = snapshot();
  for (int s = 0; s < steps; s++) reference_step();
  const std::vector<double> want = snapshot();
  restore(start);
  for (int s = 0; s < steps; s++) timestep(dt);
  derive_output_fields();
  const std::vector<double> got = snapshot();
  const size_t per_field = static_cast<size_t>(nx) * ny;
  for (size_t f = 0; f < compared.size(); f++) {
    double size = 0.0, worst = 0.0;
    size_t at = 0;
    for (size_t k = f * per_field; k < (f + 1) * per_field; k++) {
      size = fmax(size, fabs(want[k]));
      double d = fabs(got[k] - want[k]);
      if (!(d <= worst)) worst = d, at = k - f * per_field;
    }
    EXPECT_LE(worst, 1e-12 * fmax(size, 1e-3))
        << compared[f]->name << " at [" << at / ny << "][" << at % ny << "]: step " << got[f * per_field + at]
        << ", reference " << want[f * per_field + at] << ", field size " << size;
  }
}

struct Grid {
  int nx, ny, threads;
};

values19 case_values(const Grid &g, double chat_value, double taui_value, int ipade, int ihype, double vorfree) {
  values19 v = test_values();
  v[v_nx] = g.nx;
  v[v_ny] = g.ny;
  v[v_npar] = g.threads;
  v[v_chat] = chat_value;
  v[v_taui] = taui_value;
  v[v_ipade] = ipade;
  v[v_ihype] = ihype;
  v[v_vorfree] = vorfree;
  v[v_diff] = ihype == -1 ? -0.01 : 0.01;
  v[v_ly] = 6.0;
  return v;
}

void start(const values19 &v, unsigned seed) {
  start_step(v);
  compute_xmask();
  random_state(seed);
}

// Every combination on an odd grid (9 x 7) and an even one (8 x 10), three steps each.
TEST(StepAgainstReference, EveryCombination) {
  for (const Grid &g : {Grid{9, 7, 1}, Grid{8, 10, 2}})
    for (double taui_value : {1.0, 0.0})
      for (int ipade : {0, 1})
        for (int ihype : {-1, 0, 2, -5})
          for (double vorfree : {0.0, 1.0, 2.0}) {
            SCOPED_TRACE(testing::Message() << g.nx << " x " << g.ny << ", taui " << taui_value << ", ipade " << ipade
                                            << ", ihype " << ihype << ", vorfree " << vorfree);
            const double chat_value = ihype == 0 ? -0.7 : 0.7;  // both signs of b_mhw
            start(case_values(g, chat_value, taui_value, ipade, ihype, vorfree), 3);
            expect_reference(3);
          }
}

// The sweep works in row blocks, one per thread, and each row in chunks of 64 columns: blocks of
// one row, blocks that wrap onto themselves, fewer rows than threads, rows of one chunk, of a
// chunk and one column and of several chunks with a short last one.
TEST(StepAgainstReference, RowBlocksAndChunks) {
  const Grid grids[] = {{1, 6, 1}, {2, 5, 2}, {3, 4, 2}, {5, 3, 2},  {4, 2, 3},  {7, 1, 3},
                        {9, 8, 2}, {4, 64, 2}, {3, 65, 2}, {5, 130, 2}, {2, 129, 3}, {4, 200, 1}};
  for (const Grid &g : grids)
    for (int ihype : {-1, 0, 2}) {
      SCOPED_TRACE(testing::Message() << g.nx << " x " << g.ny << ", " << g.threads << " threads, ihype " << ihype);
      values19 v = case_values(g, 0.7, 1.0, 0, ihype, 2.0);
      v[v_ly] = g.ny;  // unit spacing: the dissipation's tables stay small on the long rows
      start(v, 5);
      expect_reference(2);
    }
}

}  // namespace
