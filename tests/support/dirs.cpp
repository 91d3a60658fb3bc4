// Test support for directories and whole runs: listing and removing test directories, and a run
// of the program on a parameter file written from a set of values.
#include "support/dirs.hpp"

#include <dirent.h>
#include <netcdf.h>

#include <cstdlib>
#include <cstring>
#include <sstream>

const char *const series_files[7] = {"eng.dat", "eng-transfer.dat", "fne.dat", "gamma.dat",
                                     "traces.dat", "time.dat", "zfx.dat"};

std::set<std::string> entries(const std::string &dir) {
  std::set<std::string> names;
  DIR *handle = opendir(dir.c_str());
  if (!handle) return names;
  while (dirent *entry = readdir(handle))
    if (strcmp(entry->d_name, ".") && strcmp(entry->d_name, "..")) names.insert(entry->d_name);
  closedir(handle);
  return names;
}

void remove_test_dir(const std::string &dir) {
  if (::testing::Test::HasFailure()) return;
  for (const std::string &name : entries(dir)) {
    std::string path = dir + "/" + name;
    if (unlink(path.c_str()) != 0) rmdir(path.c_str());
  }
  rmdir(dir.c_str());
}

int run_in(const std::string &dir, const values19 &v, std::string *output) {
  write_text(dir + "/tavo.inp", parameter_file(v));
  return run_tavo(dir, output);
}

std::vector<std::vector<double>> rows_of(const std::string &text) {
  std::vector<std::vector<double>> rows;
  std::istringstream lines(text);
  std::string line;
  while (std::getline(lines, line)) {
    std::istringstream fields(line);
    std::vector<double> row;
    std::string field;
    while (fields >> field) row.push_back(std::strtod(field.c_str(), nullptr));
    rows.push_back(row);
  }
  return rows;
}

std::vector<double> netcdf_variable(const std::string &path, const char *name) {
  int file = -1, var = -1, ndims = 0, dims[NC_MAX_VAR_DIMS];
  if (nc_open(path.c_str(), NC_NOWRITE, &file) != NC_NOERR) return {};
  std::vector<double> values;
  if (nc_inq_varid(file, name, &var) == NC_NOERR && nc_inq_varndims(file, var, &ndims) == NC_NOERR &&
      nc_inq_vardimid(file, var, dims) == NC_NOERR) {
    size_t total = 1;
    for (int d = 0; d < ndims; d++) {
      size_t length = 0;
      nc_inq_dimlen(file, dims[d], &length);
      total *= length;
    }
    values.resize(total);
    if (total > 0 && nc_get_var_double(file, var, values.data()) != NC_NOERR) values.clear();
  }
  nc_close(file);
  return values;
}
