// Two-dimensional snapshots: byte for byte the printf text of every point with the empty line
// after each row, no temporary file left behind, and the previous snapshot kept whole when
// writing the new one fails.
#include <sys/stat.h>

#include <random>

#include "diagnostics/diag_fixture.hpp"
#include "diagnostics/writers.hpp"

namespace {

// The expected text of a snapshot of f: "%d  %d  %.6e\n" per point, an empty line per row.
template <typename Value>
std::string snapshot_text(Value f) {
  std::string text;
  for (int x = 0; x < nx; x++) {
    for (int y = 0; y < ny; y++) text += format("%d  %d  %.6e\n", x, y, f(x, y));
    text += "\n";
  }
  return text;
}

// Fill ne and pe with values of every size, including extremes that give the longest lines.
void fill_random(unsigned seed) {
  std::mt19937 random(seed);
  std::uniform_real_distribution<double> mantissa(-1.0, 1.0);
  std::uniform_int_distribution<int> exponent(-12, 12);
  for (int x = 0; x < nx; x++)
    for (int y = 0; y < ny; y++) {
      ne[x][y] = mantissa(random) * std::pow(10.0, exponent(random));
      pe[x][y] = mantissa(random) * std::pow(10.0, exponent(random));
    }
  pe[0][0] = ne[0][0];  // pe - ne is exactly zero here
  ne[nx - 1][ny - 1] = -9.9999996e-300;
}

struct snapshot_case {
  int nx, ny, threads;
};

class Snapshots : public DiagTest, public testing::WithParamInterface<snapshot_case> {};

}  // namespace

TEST_P(Snapshots, EqualThePrintfTextOfEveryPoint) {
  values19 v = test_values();
  v[v_nx] = GetParam().nx;
  v[v_ny] = GetParam().ny;
  v[v_npar] = GetParam().threads;
  fftw_init_threads();
  start(v);
  fill_random(11);
  diagnose(0.0, 0.0, 0, 10, state_output_fields());

  const std::string n2d = read_text("n2d.dat");
  EXPECT_EQ(n2d, snapshot_text([](int x, int y) { return ne[x][y]; }));
  EXPECT_EQ(read_text("w2d.dat"), snapshot_text([](int x, int y) { return lap_pe[x][y]; }));
  EXPECT_EQ(read_text("p2d.dat"), snapshot_text([](int x, int y) { return pe[x][y]; }));
  const std::string i2d = read_text("i2d.dat");
  EXPECT_EQ(i2d, snapshot_text([](int x, int y) { return pe[x][y] - ne[x][y]; }));
  EXPECT_EQ(lines_of(n2d).size(), size_t(nx) * (ny + 1));
  EXPECT_EQ(i2d.substr(0, i2d.find('\n')), "0  0  0.000000e+00");
  for (const char *name : {"n2d0.dat", "w2d0.dat", "p2d0.dat", "i2d0.dat"})
    EXPECT_FALSE(std::filesystem::exists(name)) << "temporary file " << name << " left behind";
}

// 2 by 3 (eight lines), and 33 rows, one more than the rows formatted together, by one thread
// and by two (the rows are formatted in parallel, the text must not change).
INSTANTIATE_TEST_SUITE_P(Grids, Snapshots,
                         testing::Values(snapshot_case{2, 3, 1}, snapshot_case{33, 5, 1}, snapshot_case{33, 5, 2}),
                         [](const testing::TestParamInfo<snapshot_case> &p) {
                           return std::to_string(p.param.nx) + "x" + std::to_string(p.param.ny) + "_threads" +
                                  std::to_string(p.param.threads);
                         });

namespace {

// How the writing of the new snapshot is made to fail.
enum failure_kind { open_fails, write_fails };

class SnapshotFailure : public DiagTest, public testing::WithParamInterface<failure_kind> {};

}  // namespace

// A temporary file that cannot be opened or written stops the run with a "|" line naming it,
// and none of the previous snapshot files is replaced.
TEST_P(SnapshotFailure, KeepsThePreviousSnapshot) {
  if (GetParam() == write_fails && access("/dev/full", W_OK) != 0) GTEST_SKIP() << "no /dev/full";
  values19 v = test_values();
  v[v_nx] = 40;  // big enough to overflow the write buffer of /dev/full
  v[v_ny] = 40;
  start(v);
  fill_random(3);
  diagnose(0.0, 0.0, 0, 10, state_output_fields());
  std::map<std::string, std::string> before;
  for (const char *name : {"n2d.dat", "w2d.dat", "p2d.dat", "i2d.dat"}) before[name] = read_text(name);

  std::string message;
  if (GetParam() == open_fails) {
    ASSERT_EQ(mkdir("p2d0.dat", 0755), 0);
    message = "\\| cannot open \"p2d0\\.dat\"";
  } else {
    std::filesystem::create_symlink("/dev/full", "w2d0.dat");
    message = "\\| writing \"w2d0\\.dat\" failed";
  }
  fill_random(4);
  share_directory_with_child();
  EXPECT_EXIT(
      {
        enter_parent_directory();
        diagnose(1.0, 0.0, 0, 10, state_output_fields());
      },
      testing::ExitedWithCode(1), message);
  for (const auto &file : before) EXPECT_TRUE(read_text(file.first) == file.second) << file.first << " was replaced";
}

INSTANTIATE_TEST_SUITE_P(Kinds, SnapshotFailure, testing::Values(open_fails, write_fails),
                         [](const testing::TestParamInfo<failure_kind> &p) { return p.param == open_fails ? "Open" : "Write"; });
