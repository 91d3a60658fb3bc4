// Checks of the two input readers on arbitrary bytes, shared by the libFuzzer targets and by the
// replay of their corpus and crash reproducers in the test suite.
//
// Each check feeds the bytes through the code the program runs on "tavo.inp" or "restart.dat"
// (read_values, reading_problem and values_problem, restart_problem) and compares the outcome with
// a plain, independent reading of the same bytes: split into tokens at C-locale white space,
// markers are tokens holding '=', numbers are converted with strtod and strtol over the whole
// token, and a value or number that strtod does not read in full is refused. The
// readers must agree with it on every value, refuse exactly the inputs it refuses with one "|"
// line, and leave the run constants in the ranges the rest of the program indexes with. A check
// returns "" or a description of the first disagreement; sanitizer findings end the process.
#pragma once

#include <omp.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "common/state.hpp"
#include "driver/driver.hpp"
#include "initial/initial.hpp"
#include "io/io.hpp"
#include "operators/operators.hpp"
#include "scheme/scheme.hpp"
#include "setup/setup.hpp"

namespace fuzz_checks {

// The grid of the restart check: small, and not square, so that x and y cannot be confused.
constexpr int restart_nx = 4, restart_ny = 3;

// A read-only stream over a copy of the bytes (fmemopen delivers embedded NULs as data).
inline FILE *memory_file(const uint8_t *data, size_t size, std::vector<char> &copy) {
  copy.assign(reinterpret_cast<const char *>(data), reinterpret_cast<const char *>(data) + size);
  copy.push_back('\0');  // never read: keeps the buffer non-empty for an empty input
  return fmemopen(copy.data(), size, "r");
}

// The tokens of the bytes: maximal runs of characters that isspace (C locale) does not accept.
inline std::vector<std::string> tokens_of(const uint8_t *data, size_t size) {
  std::vector<std::string> tokens;
  std::string token;
  for (size_t k = 0; k <= size; k++) {
    if (k < size && !isspace(data[k])) {
      token.push_back(static_cast<char>(data[k]));
    } else if (!token.empty()) {
      tokens.push_back(token);
      token.clear();
    }
  }
  return tokens;
}

// Equal doubles, NaNs included: the same bits.
inline bool same(double a, double b) { return memcmp(&a, &b, sizeof a) == 0; }

// The token quoted for a message, shortened.
inline std::string shown(const std::string &token) {
  std::string text;
  for (char c : token.substr(0, 40)) text += isprint(static_cast<unsigned char>(c)) ? c : '?';
  return "\"" + text + (token.size() > 40 ? "...\"" : "\"");
}

inline std::string number_text(double v) {
  char text[40];
  snprintf(text, sizeof text, "%.17g", v);
  return text;
}

// strtod over the whole token (an embedded NUL ends the string early, so such a token fails).
inline bool whole_double(const std::string &token, double *value) {
  char *end;
  *value = strtod(token.c_str(), &end);
  return !token.empty() && end == token.c_str() + token.size();
}

// strtol, base 10, over the whole token.
inline bool whole_long(const std::string &token, long *value) {
  char *end;
  *value = strtol(token.c_str(), &end, 10);
  return !token.empty() && end == token.c_str() + token.size();
}

// A refusal message: one line beginning with "|", naming what it refuses.
inline std::string message_fault(const char *message, const char *must_name) {
  if (strncmp(message, "| ", 2) != 0) return std::string("refusal does not begin with \"| \": ") + message;
  if (strchr(message, '\n')) return std::string("refusal spans several lines: ") + message;
  if (!strstr(message, must_name)) return std::string("refusal does not name ") + must_name + ": " + message;
  return "";
}

// The parameter-file reader, the value checks and the run constants on the bytes of a "tavo.inp".
inline std::string check_parameters(const uint8_t *data, size_t size) {
  const std::string text(reinterpret_cast<const char *>(data), size);
  double values[nknown + 1];
  for (double &v : values) v = -77.0;  // sentinel: only the first nknown may be written
  const value_reading reading = read_values(text, values, nknown);
  if (!same(values[nknown], -77.0)) return "read_values wrote beyond its store";

  // The plain reading: the token after each marker is the next value, a marker as value marks too.
  const std::vector<std::string> tokens = tokens_of(data, size);
  std::vector<std::string> words;
  bool want_dangling = false;
  for (size_t k = 0; k < tokens.size(); k++) {
    if (tokens[k].find('=') == std::string::npos) continue;
    if (k + 1 == tokens.size()) {
      want_dangling = true;
      break;
    }
    words.push_back(tokens[k + 1]);
  }
  if (reading.count != static_cast<int>(words.size()))
    return "read_values found " + std::to_string(reading.count) + " values, the plain reading " +
           std::to_string(words.size());
  if (reading.dangling_marker != want_dangling)
    return std::string("dangling marker reported as ") + (reading.dangling_marker ? "true" : "false");
  int want_bad = 0;
  for (int k = 0; k < reading.count && k < nknown; k++) {
    double want;
    if (!whole_double(words[size_t(k)], &want) && want_bad == 0) want_bad = k + 1;
    if (!same(values[k], want))
      return "value " + std::to_string(k + 1) + " read as " + number_text(values[k]) + ", expected " +
             number_text(want);
  }
  if (reading.bad_value != want_bad)
    return "first value not a number reported as " + std::to_string(reading.bad_value) + ", expected " +
           std::to_string(want_bad);
  if (want_bad > 0 && reading.bad_word != words[size_t(want_bad - 1)])
    return "the word of value " + std::to_string(want_bad) + " reported as " + shown(reading.bad_word);
  if (reading.count > nknown && reading.first_extra != words[nknown])
    return "the first extra value reported as " + shown(reading.first_extra);

  // initpar refuses a value that is not a number, and fewer than nineteen values, before it looks
  // at the values.
  if (const char *refusal = reading_problem(reading)) {
    const std::string fault = message_fault(refusal, "\"tavo.inp\"");
    if (!fault.empty()) return fault + " (reading_problem)";
    if (want_bad == 0 && reading.count >= nvalues) return std::string("refused a sound reading: ") + refusal;
    if (want_bad > 0 && !strstr(refusal, ("value " + std::to_string(want_bad) + " ").c_str()))
      return std::string("refusal does not name the value's number: ") + refusal;
    return "";
  }
  if (want_bad > 0 || reading.count < nvalues) return "accepted a reading that must be refused";

  // A file that stops before the optional values gets their defaults, as in initpar.
  for (int k = std::max(reading.count, nvalues); k < nknown; k++) values[k] = parameter_table[k].fallback;
  const char *message = values_problem(values, grid_problem);
  if (!message) message = optional_problem(values + nvalues);
  if (message) {
    const std::string fault = message_fault(message, " = ");
    return fault.empty() ? "" : fault + " (values_problem)";
  }

  // Accepted: the constants every array index and loop bound depends on must be in range.
  set_run_constants(values);
  if (nx < 1 || ny < 1 || grid_problem(nx, ny))
    return "accepted a grid of " + std::to_string(nx) + " x " + std::to_string(ny);
  if (nx1 != nx - 1 || ny1 != ny - 1 || nxh != nx / 2 || nyh != ny / 2) return "inconsistent grid indices";
  if (npar < 1) return "accepted npar = " + std::to_string(npar);
  if (itstp < 1) return "accepted itstp = " + std::to_string(itstp);
  if (itmax < 0) return "accepted itmax = " + std::to_string(itmax);
  if (ipade != 0 && ipade != 1) return "accepted ipade = " + std::to_string(ipade);
  if (!(ly > 0)) return "accepted ly = " + number_text(ly);
  if (!(hy >= 0) || !(xyz > 0)) return "grid density or normalisation undefined: hy = " + number_text(hy);
  if (printtraces && ntrace < 1) return "probe traces without a sample spacing";

  // The tables of the accepted values, over the used extent; and the radial damping profile. A grid
  // of millions of points is sound but too slow to build for every input.
  if (static_cast<double>(nx) * ny > 1 << 20) return "";
  allocate_grid();
  build_tables();
  compute_xmask();
  return "";
}

// Fill every stored array of the restart file and pi with a sentinel over the used extent.
inline void fill_sentinel(double value) {
  array2d *fields[] = {&pe, &ne, &ne1, &ne2, &ni, &ni1, &ni2, &fne1, &fne2, &fni1, &fni2, &pi};
  for (array2d *f : fields)
    for (int x = 0; x <= nx1; x++)
      for (int y = 0; y <= ny1; y++) (*f)[x][y] = value;
  eno = value;
}

// The run constants, tables and transforms of a quiet 4 x 3 run with one thread.
inline void use_restart_grid() {
  if (nx == restart_nx && ny == restart_ny && real_in) return;
  double v[nvalues] = {1.0, 1.0, 1.0, 0.0, 2.0, 1.0, 0.1, 0.0, 6.0, restart_nx, restart_ny,
                       0.01, 1.0, 1.0, 0.0, 0.0, -5.0, 0.0, 1.0};
  set_run_constants(v);
  allocate_grid();
  omp_set_num_threads(npar);
  build_tables();
  make_transforms();
}

// The restart reader on the bytes of a "restart.dat" for the 4 x 3 grid; an accepted file also
// gets the rest of readrestart (pi from pe).
inline std::string check_restart(const uint8_t *data, size_t size) {
  use_restart_grid();
  const double sentinel = -31.25;
  fill_sentinel(sentinel);
  std::vector<char> copy;
  FILE *file = memory_file(data, size, copy);
  if (!file) return "fmemopen failed";
  double time = sentinel;
  long named = -1;
  const char *message = restart_problem(file, &time, &named);
  fclose(file);

  // The plain reading: a start time, then whole records of two integers and twelve reals.
  const std::vector<std::string> tokens = tokens_of(data, size);
  std::string refusal;
  double want_time = 0.0, want_eno = sentinel;
  std::map<std::pair<long, long>, std::vector<double>> points;
  if (tokens.empty()) {
    refusal = "no start time";
  } else if (!whole_double(tokens[0], &want_time)) {
    refusal = "start time " + shown(tokens[0]);
  } else if (!(want_time >= 0 && want_time <= 1e12)) {
    refusal = "start time " + number_text(want_time) + " outside 0 .. 1e12";
  } else {
    for (size_t at = 1; at < tokens.size() && refusal.empty(); at += 14) {
      const size_t record = (at - 1) / 14 + 1;
      long x = 0, y = 0;
      if (!whole_long(tokens[at], &x)) {
        refusal = "x of record " + std::to_string(record);
        break;
      }
      if (at + 1 >= tokens.size() || !whole_long(tokens[at + 1], &y)) {
        refusal = "y of record " + std::to_string(record);
        break;
      }
      if (x < 0 || x >= restart_nx || y < 0 || y >= restart_ny) {
        refusal = "point of record " + std::to_string(record) + " off the grid";
        break;
      }
      std::vector<double> columns(12);
      for (size_t c = 0; c < 12 && refusal.empty(); c++)
        if (at + 2 + c >= tokens.size() || !whole_double(tokens[at + 2 + c], &columns[c]))
          refusal = "column " + std::to_string(c + 3) + " of record " + std::to_string(record);
      if (refusal.empty()) {
        want_eno = columns[0];
        points[{x, y}] = columns;
      }
    }
  }

  // A file cut short inside its last line has no line end after its last token.
  if (refusal.empty() && data[size - 1] != '\n') refusal = "no line end at the end of the file";

  if (message) {
    const std::string fault = message_fault(message, "\"restart.dat\"");
    if (!fault.empty()) return fault;
    if (refusal.empty()) return std::string("restart_problem refused a sound file: ") + message;
    return "";
  }
  if (!refusal.empty()) return "restart_problem accepted a file with a bad " + refusal;
  if (!same(time, want_time)) return "start time " + number_text(time) + ", expected " + number_text(want_time);
  if (named != static_cast<long>(points.size()))
    return "named points " + std::to_string(named) + ", expected " + std::to_string(points.size());
  if (!same(eno, want_eno)) return "eno " + number_text(eno) + ", expected " + number_text(want_eno);
  array2d *columns[12] = {nullptr, &pe, &ne, &ne1, &ne2, &ni, &ni1, &ni2, &fne1, &fne2, &fni1, &fni2};
  for (int x = 0; x < restart_nx; x++)
    for (int y = 0; y < restart_ny; y++) {
      const auto point = points.find({x, y});
      for (int c = 1; c < 12; c++) {
        const double want = point == points.end() ? sentinel : point->second[size_t(c)];
        if (!same((*columns[c])[x][y], want))
          return "column " + std::to_string(c + 3) + " at (" + std::to_string(x) + ", " + std::to_string(y) +
                 ") holds " + number_text((*columns[c])[x][y]) + ", expected " + number_text(want);
      }
    }

  // The rest of the read, as readrestart does it.
  spectral_solve(pe, cpoti, pi);
  return "";
}

}  // namespace fuzz_checks
