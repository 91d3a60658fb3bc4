// The parameter table read three ways: the refusal of a value outside its range, the listing for
// people (tavo --parameters) and the JSON copy for scripts (tavo --parameters=json), which the
// Python package and the table of docs/parameters.md are generated from.
#include "setup/parameters.hpp"

#include <cmath>
#include <cstdio>
#include <string>

const char *kind_name(value_kind kind) {
  switch (kind) {
    case value_kind::real: return "real";
    case value_kind::whole: return "whole";
    case value_kind::choice: return "switch";
  }
  return "real";
}

// A bound as text: a whole number without exponent, else the shortest %g form.
static std::string number(double v) {
  char text[40];
  if (v == std::trunc(v) && std::fabs(v) < 1e15) snprintf(text, sizeof text, "%.0f", v);
  else snprintf(text, sizeof text, "%.17g", v);
  return text;
}

std::string range_text(int k) {
  const parameter &p = parameter_table[k];
  const bool low = std::isfinite(p.low), high = std::isfinite(p.high);
  const bool whole_high = p.kind == value_kind::whole && p.high == int_top;  // the largest int: no real bound
  const bool whole_low = p.kind == value_kind::whole && p.low == -int_top;
  std::string text;
  if (low && !whole_low && high && !whole_high && p.high_open)
    text = (p.low_open ? "> " : ">= ") + number(p.low) + ", < " + number(p.high);
  else if (low && !whole_low && high && !whole_high) text = number(p.low) + " .. " + number(p.high);
  else if (low && !whole_low) text = (p.low_open ? "> " : ">= ") + number(p.low);
  else if (high && !whole_high) text = (p.high_open ? "< " : "<= ") + number(p.high);
  if (p.nonzero) text += text.empty() ? "not 0" : ", not 0";
  return text.empty() ? "any" : text;
}

// "(meaning, in unit)" of value k for a message.
static std::string explained(const parameter &p) {
  const std::string unit = p.unit;
  return std::string("(") + p.meaning + (unit == "-" || unit == "1" ? "" : ", in " + unit) + ")";
}

const char *value_refusal(int k, double v) {
  static char message[400];
  const parameter &p = parameter_table[k];
  const double x = p.kind == value_kind::whole ? std::trunc(v) : v;
  if (!std::isfinite(v))
    snprintf(message, sizeof message, "| %s = %g (value %d) is not a finite number %s", p.name, v, k + 1,
             explained(p).c_str());
  else if (p.kind == value_kind::whole && k >= nvalues && x != v)
    snprintf(message, sizeof message, "| %s = %g (value %d) is not a whole number %s", p.name, v, k + 1,
             explained(p).c_str());
  else if ((p.low_open ? !(x > p.low) : !(x >= p.low)) || (p.high_open ? !(x < p.high) : !(x <= p.high)) ||
           (p.nonzero && x == 0))
    snprintf(message, sizeof message, "| %s = %g (value %d) is outside its range: %s must be %s%s %s", p.name, v,
             k + 1, p.name,
             x >= p.high && p.high_open ? ("below " + number(p.high)).c_str()
             : x > p.high               ? ("at most " + number(p.high)).c_str()
                                        : range_text(k).c_str(),
             p.kind == value_kind::whole && k < nvalues && x != v ? " after truncation toward zero" : "",
             explained(p).c_str());
  else
    return nullptr;
  return message;
}

std::string parameter_listing() {
  std::string text = "| the values of \"tavo.inp\", in their order (each is the word after a word holding '=')\n";
  char line[400];
  snprintf(line, sizeof line, "| %3s  %-8s %-6s %-8s %-8s %-19s %s\n", "no.", "name", "kind", "default", "range",
           "unit", "meaning");
  text += line;
  for (int k = 0; k < nknown; k++) {
    const parameter &p = parameter_table[k];
    const std::string fallback = std::isnan(p.fallback) ? "-" : number(p.fallback);
    snprintf(line, sizeof line, "| %3d  %-8s %-6s %-8s %-8s %-19s %s\n", k + 1, p.name, kind_name(p.kind),
             fallback.c_str(), range_text(k).c_str(), p.unit, p.meaning);
    text += line;
  }
  return text;
}

// A JSON string of plain text (the table holds no control characters).
static std::string json_text(const std::string &text) {
  std::string quoted = "\"";
  for (char c : text) {
    if (c == '"' || c == '\\') quoted += '\\';
    quoted += c;
  }
  return quoted + "\"";
}

// A bound or default as JSON: null when it is infinite or missing.
static std::string json_number(double v) { return std::isfinite(v) ? number(v) : "null"; }

std::string parameter_json() {
  std::string text = "[\n";
  for (int k = 0; k < nknown; k++) {
    const parameter &p = parameter_table[k];
    text += "  {\"number\": " + std::to_string(k + 1) + ", \"name\": " + json_text(p.name) +
            ", \"kind\": " + json_text(kind_name(p.kind)) + ", \"optional\": " + (k >= nvalues ? "true" : "false") +
            ", \"default\": " + json_number(p.fallback) +
            ", \"low\": " + json_number(p.low) +
            ", \"high\": " + json_number(p.high) +
            ", \"low_open\": " + (p.low_open ? "true" : "false") +
            ", \"high_open\": " + (p.high_open ? "true" : "false") + ", \"nonzero\": " + (p.nonzero ? "true" : "false") +
            ", \"range\": " + json_text(range_text(k)) + ", \"unit\": " + json_text(p.unit) +
            ", \"meaning\": " + json_text(p.meaning) + "}" + (k + 1 < nknown ? ",\n" : "\n");
  }
  return text + "]\n";
}
