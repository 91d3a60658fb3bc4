// Test support for directories and whole runs: a fixture that runs each test inside its own
// temporary working directory, the entries of a directory, the removal of a flat test directory,
// the time-series files of a run, and a run of the program on a set of values.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "support/run_setup.hpp"

// The seven time-series files that a fresh start empties and a continued run appends to.
extern const char *const series_files[7];

// Names of the entries of dir ("." and ".." left out; empty when dir cannot be read).
std::set<std::string> entries(const std::string &dir);

// Remove a flat test directory and its entries (kept when the test failed, for inspection).
void remove_test_dir(const std::string &dir);

// The numbers of a text file line by line, each white-space separated word read with strtod
// (so "nan" and "inf" read as such); an empty line gives an empty row.
std::vector<std::vector<double>> rows_of(const std::string &text);

// A variable of a netCDF file as doubles, all its values in the file's order (empty when the file
// or the variable is missing).
std::vector<double> netcdf_variable(const std::string &path, const char *name);

// Run the program in dir on v (written as "tavo.inp"); returns the exit status as run_tavo and
// puts the console into output.
int run_in(const std::string &dir, const values19 &v, std::string *output);

// Runs each test in a fresh temporary directory (dir) and returns to the directory it came
// from (home) afterwards, removing dir.
class TempDirTest : public testing::Test {
 protected:
  std::string home, dir;

  void SetUp() override {
    char here[4096];
    ASSERT_NE(getcwd(here, sizeof here), nullptr);
    home = here;
    dir = make_temp_dir();
    ASSERT_EQ(chdir(dir.c_str()), 0);
  }

  void TearDown() override {
    if (chdir(home.c_str()) != 0) ADD_FAILURE() << "cannot return to " << home;
    std::filesystem::remove_all(dir);
  }
};
