// FFTW wisdom kept between runs: a run with measured plans stores its wisdom under its key in the
// cache directory, a later run of the same grid and thread count leaves a sound file as it is, a
// damaged or foreign file is passed over with a "|" note on standard error and replaced, the
// results do not depend on the cache, and TAVO_WISDOM=0 turns it off. Each case uses a cache
// directory of its own; the environment of the test process is restored afterwards.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "support/dirs.hpp"
#include "support/run_setup.hpp"

namespace {

class Wisdom : public testing::Test {
 protected:
  std::string cache, run_dir, file;
  values19 v = test_values();

  void SetUp() override {
    cache = make_temp_dir();
    run_dir = make_temp_dir();
    v[v_bplan] = 1;
    v[v_itmax] = 4;
    v[v_itstp] = 2;
    v[v_nx] = 16;
    v[v_ny] = 12;
    file = cache + "/tavo/wisdom-16x12-1t";
    setenv("XDG_CACHE_HOME", cache.c_str(), 1);
  }
  void TearDown() override {
    setenv("XDG_CACHE_HOME", TAVO_TEST_CACHE, 1);
    unsetenv("TAVO_WISDOM");
    std::filesystem::remove_all(cache);
    std::filesystem::remove_all(run_dir);
  }
  // A run in a fresh directory; its standard error without progress lines into errors.
  void run(std::string *errors) {
    std::filesystem::remove_all(run_dir);
    std::filesystem::create_directory(run_dir);
    std::string console;
    ASSERT_EQ(run_in(run_dir, v, &console), 0) << console;
    *errors = without_progress(read_text(run_dir + "/stderr.txt"));
  }
};

TEST_F(Wisdom, StoredUnderItsKeyAndKeptWhenSound) {
  std::string errors;
  run(&errors);
  EXPECT_EQ(errors, "");
  const std::string stored = read_text(file);
  ASSERT_EQ(stored.compare(0, 12, "tavo wisdom "), 0) << stored.substr(0, 80);
  EXPECT_NE(stored.find(" 16 12 1 measure\n(fftw-3"), std::string::npos) << stored.substr(0, 120);
  const std::string first_energies = read_text(run_dir + "/eng.dat");
  run(&errors);
  EXPECT_EQ(errors, "");
  EXPECT_EQ(read_text(file), stored) << "a sound file is left as it is";
  EXPECT_EQ(read_text(run_dir + "/eng.dat"), first_energies);
  EXPECT_EQ(entries(cache + "/tavo"), (std::set<std::string>{"costs", "wisdom-16x12-1t"}))
      << "no temporary file left beside the wisdom and the run's cost record";
}

// A damaged file (a sound key, then no wisdom) and a foreign one (another key): a note, a run as
// without the file, a sound file afterwards.
TEST_F(Wisdom, DamagedOrForeignFileIsPassedOverWithANote) {
  std::string errors;
  run(&errors);
  const std::string sound = read_text(file);
  const std::string key = sound.substr(0, sound.find('\n') + 1);
  const struct {
    const char *name, *text_after_key, *note;
    bool keyed;
  } cases[] = {{"damaged", "(fftw-3.3 fftw_wisdom #x1 garbage", "is damaged", true},
               {"foreign", "anything", "was not stored for this FFTW version, grid and thread count", false}};
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    write_text(file, (c.keyed ? key : std::string("tavo wisdom fftw-0.0 16 12 1 measure\n")) + c.text_after_key);
    run(&errors);
    EXPECT_EQ(errors.compare(0, 2, "| "), 0) << errors;
    EXPECT_NE(errors.find(c.note), std::string::npos) << errors;
    EXPECT_NE(errors.find(file), std::string::npos) << errors;
    EXPECT_EQ(read_text(file).compare(0, key.size(), key), 0) << "a sound file replaces it";
  }
}

TEST_F(Wisdom, OffWithTheEnvironmentVariable) {
  setenv("TAVO_WISDOM", "0", 1);
  std::string errors;
  run(&errors);
  EXPECT_EQ(errors, "");
  EXPECT_TRUE(entries(cache).empty());
}

}  // namespace
