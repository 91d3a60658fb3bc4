// Replay of the fuzzing inputs as regression cases: every seed of tests/fuzz/corpus/ (valid files
// and near-misses) and every reproducer the fuzzers have stored in tests/fuzz/regressions/ goes
// through the same checks as in the fuzz targets: the parameter reader and the restart reader must
// agree with a plain reading of the bytes, refuse with one "|" line exactly what it refuses, and
// (under the sanitizer build) touch no memory outside their arrays.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "fuzz/fuzz_checks.hpp"
#include "support/run_setup.hpp"

namespace {

namespace fs = std::filesystem;

// The regular files of dir, sorted (none when dir does not exist).
std::vector<fs::path> inputs_in(const fs::path &dir) {
  std::vector<fs::path> files;
  if (!fs::is_directory(dir)) return files;
  for (const fs::directory_entry &entry : fs::directory_iterator(dir))
    if (entry.is_regular_file()) files.push_back(entry.path());
  std::sort(files.begin(), files.end());
  return files;
}

// Run check on every input of the seed corpus and the reproducers of reader; returns the count.
size_t replay(const std::string &reader, std::string (*check)(const uint8_t *, size_t)) {
  const fs::path base = fs::path(TAVO_SOURCE_DIR) / "tests" / "fuzz";
  size_t count = 0;
  for (const char *kind : {"corpus", "regressions"})
    for (const fs::path &file : inputs_in(base / kind / reader)) {
      const std::string bytes = read_text(file.string());
      const std::string fault = check(reinterpret_cast<const uint8_t *>(bytes.data()), bytes.size());
      EXPECT_EQ(fault, "") << "input " << file.string() << " (" << bytes.size() << " bytes)";
      count++;
    }
  return count;
}

TEST(FuzzCorpus, ParameterFilesReadLikeThePlainReading) {
  const size_t count = replay("parameters", fuzz_checks::check_parameters);
  EXPECT_GE(count, 20u) << "the seed corpus of the parameter reader is missing";
}

TEST(FuzzCorpus, RestartFilesReadLikeThePlainReading) {
  const size_t count = replay("restart", fuzz_checks::check_restart);
  EXPECT_GE(count, 20u) << "the seed corpus of the restart reader is missing";
}

// The checks read sound inputs into the state the program runs on: the restart record lands on its
// point (other points keep their values), the accepted parameters give the run constants and tables.
TEST(FuzzCorpus, SoundInputsReachTheState) {
  const std::string sound = "1.5\n3 2 0.5 1 2 3 4 5 6 7 8 9 10 11\n";
  const auto bytes = [](const std::string &text) { return reinterpret_cast<const uint8_t *>(text.data()); };
  EXPECT_EQ(fuzz_checks::check_restart(bytes(sound), sound.size()), "");
  EXPECT_EQ(ne[3][2], 2.0) << "column 5 of the record";
  EXPECT_EQ(fni2[3][2], 11.0) << "column 14 of the record";
  EXPECT_EQ(ne[0][0], -31.25) << "a point the file does not name keeps its value";

  const std::string params = parameter_file(test_values());
  EXPECT_EQ(fuzz_checks::check_parameters(bytes(params), params.size()), "");
  EXPECT_EQ(nx, 16);
  // (kx, ky) = (0, 1), the second element of the half spectrum of one process
  EXPECT_EQ(clap[1], -1.0 / 256) << "tables of the accepted values: -k^2/(nx ny) at k = 1";
}

}  // namespace
