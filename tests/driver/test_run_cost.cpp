// What runs cost: the estimate of tavo --check from the nearest of this machine's cost records,
// else from the nearest row of the generated cost table, with its source named; and a run that
// records its own cost, which --check then names.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "driver/driver.hpp"
#include "support/dirs.hpp"
#include "support/run_setup.hpp"

namespace {

// A cost table in the layout scripts/example-costs writes (two rows of 2 threads, one of 1, one
// row without a time).
const char *const table_text =
    "| example | grid | steps | threads | wall time | per step | peak memory | output | commit | date | load |\n"
    "|---|---|---|---|---|---|---|---|---|---|---|\n"
    "| [small](small/README.md) | 128 × 128 | 8000 | 2 | 2.9 s | 0.4 ms | 30 MB | 29 MB | 85dc360 | 2026-12-11 | 1.67 |\n"
    "| [large](large/README.md) | 1024 × 1024 | 400 | 2 | 80.0 s | 200 ms | 1332 MB | 2011 MB | ffd43ac | 2026-12-11 | 1.37 |\n"
    "| [alone](alone/README.md) | 512 × 512 | 100 | 1 | 1.0 s | 10 ms | 1 MB | 1 MB | ffd43ac | 2026-12-11 | 1.37 |\n"
    "| [scan](scan/README.md) | five runs | | | not measured | | | | | | |\n";

// Records of 256 x 256 with 2 threads and with 1, and of 64 x 64 with 2.
const char *const records_text =
    "# nx ny threads processes ns-per-point-and-step ns-per-point-and-output steps outputs\n"
    "256 256 2 1 20 400 1000 10\n"
    "256 256 1 1 35 500 1000 10\n"
    "64 64 2 1 50 900 100 1\n";

TEST(RunCost, EstimateFromTheNearestRecordElseTheTable) {
  const std::string dir = make_temp_dir(), records = dir + "/costs", table = dir + "/COSTS.md";
  write_text(table, table_text);
  struct estimate_case {
    const char *what;
    bool with_records;
    int grid, threads;
    double seconds;      // of 100 steps and 2 outputs
    const char *source;  // part of the named source
  };
  const double ns = 1e-9;  // s per ns
  const estimate_case cases[] = {
      {"the record of the same grid and threads", true, 256, 2, 65536 * (100 * 20 + 2 * 400) * ns,
       "as the last run of 256 x 256 with 2 threads measured on this machine"},
      {"of the same threads, the nearest grid", true, 100, 2, 10000 * (100 * 50 + 2 * 900) * ns,
       "last run of 64 x 64 with 2 threads"},
      {"another thread count only when none has it, the nearest", true, 256, 4,
       65536 * (100 * 20 + 2 * 400) * ns, "last run of 256 x 256 with 2 threads"},
      {"no records: the table's nearest row of the same threads", false, 256, 2,
       65536 * 100 * (0.4e-3 / 16384), "the example small (128 x 128 with 2 threads) in the generated table"},
      {"no records: the table's only row of one thread", false, 256, 1, 65536 * 100 * (10e-3 / 262144),
       "the example alone"},
  };
  for (const estimate_case &c : cases) {
    SCOPED_TRACE(c.what);
    if (c.with_records) write_text(records, records_text);
    else std::filesystem::remove(records);
    const run_cost cost = estimate_run_cost(c.grid, c.grid, c.threads, 1, 100, 2, records, table);
    EXPECT_NEAR(cost.seconds, c.seconds, 1e-9 * c.seconds);
    EXPECT_NE(cost.source.find(c.source), std::string::npos) << cost.source;
  }
  const run_cost none = estimate_run_cost(256, 256, 2, 1, 100, 2, records, dir + "/missing.md");
  EXPECT_EQ(none.seconds, 0.0);
  EXPECT_EQ(none.source, "");
  remove_test_dir(dir);
}

// A run of 4 steps in 2 outputs records its cost in the cache directory; --check names it.
TEST(RunCostRecord, ARunRecordsItsCostAndCheckNamesIt) {
  const std::string cache = make_temp_dir(), dir = make_temp_dir();
  setenv("XDG_CACHE_HOME", cache.c_str(), 1);
  values19 v = test_values();
  v[v_itmax] = 4;
  v[v_itstp] = 2;
  std::string console;
  EXPECT_EQ(run_in(dir, v, &console), 0) << console;
  const std::string command = "cd '" + dir + "' && '" + tavo_program() + "' --check > check.txt 2>&1";
  const int status = system(command.c_str());
  setenv("XDG_CACHE_HOME", TAVO_TEST_CACHE, 1);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);

  const auto rows = rows_of(read_text(cache + "/tavo/costs"));
  ASSERT_EQ(rows.size(), 3u) << "two comment lines and the record";
  const std::vector<double> &record = rows[2];
  ASSERT_EQ(record.size(), 8u);
  EXPECT_EQ(record[0], 16);  // nx, ny, threads, processes
  EXPECT_EQ(record[1], 16);
  EXPECT_EQ(record[2], 1);
  EXPECT_EQ(record[3], 1);
  EXPECT_GT(record[4], 0.0);  // the step's and the output's cost per point
  EXPECT_GT(record[5], 0.0);
  EXPECT_EQ(record[6], 4);  // steps, outputs
  EXPECT_EQ(record[7], 2);
  const std::string check = read_text(dir + "/check.txt");
  EXPECT_NE(check.find("as the last run of 16 x 16 with 1 thread measured on this machine (" + cache + "/tavo/costs)"),
            std::string::npos)
      << check;
  std::filesystem::remove_all(cache);
  remove_test_dir(dir);
}

}  // namespace
