// The labels of a parameter file checked against the places of its values.
//
// The reader takes values by position only: the token after the n-th marker (a token holding '=')
// is value n, whatever the word before it says. When that word is the name of another of the
// known values, as when two lines were swapped, the file most likely does not say what its author
// meant, so each such label gets a warning naming both values. The label of a marker is the word
// before it when the marker begins with '=' ("nx = 64", "nx =64"), else the part of the marker
// before its '=' ("nx=" 64). Words that name no value (comments, other spellings) pass silently.
#include <cctype>
#include <cstdio>
#include <string>
#include <vector>

#include "setup/setup.hpp"

// The number (0-based) of the value named word, ignoring case; -1 for no name.
static int value_named(const std::string &word) {
  for (int n = 0; n < nknown; n++) {
    const std::string name = parameter_table[n].name;
    if (name.size() != word.size()) continue;
    bool same = true;
    for (size_t c = 0; c < name.size() && same; c++) same = tolower(static_cast<unsigned char>(word[c])) == name[c];
    if (same) return n;
  }
  return -1;
}

std::string label_warnings(const std::string &text) {
  std::vector<std::string> tokens;
  size_t at = 0;
  while (at < text.size()) {
    while (at < text.size() && isspace(static_cast<unsigned char>(text[at]))) at++;
    const size_t start = at;
    while (at < text.size() && !isspace(static_cast<unsigned char>(text[at]))) at++;
    if (at > start) tokens.push_back(text.substr(start, at - start));
  }
  std::string warnings;
  int value = 0;  // number (0-based) of the value the next marker introduces
  // As the reader does: a marker's value token may itself be a marker, and a marker at the end of
  // the file has no value.
  for (size_t t = 0; t + 1 < tokens.size() && value < nknown; t++) {
    const size_t eq = tokens[t].find('=');
    if (eq == std::string::npos) continue;
    const std::string label = eq > 0 ? tokens[t].substr(0, eq) : t > 0 ? tokens[t - 1] : "";
    const int named = value_named(label);
    if (named >= 0 && named != value) {
      char line[300];
      snprintf(line, sizeof line,
               "| warning: \"tavo.inp\": value %d is labelled \"%s\", the name of value %d (%s); it is read as %s "
               "(value %d), by its place\n",
               value + 1, label.c_str(), named + 1, parameter_table[named].name, parameter_table[value].name, value + 1);
      warnings += line;
    }
    value++;
  }
  return warnings;
}

void check_labels(const std::string &text) { fputs(label_warnings(text).c_str(), stderr); }
