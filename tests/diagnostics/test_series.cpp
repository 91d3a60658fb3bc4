// The start of the time series of a continued run: drop_records_after keeps of every appended
// series the lines before its first record later than the restart time, in the files' own formats
// and with the rounding of the restart header's seven digits.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "diagnostics/diagnostics.hpp"
#include "support/dirs.hpp"
#include "support/run_setup.hpp"

namespace {

// Text of v through printf with format.
std::string printed(const char *format, double v) {
  char text[64];
  snprintf(text, sizeof text, format, v);
  return text;
}

// Records at t = k ddtt, k = 1 .. count, in the layouts of "eng.dat" ("%.8f" and five columns),
// "gamma.dat" ("%.3f", two columns) and "zfx.dat" (an empty line first, then a block of three
// "%.3f" lines and an empty line per output); kept is the text of the records up to t0_index.
struct series_text {
  std::string all, kept;
};
series_text eng_records(double ddtt, int count, int t0_index) {
  series_text s;
  for (int k = 1; k <= count; k++) {
    const std::string line = printed("%.8f", k * ddtt) + "  1.0e-02  2.0e-02  3.0e-02  4.0e-02  5.0e-01\n";
    s.all += line;
    if (k <= t0_index) s.kept += line;
  }
  return s;
}
series_text gamma_records(double ddtt, int count, int t0_index) {
  series_text s;
  for (int k = 3; k <= count; k++) {
    const std::string line = printed("%.3f", k * ddtt) + "  0.000000e+00  1.5e-01\n";
    s.all += line;
    if (k <= t0_index) s.kept += line;
  }
  return s;
}
series_text zonal_blocks(double ddtt, int count, int t0_index) {
  series_text s{"\n", "\n"};
  for (int k = 1; k <= count; k++) {
    std::string block;
    for (int x = 0; x < 3; x++) block += printed("%.3f", k * ddtt) + "  " + std::to_string(x) + "  1.0e-03 \n";
    block += "\n";
    s.all += block;
    if (k <= t0_index) s.kept += block;
  }
  return s;
}

class DropRecords : public TempDirTest {};

// Restart times just above and just below the true time of the last record before them (the
// header keeps seven digits), in runs whose outputs are closer than the "%.3f" of "zfx.dat" can
// nearly resolve: the records up to the restart stay, every later one goes.
TEST_F(DropRecords, KeepsTheRecordsUpToTheRestartTime) {
  struct restart_case {
    double ddtt;   // time between two outputs
    int t0_index;  // the restart is at t0_index * ddtt
  };
  const restart_case cases[] = {
      {0.5, 4},               // t0 = 2, exact
      {0.12345674, 7},        // t0 = 0.86419718: the header "8.641972e-01" lies above the records' time
      {0.0123456744, 81},     // t0 = 0.9999996264: the header "9.999996e-01" lies below the records' time
      {0.002, 500},           // outputs two "%.3f" units apart
  };
  for (const restart_case &c : cases) {
    SCOPED_TRACE("ddtt " + printed("%.10g", c.ddtt));
    const double t0 = strtod(printed("%.6e", c.t0_index * c.ddtt).c_str(), nullptr);  // as read from the header
    const int count = c.t0_index + 6;
    const series_text eng = eng_records(c.ddtt, count, c.t0_index), gamma = gamma_records(c.ddtt, count, c.t0_index),
                      zonal = zonal_blocks(c.ddtt, count, c.t0_index);
    write_text("eng.dat", eng.all);
    write_text("fne.dat", eng.all);
    write_text("gamma.dat", gamma.all);
    // The killed run's own empty line (its call at t = 0) before its first block.
    write_text("zfx.dat", zonal.kept + "\n" + zonal.all.substr(zonal.kept.size()));
    std::filesystem::remove("eng-transfer.dat");
    drop_records_after(t0, false);
    EXPECT_TRUE(read_text("eng.dat") == eng.kept) << read_text("eng.dat").substr(0, 200);
    EXPECT_TRUE(read_text("fne.dat") == eng.kept);
    EXPECT_TRUE(read_text("gamma.dat") == gamma.kept) << read_text("gamma.dat").substr(0, 200);
    EXPECT_TRUE(read_text("zfx.dat") == zonal.kept) << read_text("zfx.dat").substr(0, 200);
    EXPECT_FALSE(std::filesystem::exists("eng-transfer.dat")) << "a missing series is not created";
  }
}

// A last line without line end (a record cut short) goes too, even before t0; lines that begin
// with no number stay with the lines before them, but of the empty lines before the cut only the
// first (runs killed before their first block left one each); a series that is not a regular file
// is left alone.
TEST_F(DropRecords, CutLinesGoAndOtherLinesStay) {
  write_text("eng.dat", "1.00000000  1 2 3 4 5\n2.00000000  1 2 3 4 5\n3.000");
  write_text("fne.dat", "earlier text\n\n\n1.00000000  7\n# note\n5.00000000  8\nlater text\n");
  write_text("zfx.dat", "\n1.000  0  1.0e-03 \n\n\n\n");
  write_text("gamma.dat", "\n\n\n5.000  0  1\n");
  std::filesystem::create_symlink("/dev/null", "eng-transfer.dat");
  drop_records_after(4.0, false);
  EXPECT_EQ(read_text("eng.dat"), "1.00000000  1 2 3 4 5\n2.00000000  1 2 3 4 5\n");
  EXPECT_EQ(read_text("fne.dat"), "earlier text\n\n\n1.00000000  7\n# note\n");
  EXPECT_EQ(read_text("zfx.dat"), "\n1.000  0  1.0e-03 \n\n");
  EXPECT_EQ(read_text("gamma.dat"), "\n");
  EXPECT_TRUE(std::filesystem::is_symlink("eng-transfer.dat"));
}

// A run that resumes the run which wrote the checkpoint writes no empty line of its own: every
// empty line before the cut stays, the stopped run's start among them.
TEST_F(DropRecords, AResumedRunKeepsTheEmptyLinesOfTheRunItResumes) {
  const std::string zonal = "\n1.000  0  1.0e-03 \n\n\n5.000  0  2.0e-03 \n\n";
  for (const bool resumed : {false, true}) {
    write_text("zfx.dat", zonal);
    drop_records_after(4.0, resumed);
    EXPECT_EQ(read_text("zfx.dat"), resumed ? "\n1.000  0  1.0e-03 \n\n\n" : "\n1.000  0  1.0e-03 \n\n");
  }
}

}  // namespace
