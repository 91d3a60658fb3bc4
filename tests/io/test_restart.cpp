// The restart file: its exact text (the printf formats of the header and point lines), the round
// trip of every stored array to seven digits with pi rebuilt, records in any order
// and repeated, partial files, and the stops on files the writer cannot have produced or on a
// failed write, which must leave the previous "restart.dat" intact.
#include <gtest/gtest.h>
#include <unistd.h>
#include <sys/stat.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "common/state.hpp"
#include "initial/initial.hpp"
#include "io/io.hpp"
#include "operators/operators.hpp"
#include "support/dirs.hpp"
#include "support/fields.hpp"
#include "support/poisson.hpp"
#include "support/run_setup.hpp"

namespace {

array2d gyro_pe;  // the gyro-average of the restored potential
[[maybe_unused]] const bool registered = register_test_fields({&gyro_pe});

// The stored arrays in the order of columns 4 .. 14.
array2d *const stored[11] = {&pe, &ne, &ne1, &ne2, &ni, &ni1, &ni2, &fne1, &fne2, &fni1, &fni2};

// A value of every sign and magnitude for column c at (x, y): exponents from -300 to +300,
// zeros, and mantissas that round up to the next power of ten at six decimals.
double sample(int x, int y, int c) {
  const int n = (x * 31 + y) * 11 + c;
  switch (n % 7) {
    case 0: return 0.0;
    case 1: return -9.9999996 * std::pow(10.0, n % 40 - 20);
    case 2: return 1.2345675e-300 * (1 + n % 3);
    case 3: return -4.9406564584124654e-324 * (1 + n % 5);  // subnormal
    default: return (n % 2 ? -1 : 1) * (1.0 + 0.618033988749895 * (n % 13)) * std::pow(10.0, (n * 37) % 601 - 300);
  }
}

// The state with sample values in every stored array, eno set.
void fill_state(double eno_value) {
  for (int c = 0; c < 11; c++)
    for (int x = 0; x <= nx1; x++)
      for (int y = 0; y <= ny1; y++) (*stored[c])[x][y] = sample(x, y, c);
  eno = eno_value;
}

// Text of v through printf with format.
std::string printed(const char *format, double v) {
  char text[64];
  snprintf(text, sizeof text, format, v);
  return text;
}

// The value the file carries for v: v rounded to seven significant digits.
double rounded(double v) { return strtod(printed("%.6e", v).c_str(), nullptr); }

// The used extent of f, row by row.
std::vector<double> used(const array2d f) {
  std::vector<double> values;
  for (int x = 0; x <= nx1; x++) values.insert(values.end(), f[x], f[x] + ny);
  return values;
}

// Runs each test in a fresh temporary directory on a small grid with an empty state.
class RestartFile : public TempDirTest {
 protected:
  void use_grid(int n) {
    values19 v = test_values();
    v[v_nx] = v[v_ny] = n;
    setup_run(v);
    clear_state();
  }
  void SetUp() override {
    TempDirTest::SetUp();
    if (HasFatalFailure()) return;
    use_grid(4);
  }
  // readrestart with its console text captured.
  double read_back(std::string *console) {
    testing::internal::CaptureStdout();
    const double t = readrestart();
    fflush(stdout);
    *console = testing::internal::GetCapturedStdout();
    return t;
  }
};

// The file is exactly what the printf formats "%5e  \n" and the fourteen-column point line make
// of the state, x outer and y inner, and no temporary file is left behind.
TEST_F(RestartFile, TextIsThePrintfFormatsInGridOrder) {
  fill_state(-3.14159265e-7);
  writerestart(12.5);
  std::string want;
  char line[512];
  snprintf(line, sizeof line, "%5e  \n", 12.5);
  want += line;
  for (int x = 0; x <= 3; x++)
    for (int y = 0; y <= 3; y++) {
      snprintf(line, sizeof line,
               "%d  %d  %.6e  %.6e  %.6e  %.6e  %.6e  %.6e  %.6e  %.6e  %.6e  %.6e  %.6e  %.6e\n", x, y, eno,
               pe[x][y], ne[x][y], ne1[x][y], ne2[x][y], ni[x][y], ni1[x][y], ni2[x][y], fne1[x][y], fne2[x][y],
               fni1[x][y], fni2[x][y]);
      want += line;
    }
  const std::string got = read_text("restart.dat");
  EXPECT_EQ(got.substr(0, 16), "1.250000e+01  \n0");
  EXPECT_EQ(got, want);
  EXPECT_FALSE(std::filesystem::exists("restart.dat.tmp"));
}

// Write, clear, read: every stored array comes back as its seven-digit rounding, eno and the
// time too; pi is the gyro-average of the restored pe (against the reference's complex solve).
TEST_F(RestartFile, RoundTripRestoresTheState) {
  use_grid(16);
  fill_state(0.123456789);
  for (int x = 0; x <= nx1; x++)
    for (int y = 0; y <= ny1; y++) pe[x][y] = std::sin(0.7 * x + 0.3 * y) + 0.01 * x;  // smooth for pi
  std::vector<double> before[11];
  for (int c = 0; c < 11; c++) before[c] = used(*stored[c]);
  writerestart(3.25);
  clear_state();
  eno = 0;

  std::string console;
  EXPECT_EQ(read_back(&console), 3.25);
  EXPECT_EQ(console, "| continued data set... \n");
  EXPECT_EQ(eno, rounded(0.123456789));
  int wrong = 0;
  for (int c = 0; c < 11; c++)
    for (int x = 0; x <= nx1; x++)
      for (int y = 0; y <= ny1; y++) {
        const double orig = before[c][size_t(x) * ny + y], want = rounded(orig), got = (*stored[c])[x][y];
        if (!(got == want) && wrong++ < 5)
          ADD_FAILURE() << "column " << c + 4 << " at (" << x << ", " << y << "): got " << got << ", expected "
                        << want << " (written " << orig << "), difference " << got - want;
        if (orig != 0) {
          EXPECT_LE(std::fabs(got - orig), 5e-7 * std::fabs(orig)) << "seven digits";
        }
      }
  poisson(pe, &table_values::cpoti, gyro_pe);
  expect_field("pi = Gamma pe", pi, gyro_pe, 1e-13 * max_abs(gyro_pe));
}

// The records of a file split into lines (header first).
std::vector<std::string> lines_of(const std::string &text) {
  std::vector<std::string> lines;
  size_t start = 0, end;
  while ((end = text.find('\n', start)) != std::string::npos) {
    lines.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return lines;
}

// A copy of every stored array and eno.
struct snapshot {
  std::vector<double> fields[11];
  double eno_value;
};
snapshot take_snapshot() {
  snapshot s;
  for (int c = 0; c < 11; c++) s.fields[c] = used(*stored[c]);
  s.eno_value = eno;
  return s;
}

// Records name their own points: reversed records give the state of the file order; a repeated
// point (and eno) takes its last record; the line structure does not matter.
TEST_F(RestartFile, RecordsInAnyOrderAndRepeated) {
  fill_state(2.5);
  writerestart(1.0);
  const std::vector<std::string> lines = lines_of(read_text("restart.dat"));
  ASSERT_EQ(lines.size(), 17u);
  std::string console;
  clear_state();
  read_back(&console);
  const snapshot in_order = take_snapshot();

  std::string reversed = lines[0] + "\n";
  for (size_t k = lines.size() - 1; k >= 1; k--) reversed += lines[k] + "\n";
  write_text("restart.dat", reversed);
  clear_state();
  read_back(&console);
  const snapshot backwards = take_snapshot();
  for (int c = 0; c < 11; c++) EXPECT_EQ(backwards.fields[c], in_order.fields[c]) << "column " << c + 4;
  EXPECT_EQ(backwards.eno_value, in_order.eno_value);

  // Point (1, 2) once more before and once more after its own record, all on one line with tabs.
  const std::string early = "1  2  7.0  1 2 3 4 5 6 7 8 9 10 11";
  const std::string late = "1\t2\t9.5e-1\t-1 -2 -3 -4 -5 -6 -7 -8 -9 -10 -11";
  std::string repeated = lines[0] + " " + early;
  for (size_t k = 1; k < lines.size(); k++) repeated += "  " + lines[k];
  repeated += "\t" + late + "\n";
  write_text("restart.dat", repeated);
  clear_state();
  EXPECT_EQ(read_back(&console), 1.0);
  EXPECT_EQ(console, "| continued data set... \n") << "every point is named";
  EXPECT_EQ(eno, 0.95) << "eno of the last record";
  for (int c = 0; c < 11; c++)
    for (int x = 0; x <= 3; x++)
      for (int y = 0; y <= 3; y++) {
        const double want = x == 1 && y == 2 ? -(c + 1.0) : in_order.fields[c][size_t(x) * ny + y];
        EXPECT_EQ((*stored[c])[x][y], want) << "column " << c + 4 << " at (" << x << ", " << y << ")";
      }
}

// A file naming only some points is accepted with a line saying so; the other points keep
// their values (zero). A header-only file restores nothing. A token longer than the read buffer
// is read in full.
TEST_F(RestartFile, PartialFilesAreReported) {
  std::string console;
  write_text("restart.dat", "4.000000e+00  \n3  1  5.0  1 2 3 4 5 6 7 8 9 10 11\n0 0 6.0 1 1 1 1 1 1 1 1 1 1 1\n");
  EXPECT_EQ(read_back(&console), 4.0);
  EXPECT_EQ(console, "| continued data set... \n| restart.dat holds 2 of 16 grid points\n");
  EXPECT_EQ(eno, 6.0);
  EXPECT_EQ(ne[3][1], 2.0);
  EXPECT_EQ(fni2[3][1], 11.0);
  EXPECT_EQ(ne[0][0], 1.0);
  EXPECT_EQ(ne[2][2], 0.0);

  clear_state();
  eno = 0.25;
  write_text("restart.dat", "+7.500000e+00  \n");  // strtod's forms, such as a leading '+', are numbers
  EXPECT_EQ(read_back(&console), 7.5);
  EXPECT_EQ(console, "| continued data set... \n| restart.dat holds 0 of 16 grid points\n");
  EXPECT_EQ(eno, 0.25) << "no record, eno unchanged";

  // A start time written with three million digits: longer than the reader's first buffer.
  write_text("restart.dat", "12.5" + std::string(3000000, '0') + "\n");
  EXPECT_EQ(read_back(&console), 12.5);
}

// Run statement in a child whose standard output goes to the captured standard error.
#define EXPECT_STOP(statement, pattern)                  \
  EXPECT_EXIT(                                           \
      {                                                  \
        fflush(stdout);                                  \
        dup2(2, 1);                                      \
        statement;                                       \
      },                                                 \
      testing::ExitedWithCode(1), pattern)

// Files the writer cannot have produced stop the run with a "|" line naming the file and the
// record, and exit status 1: a start time no run reaches, a file cut short, a word that is not a
// number, a point off the grid.
TEST_F(RestartFile, CorruptFilesStop) {
  const std::string values = "  1 2 3 4 5 6 7 8 9 10 11 12\n";
  const std::string stop = "^\\| continued data set\\.\\.\\. \n\\| \"restart\\.dat\"";  // the two lines' starts
  struct bad_file {
    const char *what;
    std::string text;
    std::string message;
  } cases[] = {
      {"empty", "", stop + " is empty"},
      {"blanks only", " \n\t\n", stop + " is empty"},
      {"time not a number", "1.0e+00x\n0 0" + values, stop + ", header: the start time \"1\\.0e\\+00x\" is not a number"},
      {"ends inside a record", "1.0\n0  0" + values + "0  1  2.0  3.0\n",
       stop + ", record 2: the file ends after 4 of its 14 numbers"},
      {"ends after x", "1.0\n3\n", stop + ", record 1: the file ends after 1 of its 14 numbers"},
      {"value not a number", "1.0\n0  0  1 2 3 4 5 6 7 8 9 10 11 1.2.3\n",
       stop + ", record 1, column 14: \"1\\.2\\.3\" is not a number"},
      {"x not an integer", "1.0\n0.0  0" + values, stop + ", record 1, column 1: \"0\\.0\" is not a number"},
      {"embedded NUL", std::string("1.0\n0 0 1 2 3\0 4 5 6 7 8 9 10 11 12\n", 36),
       stop + ", record 1, column 5: .* is not a number"},
      {"very long token", "1.0\n0 0 1 2 " + std::string(2000000, 'a') + " 4 5 6 7 8 9 10 11 12\n",
       stop + ", record 1, column 5: \"a{40}\\.\\.\\.\" is not a number"},
      {"x beyond the grid", "1.0\n4  0" + values,
       stop + ", record 1: point \\(4, 0\\) lies outside the 4 x 4 grid .*written for another grid"},
      {"negative y", "1.0\n0  0" + values + "2  -1" + values, stop + ", record 2: point \\(2, -1\\) lies outside"},
      {"x beyond long", "1.0\n99999999999999999999999  0" + values, stop + ", record 1: point .* lies outside"},
      {"start time not finite", "nan  \n0  0" + values, stop + ", header: the start time nan lies outside 0 \\.\\. 1e\\+12"},
      {"start time negative", "-1e300  \n0  0" + values, stop + ", header: the start time -1e\\+300 lies outside"},
      {"start time beyond any run", "1e300  \n0  0" + values, stop + ", header: the start time 1e\\+300 lies outside"},
      // Cut inside the last number: "4.276778e-03" would read as 4.276778, a thousand times too large.
      {"cut inside the last number", "1.0\n0  0  1 2 3 4 5 6 7 8 9 10 11 4.276778",
       stop + " does not end with a line end: the file was cut short inside its last line \\(record 1\\)"},
      {"cut inside the header", "1.2", stop + " does not end with a line end: the file was cut short inside its header"},
  };
  for (const bad_file &c : cases) {
    SCOPED_TRACE(c.what);
    write_text("restart.dat", c.text);
    EXPECT_STOP(readrestart(), c.message);
  }
  std::filesystem::remove("restart.dat");
  EXPECT_STOP(readrestart(), "^\\| continued data set\\.\\.\\. \n\\| cannot open \"restart\\.dat\"");
}

// A write that fails (a full disk, an unwritable temporary file) stops with a "|" line and exit
// status 1, leaves the previous "restart.dat" as it was and removes the temporary file.
TEST_F(RestartFile, FailedWriteKeepsThePreviousFile) {
  fill_state(1.0);
  const std::string previous = "5.000000e+00  \n0  0  1 2 3 4 5 6 7 8 9 10 11 12\n";
  write_text("restart.dat", previous);

  ASSERT_EQ(mkdir("restart.dat.tmp", 0700), 0);
  EXPECT_STOP(writerestart(9.0), "^\\| cannot open \"restart\\.dat\\.tmp\"");
  EXPECT_EQ(read_text("restart.dat"), previous);
  std::filesystem::remove("restart.dat.tmp");

  if (access("/dev/full", W_OK) != 0) GTEST_SKIP() << "no /dev/full to fill";
  ASSERT_EQ(symlink("/dev/full", "restart.dat.tmp"), 0);
  EXPECT_STOP(writerestart(9.0), "^\\| writing \"restart\\.dat\\.tmp\" failed");
  EXPECT_EQ(read_text("restart.dat"), previous);
  EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status("restart.dat.tmp"))) << "temporary file left";
}

}  // namespace

// A fresh run sets an earlier run's checkpoint files aside: five runs in one directory keep the
// files of the last three, oldest first, the two files of a run under one number even when one of
// them was missing; the line on standard error says how many are kept.
TEST_F(RestartFile, SetAsideCheckpointsKeepTheLastThreeRuns) {
  std::string said;
  for (int run = 1; run <= 5; run++) {
    write_text("restart.dat", "run " + std::to_string(run));
    if (run != 4) write_text("restart.nc", "run " + std::to_string(run));
    testing::internal::CaptureStderr();
    set_aside_checkpoints();
    said = testing::internal::GetCapturedStderr();
    EXPECT_FALSE(std::filesystem::exists("restart.dat") || std::filesystem::exists("restart.nc")) << "run " << run;
  }
  EXPECT_EQ(read_text("restart.dat.old"), "run 3");
  EXPECT_EQ(read_text("restart.dat.old2"), "run 4");
  EXPECT_EQ(read_text("restart.dat.old3"), "run 5");
  EXPECT_EQ(read_text("restart.nc.old"), "run 3");
  EXPECT_FALSE(std::filesystem::exists("restart.nc.old2")) << "run 4 had no restart.nc";
  EXPECT_EQ(read_text("restart.nc.old3"), "run 5");
  EXPECT_EQ(entries(".").size(), 5u);
  EXPECT_NE(said.find("| a fresh run starts a new series: the earlier run's \"restart.dat\" is kept as "
                      "\"restart.dat.old3\"\n"),
            std::string::npos)
      << said;
  EXPECT_NE(said.find("| the checkpoints of the last 3 runs are kept (.old the oldest, .old3 the newest): "
                      "\"restart.dat.old\", \"restart.nc.old\", the oldest, removed\n"),
            std::string::npos)
      << said;
}
