// The labels of a parameter file checked against the places of its values.
//
// The reader takes values by position only: the token after the n-th marker (a token holding '=')
// is value n, whatever the word before it says. When that word is the name of another of the
// known values, the file is plainly misread: a comment holding '=' ("itmax = 40000  t = 400") has
// shifted every later value by a place, a line lost its '=', or two lines were swapped. Such a file
// is refused, with a "|" line naming the first value read in another place and the word that moved
// it there. The label of a marker is the word before it when the marker begins with '=' ("nx = 64",
// "nx =64"), else the part of the marker before its '=' ("nx=" 64); names are compared ignoring
// case. Words that name no value (comments, other spellings) pass silently. The Python package
// (tavo.parameters) refuses the same files with the same lines.
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

namespace {

// A marker of the file: its label, how it is shown in a message, the value it names, its line.
struct marker {
  std::string label, shown;
  int named, line;
};

}  // namespace

const char *label_problem(const std::string &text) {
  static std::string message;
  struct word {
    std::string text;
    int line;
  };
  std::vector<word> words;
  int line = 1;
  for (size_t at = 0; at < text.size();) {
    if (isspace(static_cast<unsigned char>(text[at]))) {
      line += text[at++] == '\n';
      continue;
    }
    const size_t start = at;
    while (at < text.size() && !isspace(static_cast<unsigned char>(text[at]))) at++;
    words.push_back({text.substr(start, at - start), line});
  }
  // The markers that introduce a value, in their order (as the reader takes them: a value word
  // may itself be a marker; a marker at the end of the file has no value).
  std::vector<marker> markers;
  for (size_t t = 0; t + 1 < words.size() && markers.size() < size_t(nknown); t++) {
    const size_t eq = words[t].text.find('=');
    if (eq == std::string::npos) continue;
    const std::string label = eq > 0 ? words[t].text.substr(0, eq) : t > 0 ? words[t - 1].text : "";
    const std::string shown = eq > 0 || t == 0 ? words[t].text : words[t - 1].text + " " + words[t].text;
    markers.push_back({label, shown, value_named(label), words[t].line});
  }
  for (size_t v = 0; v < markers.size(); v++) {
    const marker &m = markers[v];
    if (m.named < 0 || m.named == int(v)) continue;
    const int j = m.named;
    char head[300];
    snprintf(head, sizeof head, "| \"tavo.inp\" is misread: the value labelled \"%s\" is read as value %zu (%s), not %d (%s)",
             m.label.c_str(), v + 1, parameter_table[v].name, j + 1, parameter_table[j].name);
    char why[400];
    if (size_t(j) < markers.size() && markers[j].named == int(v)) {
      snprintf(why, sizeof why, ", and the one labelled \"%s\" on line %d as value %d (%s): the two are swapped "
               "(values are read by their place)", markers[j].label.c_str(), markers[j].line, j + 1,
               parameter_table[j].name);
    } else if (j < int(v)) {
      // Moved later: a marker among the places j .. v-1 that labels no value of its own shifted it.
      size_t shifter = size_t(j);
      while (shifter < v && markers[shifter].named == int(shifter)) shifter++;
      if (shifter < v)
        snprintf(why, sizeof why, ", moved %zu place%s by the word \"%s\" on line %d, which holds '=' and so "
                 "starts a value (a comment holding '='?)", v - j, v - j > 1 ? "s" : "",
                 markers[shifter].shown.c_str(), markers[shifter].line);
      else
        snprintf(why, sizeof why, ": value %d came before it, on line %d (a line written twice?)", j + 1,
                 markers[j].line);
    } else {
      // Moved earlier: a marker is missing after the last value read in its place.
      size_t before = v;
      while (before > 0 && markers[before - 1].named != int(before - 1)) before--;
      if (before > 0)
        snprintf(why, sizeof why, ", moved %zu place%s: a word holding '=' is missing between the value labelled "
                 "\"%s\" on line %d and this one on line %d", j - v, j - v > 1 ? "s" : "",
                 markers[before - 1].label.c_str(), markers[before - 1].line, m.line);
      else
        snprintf(why, sizeof why, ", moved %zu place%s: a word holding '=' is missing before it (line %d)", j - v,
                 j - v > 1 ? "s" : "", m.line);
    }
    message = std::string(head) + why;
    return message.c_str();
  }
  return nullptr;
}
