// The parameter-file reader and the checks that make the nineteen values a runnable set.
//
// "tavo.inp" is a sequence of white-space separated words. A word containing '=' is a marker;
// the word after a marker is the next numbered value. A value word that itself contains '=' is a
// marker too. Every other word is a name, unit or comment and is ignored; line breaks mean
// nothing. A value must be a number in full, in a form strtod reads ("0.01", "1e-3", "+16",
// "0x1p-4", "inf", "nan"), with nothing after it: "0,01" would read as 0 and "256abc" as 256, and
// a word taken as a value because a comment holds an '=' would shift every later value. A value
// written into its marker ("dt=0.01") leaves the marker's next word as the value; the refusal
// names the marker and the fix. The allowed range of every value is the parameter table's.
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
  std::string marker;   // the last marker word
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
          reading.bad_marker = marker;
        }
      } else if (number == maxvalues + 1) {
        reading.first_extra = value;
      }
    }
    marked = is_marker(word, length);
    if (marked) marker.assign(word, length);
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

// "name = number" when word is a name, an '=' and a number in one word ("dt=0.01"), else "".
static std::string split_assignment(const std::string &word) {
  const size_t eq = word.find('=');
  if (eq == std::string::npos || eq == 0 || eq + 1 >= word.size()) return "";
  const std::string number = word.substr(eq + 1);
  char *stop;
  strtod(number.c_str(), &stop);
  if (stop != number.c_str() + number.size()) return "";
  return word.substr(0, eq) + " = " + number;
}

const char *reading_problem(const value_reading &reading) {
  static char message[400];
  const std::string fix_marker = reading.bad_value > 0 ? split_assignment(reading.bad_marker) : "";
  const std::string fix_word = reading.bad_value > 0 ? split_assignment(reading.bad_word) : "";
  if (!fix_marker.empty() || !fix_word.empty())
    snprintf(message, sizeof message,
             "| value %d of \"tavo.inp\", %s, is not a number: %s holds its number after the '=', but a value is "
             "the word after the marker, on its own: write %s", reading.bad_value, quoted(reading.bad_word).c_str(),
             quoted(fix_marker.empty() ? reading.bad_word : reading.bad_marker).c_str(),
             (fix_marker.empty() ? fix_word : fix_marker).c_str());
  else if (reading.bad_value > 0)
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

// The first of the nineteen values outside its range in the table, or a grid that `grid` refuses
// (checked once nx and ny are in range).
const char *values_problem(const double *v, grid_check grid) {
  for (int k = 0; k < nvalues; k++) {
    if (const char *message = value_refusal(k, v[k])) return message;
    if (k == value_index("ny"))
      if (const char *refusal = grid(static_cast<int>(v[value_index("nx")]), static_cast<int>(v[k]))) return refusal;
  }
  return nullptr;
}

const char *optional_problem(const double *opt) {
  for (int k = nvalues; k < nknown; k++)
    if (const char *message = value_refusal(k, opt[k - nvalues])) return message;
  return nullptr;
}

void check_values(const double *v, grid_check grid) {
  if (const char *message = values_problem(v, grid)) fatal("%s", message);
  if (const char *message = optional_problem(v + nvalues)) fatal("%s", message);
}
