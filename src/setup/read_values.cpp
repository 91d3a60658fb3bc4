// The parameter-file reader and the checks that make the nineteen values a runnable set.
//
// "tavo.inp" is a sequence of white-space separated words. A word containing '=' is a marker;
// the word after a marker is the next numbered value. A value word that itself contains '=' is a
// marker too. Every other word is a name, unit or comment and is ignored; line breaks mean
// nothing. A value must be a number in full, in a form strtod reads ("0.01", "1e-3", "+16",
// "0x1p-4", "inf", "nan"), with nothing after it: "0,01" would read as 0 and "256abc" as 256, and
// a word taken as a value because a comment holds an '=' would shift every later value.
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

// The next word of text from at (moved past it) into [*word, *word + *length); false at the end.
static bool next_word(const std::string &text, size_t &at, const char **word, size_t *length) {
  const size_t size = text.size();
  while (at < size && isspace(static_cast<unsigned char>(text[at]))) at++;
  const size_t first = at;
  while (at < size && !isspace(static_cast<unsigned char>(text[at]))) at++;
  *word = text.data() + first;
  *length = at - first;
  return at > first;
}

static bool is_marker(const char *word, size_t length) { return memchr(word, '=', length) != nullptr; }

value_reading read_values(const std::string &text, double *values, int maxvalues) {
  value_reading reading;
  size_t at = 0;
  const char *word;
  size_t length;
  std::string value;
  bool marked = false;  // the previous word was a marker
  while (next_word(text, at, &word, &length)) {
    if (marked) {
      const int number = ++reading.count;
      value.assign(word, length);
      if (number <= maxvalues) {
        char *stop;
        values[number - 1] = strtod(value.c_str(), &stop);
        // An embedded NUL also ends strtod short of the word's end.
        if (stop != value.c_str() + length && reading.bad_value == 0) {
          reading.bad_value = number;
          reading.bad_word = value;
        }
      } else if (number == maxvalues + 1) {
        reading.first_extra = value;
      }
    }
    marked = is_marker(word, length);
  }
  reading.dangling_marker = marked;
  return reading;
}

// A word quoted for a message: at most 40 characters, unprintable ones as '?'.
static std::string quoted(const std::string &word) {
  std::string text = "\"";
  for (size_t k = 0; k < word.size() && k < 40; k++)
    text += isprint(static_cast<unsigned char>(word[k])) ? word[k] : '?';
  return text + (word.size() > 40 ? "...\"" : "\"");
}

const char *reading_problem(const value_reading &reading) {
  static char message[256];
  if (reading.bad_value > 0)
    snprintf(message, sizeof message,
             "| value %d of \"tavo.inp\", %s, is not a number: a value is one word that is a number in full "
             "(such as 0.01, 1e-3 or 256)", reading.bad_value, quoted(reading.bad_word).c_str());
  else if (reading.count < nvalues)
    snprintf(message, sizeof message, "| \"tavo.inp\" holds %d values%s, expected %d (each after a word containing '=')",
             reading.count, reading.dangling_marker ? " and a marker without value at its end" : "", nvalues);
  else
    return nullptr;
  return message;
}

const char *extra_values_warning(const value_reading &reading, int known) {
  static char message[256];
  if (reading.count <= known) return nullptr;
  snprintf(message, sizeof message,
           "| \"tavo.inp\" holds %d values, %d more than the %d the program knows: value %d, %s, and any later are "
           "ignored (is there an '=' in a comment?)", reading.count, reading.count - known, known, known + 1,
           quoted(reading.first_extra).c_str());
  return message;
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

const char *const value_names[nknown] = {"chat",  "taui",  "delta", "diff",   "incon",  "sigma",  "amp",   "vorfree",
                                         "ly",    "nx",    "ny",    "dt",     "itstp",  "itmax",  "ntrace", "ipade",
                                         "ihype", "b_plan", "npar", "nframe", "nckpt", "iseed"};

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
