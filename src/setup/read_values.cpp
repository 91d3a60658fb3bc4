// The parameter-file reader and the checks that make the nineteen values a runnable set.
//
// "tavo.inp" is a sequence of white-space separated tokens. A token containing '=' is a marker;
// the token after a marker is the next numbered value (strtod: the longest numeric prefix, 0 when
// there is none). A value token that itself contains '=' is a marker too. Every other token is a
// name, unit or comment and is ignored; line breaks mean nothing.
#include <cctype>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "common/files.hpp"
#include "common/state.hpp"
#include "setup/setup.hpp"

// Read the next token of any length into token; false at end of file.
static bool next_token(FILE *file, std::string &token) {
  token.clear();
  int c;
  do {
    c = fgetc(file);
  } while (c != EOF && isspace(c));
  while (c != EOF && !isspace(c)) {
    token.push_back(static_cast<char>(c));
    c = fgetc(file);
  }
  return !token.empty();
}

static bool is_marker(const std::string &token) { return token.find('=') != std::string::npos; }

int read_values(FILE *file, double *values, int maxvalues, bool *dangling_marker) {
  std::string token;
  // First pass: count the markers.
  int markers = 0;
  while (next_token(file, token))
    if (is_marker(token)) markers++;
  rewind(file);

  // Second pass: the token after each marker is the next value.
  int stored = 0;
  *dangling_marker = false;
  bool have = next_token(file, token);
  while (have && stored < markers) {
    if (!is_marker(token)) {
      have = next_token(file, token);
      continue;
    }
    if (!next_token(file, token)) {
      *dangling_marker = true;  // the marker was the last token of the file
      break;
    }
    if (stored < maxvalues) values[stored] = strtod(token.c_str(), nullptr);
    stored++;
  }
  return stored;
}

// The message of the first value that cannot make a run, or nullptr. The text lives in a static
// buffer until the next call.
const char *values_problem(const double *v) {
  static char message[160];
  // Truncated the way set_run_constants truncates them.
  auto whole = [](double value) -> double { return std::isnan(value) ? 0.0 : std::trunc(value); };
  double gridx = whole(v[9]), gridy = whole(v[10]);
  const char *grid = nullptr;
  if (!(gridx >= 1 && gridx <= INT_MAX))
    snprintf(message, sizeof message, "| nx = %g (value 10) is outside 1 .. %d", v[9], INT_MAX);
  else if (!(gridy >= 1 && gridy <= INT_MAX))
    snprintf(message, sizeof message, "| ny = %g (value 11) is outside 1 .. %d", v[10], INT_MAX);
  else if ((grid = grid_problem(static_cast<int>(gridx), static_cast<int>(gridy))) != nullptr)
    return grid;
  else if (whole(v[18]) < 1)
    snprintf(message, sizeof message, "| npar = %g (value 19) is below 1: at least one thread is needed", v[18]);
  else if (whole(v[12]) < 1)
    snprintf(message, sizeof message, "| itstp = %g (value 13) is below 1: an output interval needs a step", v[12]);
  else if (whole(v[13]) < 0)
    snprintf(message, sizeof message, "| itmax = %g (value 14) is negative", v[13]);
  else if (whole(v[15]) != 0 && whole(v[15]) != 1)
    snprintf(message, sizeof message, "| ipade = %g (value 16) is neither 0 (Pade) nor 1 (gamma0)", v[15]);
  else if (!(v[8] > 0))
    snprintf(message, sizeof message, "| ly = %g (value 9) is not positive", v[8]);
  else if (v[2] == 0)
    snprintf(message, sizeof message, "| delta = 0 (value 3): its reciprocal, the bracket weight, would be infinite");
  else
    return nullptr;
  return message;
}

const double optional_defaults[noptional] = {1, 10, 0};

const char *optional_problem(const double *opt) {
  static char message[200];
  auto whole_in = [](double value, double top) { return value >= 0 && value <= top && value == std::trunc(value); };
  if (!whole_in(opt[0], 2147483647.0))
    snprintf(message, sizeof message,
             "| nframe = %g (value 20) is not a whole number >= 0 (outputs between two history frames, 0 none)", opt[0]);
  else if (!whole_in(opt[1], 2147483647.0))
    snprintf(message, sizeof message,
             "| nckpt = %g (value 21) is not a whole number >= 0 (outputs between two checkpoints, 0 only at the end)",
             opt[1]);
  else if (!whole_in(opt[2], 2147483647.0))
    snprintf(message, sizeof message,
             "| iseed = %g (value 22) is not a whole number in 0 .. 2147483647 (0 the fixed bath)", opt[2]);
  else
    return nullptr;
  return message;
}

void check_values(const double *v) {
  if (const char *message = values_problem(v)) fatal("%s", message);
  if (const char *message = optional_problem(v + nvalues)) fatal("%s", message);
}
