// A run that cannot write its output stops with exit status 1 and one "|" line naming the file,
// keeps the restart file of the run before, and leaves no result file cut short under its final
// name. Two kinds of full disk, since the tests run as root and permissions cannot refuse writes:
//  - a file the program writes replaced by a link to /dev/full, whose writes all fail (ENOSPC);
//  - a cap on the file size (RLIMIT_FSIZE), where the write that crosses it puts part of its
//    text into the file and then fails (EFBIG), as on a disk that fills up in the middle of a line.
#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "faults/fault_support.hpp"

namespace {

namespace fs = std::filesystem;

// The last line of a console.
std::string last_line(const std::string &console) {
  size_t end = console.size();
  if (end > 0 && console[end - 1] == '\n') end--;
  const size_t start = console.rfind('\n', end == 0 ? 0 : end - 1);
  return console.substr(start == std::string::npos ? 0 : start + 1, end - (start == std::string::npos ? 0 : start + 1));
}

// A finished run of the fault values (the run before), copied afresh for every continued run.
class FullDisk : public testing::Test {
 protected:
  void SetUp() override {
    first_ = make_temp_dir();
    values_ = fault_values();
    std::string console;
    ASSERT_EQ(run_values(first_, values_, &console), 0) << console;
    values_[v_incon] = 2;
  }
  void TearDown() override {
    remove_dir(first_);
    for (const std::string &dir : copies_) remove_dir(dir);
  }
  // A copy of the first run's directory, set up for the continued run.
  std::string fresh_copy() {
    const std::string dir = make_temp_dir();
    fs::copy(first_, dir, fs::copy_options::recursive | fs::copy_options::overwrite_existing);
    write_text(dir + "/tavo.inp", parameter_file(values_));
    copies_.push_back(dir);
    return dir;
  }
  std::string first_text(const std::string &name) { return read_text(first_ + "/" + name); }

  std::string first_;
  values19 values_;
  std::vector<std::string> copies_;
};

// The files the program writes, under the names it writes them: the time series are appended in
// place, the other files are written under a temporary name and renamed when complete.
const char *const written_names[] = {
    "eng.dat",       "eng-transfer.dat", "fne.dat",       "gamma.dat",     "zfx.dat",
    "cutx.dat.tmp",  "cuty.dat.tmp",     "xprof.dat.tmp", "n2d0.dat",      "w2d0.dat",
    "p2d0.dat",      "i2d0.dat",         "pky_p.dat.tmp", "pky_n.dat.tmp", "pky_w.dat.tmp",
    "pky_e.dat.tmp", "pkx_p.dat.tmp",    "restart.dat.tmp", "traces.dat.tmp", "ptt_n.dat.tmp",
    "ptt_p.dat.tmp"};

// The final name of a written name.
std::string final_name(const std::string &written) {
  if (written.size() > 4 && written.compare(written.size() - 4, 4, ".tmp") == 0) return written.substr(0, written.size() - 4);
  if (written.size() == 8 && written.compare(3, 5, "0.dat") == 0) return written.substr(0, 3) + ".dat";
  return written;
}

class FullDiskFile : public FullDisk, public testing::WithParamInterface<const char *> {};

// Every file the program writes, on a full disk: exit status 1, a "|" line naming it, the final
// name keeps its complete earlier text, the restart file of the run before survives (the probe
// files come after the new restart file, which is then complete), every other file is whole.
TEST_P(FullDiskFile, StopsNamingItAndKeepsTheEarlierFiles) {
  if (access("/dev/full", W_OK) != 0) GTEST_SKIP() << "no /dev/full";
  const std::string written = GetParam(), final = final_name(written);
  const std::string dir = fresh_copy();
  fs::remove(dir + "/" + written);
  fs::create_symlink("/dev/full", dir + "/" + written);

  std::string console;
  const int status = finish_tavo(start_tavo(dir));
  console = read_text(dir + "/stdout.txt");
  EXPECT_EQ(status, 1) << console;
  const std::string line = last_line(console);
  EXPECT_EQ(line.rfind("| ", 0), 0u) << "last line: " << line;
  EXPECT_NE(line.find("\"" + written + "\""), std::string::npos) << "last line: " << line;
  EXPECT_NE(line.find("No space left on device"), std::string::npos) << "last line: " << line;

  fs::remove(dir + "/" + written);  // the link, never read back
  const bool at_the_end = final == "traces.dat" || final == "ptt_n.dat" || final == "ptt_p.dat";
  if (final != written) {
    EXPECT_TRUE(read_text(dir + "/" + final) == first_text(final)) << final << " changed";
  }
  if (at_the_end) {
    EXPECT_EQ(read_text(dir + "/restart.dat").substr(0, 15), "8.000000e-01  \n") << "the new restart file";
  } else {
    EXPECT_TRUE(read_text(dir + "/restart.dat") == first_text("restart.dat")) << "restart.dat changed";
  }
  for (const std::string &name : result_files(values_)) {
    if (name == written) continue;  // an appended file that was replaced by the link
    EXPECT_EQ(whole_file_fault(dir, name, values_), "");
  }
}

INSTANTIATE_TEST_SUITE_P(Written, FullDiskFile, testing::ValuesIn(written_names),
                         [](const testing::TestParamInfo<const char *> &info) {
                           std::string name;
                           for (const char *c = info.param; *c; c++) name += isalnum(*c) ? *c : '_';
                           return name;
                         });

class FullDiskAppend : public FullDisk, public testing::WithParamInterface<const char *> {};

// A time-series file that is the largest file of the run, capped ten bytes above its size: the
// first append of a record beyond the cap writes ten bytes of it and fails. The program stops
// naming the file and takes those bytes back, so the file ends with a whole line.
TEST_P(FullDiskAppend, TakesBackThePartOfALineThatFitted) {
  const std::string name = GetParam();
  const std::string dir = fresh_copy();
  // Grow the file past every other file of the run (the restart file is the largest, 700 kB)
  // with whole lines of its own layout.
  std::string text = read_text(dir + "/" + name);
  ASSERT_FALSE(text.empty()) << name << " of the first run is empty";
  const std::string block = text;
  while (text.size() < 1200000) text += block;
  write_text(dir + "/" + name, text);
  ASSERT_EQ(whole_file_fault(dir, name, values_), "");

  const int status = finish_tavo(start_tavo(dir, static_cast<long>(text.size()) + 10));
  const std::string console = read_text(dir + "/stdout.txt");
  EXPECT_EQ(status, 1) << console;
  const std::string line = last_line(console);
  EXPECT_EQ(line.rfind("| writing \"" + name + "\" failed", 0), 0u) << "last line: " << line;
  const std::string after = read_text(dir + "/" + name);
  EXPECT_TRUE(after.compare(0, text.size(), text) == 0) << "the earlier records changed";
  EXPECT_LE(after.size(), text.size() + 1) << "at most the empty line of the first call of zfx.dat";
  EXPECT_EQ(whole_file_fault(dir, name, values_), "");
  EXPECT_TRUE(read_text(dir + "/restart.dat") == first_text("restart.dat"));
  EXPECT_EQ(whole_files_faults(dir, values_), std::vector<std::string>());
}

INSTANTIATE_TEST_SUITE_P(Series, FullDiskAppend,
                         testing::Values("eng.dat", "eng-transfer.dat", "fne.dat", "gamma.dat", "zfx.dat"),
                         [](const testing::TestParamInfo<const char *> &info) {
                           std::string name;
                           for (const char *c = info.param; *c; c++) name += isalnum(*c) ? *c : '_';
                           return name;
                         });

// The disk fills up at any point: file-size caps from 2 kB to 2 MB, doubling. Each run ends with
// status 0 or with status 1 and a "|" line; either way every result file is whole, no temporary
// file is left, and the restart file is the earlier one or a complete new one. The largest cap
// lets the run finish.
TEST_F(FullDisk, FillingUpAtAnySizeLeavesWholeFiles) {
  int stopped = 0;
  for (long cap = 2048; cap <= 2 * 1024 * 1024; cap *= 2) {
    SCOPED_TRACE("file size cap " + std::to_string(cap));
    const std::string dir = fresh_copy();
    const int status = finish_tavo(start_tavo(dir, cap));
    const std::string console = read_text(dir + "/stdout.txt");
    ASSERT_TRUE(status == 0 || status == 1) << "status " << status << "\n" << console;
    if (status == 1) {
      stopped++;
      const std::string line = last_line(console);
      EXPECT_EQ(line.rfind("| ", 0), 0u) << "last line: " << line;
      EXPECT_NE(line.find("File too large"), std::string::npos) << "last line: " << line;
    }
    const std::string restart = read_text(dir + "/restart.dat");
    EXPECT_TRUE(restart == first_text("restart.dat") || restart.compare(0, 15, "8.000000e-01  \n") == 0);
    EXPECT_EQ(whole_files_faults(dir, values_), std::vector<std::string>());
    // No temporary file keeps the space the user needs to recover.
    EXPECT_EQ(names_ending(dir, ".tmp"), std::vector<std::string>());
    EXPECT_EQ(names_ending(dir, "0.dat"), std::vector<std::string>()) << "a snapshot's temporary file";
    if (cap == 2 * 1024 * 1024) {
      EXPECT_EQ(status, 0) << "the largest cap holds every file\n" << console;
    }
    remove_dir(dir);
  }
  EXPECT_GE(stopped, 5) << "the small caps stop the run";
}

}  // namespace
