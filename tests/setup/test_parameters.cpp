// The parameter table against the reader and the checks, and the command line end to end.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "driver/driver.hpp"
#include "setup/setup.hpp"
#include "support/dirs.hpp"
#include "support/run_setup.hpp"

namespace {

// The nknown values of a sound run (the optional ones at their defaults), with the value named
// name set to value.
std::vector<double> sound_values_with(const char *name, double value) {
  const values19 base = test_values();
  std::vector<double> v(base.begin(), base.end());
  for (int k = nvalues; k < nknown; k++) v.push_back(parameter_table[k].fallback);
  v[value_index(name)] = value;
  return v;
}

// The refusal of a full set of values, as initpar checks them ("" when accepted).
std::string refusal_of(const std::vector<double> &v) {
  const char *message = values_problem(v.data(), grid_problem);
  if (!message) message = optional_problem(v.data() + nvalues);
  return message ? message : "";
}

}  // namespace

// Each case gives values the documented range accepts (the edges and what the examples use) and
// values it refuses; the refusal must name the value, its number and the value as read.
TEST(ParameterTable, RangesAcceptAndRefuseAsDocumented) {
  const double inf = INFINITY, nan = NAN;
  struct range_case {
    const char *name;
    std::vector<double> accepted, refused;
  };
  const std::vector<range_case> cases = {
      {"chat", {-1.0, 0.0, 0.5}, {nan, inf, -inf}},
      {"taui", {-1.0, 0.0, 1.0}, {nan, inf}},
      {"delta", {-1.0, 1e-3, 1.0}, {0.0, nan, inf}},
      {"diff", {-1e-3, 0.0, 5e-4}, {nan, -inf}},
      {"incon", {0, 2, 5, 7, 2.5}, {nan, inf}},
      {"sigma", {0.0, 4.0}, {nan}},
      {"amp", {0.0, 20.0}, {inf}},
      {"vorfree", {0, 1, 2}, {nan}},
      {"ly", {1e-6, 64.0}, {0.0, -6.5, nan, inf}},
      {"nx", {1, 16, 16.9}, {0.0, 0.5, -3, nan, inf, 3e9}},
      {"ny", {1, 16}, {0.0, -1, nan}},
      {"dt", {1e-9, 0.01}, {0.0, -0.01, nan, inf, -inf}},
      {"itstp", {1, 100}, {0.0, 0.9, nan}},
      {"itmax", {0, 10000}, {-1, nan, inf, 3e9}},
      {"ntrace", {-1, 0, 2.5, 10}, {nan, inf}},
      {"ipade", {0, 1, 1.5}, {2, -1, nan}},
      {"ihype", {-5, -1, 0, 2, 8}, {nan, inf}},
      {"b_plan", {0, 1, 2}, {nan}},
      {"npar", {1}, {0.0, -1, nan}},
      {"nframe", {0, 1, 5}, {-1, 1.5, nan, 3e9}},
      {"nckpt", {0, 10}, {-2, 0.5, inf}},
      {"iseed", {0, 1, 2147483647}, {-1, 2147483648.0, 0.25, nan}},
      {"cfl", {0.0, 0.5, 0.99}, {1.0, 1.5, -0.1, nan}},
  };
  ASSERT_EQ(cases.size(), size_t(nknown)) << "every value of the table has a case";
  for (const range_case &c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_GE(value_index(c.name), 0) << "not in the table";
    const std::string number = "(value " + std::to_string(value_index(c.name) + 1) + ")";
    for (double value : c.accepted) EXPECT_EQ(refusal_of(sound_values_with(c.name, value)), "") << value;
    for (double value : c.refused) {
      char shown[40];
      snprintf(shown, sizeof shown, "| %s = %g ", c.name, value);
      const std::string message = refusal_of(sound_values_with(c.name, value));
      EXPECT_EQ(message.rfind(shown, 0), 0u) << value << ": " << message;
      EXPECT_NE(message.find(number), std::string::npos) << message;
    }
  }
}

// The reader's view of the table: a file of the nineteen values gets the optional values'
// defaults, the label check knows every name and the listing and JSON name every value.
TEST(ParameterTable, DefaultsLabelsAndListings) {
  EXPECT_EQ(parameter_table[value_index("nframe")].fallback, 1.0);
  EXPECT_EQ(parameter_table[value_index("nckpt")].fallback, 10.0);
  EXPECT_EQ(parameter_table[value_index("iseed")].fallback, 0.0);
  EXPECT_EQ(parameter_table[value_index("cfl")].fallback, 0.0);
  for (int k = 0; k < nvalues; k++) EXPECT_TRUE(std::isnan(parameter_table[k].fallback)) << k;
  const std::string listing = parameter_listing(), json = parameter_json();
  for (int k = 0; k < nknown; k++) {
    const std::string name = parameter_table[k].name;
    EXPECT_EQ(value_index(name.c_str()), k);
    EXPECT_NE(listing.find(" " + name + " "), std::string::npos) << name;
    EXPECT_NE(json.find("\"name\": \"" + name + "\""), std::string::npos) << name;
    // A label naming value k in the place of value k + 1 is caught.
    std::string text;
    for (int j = 0; j < nknown; j++) text += std::string(j == (k + 1) % nknown ? name : "x") + " = 1\n";
    EXPECT_NE(label_warnings(text).find("\"" + name + "\""), std::string::npos) << name;
  }
}

namespace {

// Run build/tavo with arguments in dir; the exit status, standard output and standard error.
struct outcome {
  int status;
  std::string out, err;
};
outcome run_with(const std::string &dir, const std::string &arguments) {
  const std::string out = dir + "/../" + "cli-out.txt", err = dir + "/../" + "cli-err.txt";
  const std::string command = "cd '" + dir + "' && '" + tavo_program() + "' " + arguments + " > '" + out + "' 2> '" + err + "'";
  const int status = system(command.c_str());
  outcome o{status == -1 || !WIFEXITED(status) ? -1 : WEXITSTATUS(status), read_text(out), read_text(err)};
  remove(out.c_str());
  remove(err.c_str());
  return o;
}

// Every file of dir with its contents.
std::vector<std::pair<std::string, std::string>> contents(const std::string &dir) {
  std::vector<std::pair<std::string, std::string>> files;
  for (const std::string &name : entries(dir)) files.emplace_back(name, read_text(dir + "/" + name));
  return files;
}

}  // namespace

// A directory holding the results of a finished fresh run, and a parameter file of a continuation
// (incon 2): a run started here would empty nothing but a mistaken fresh start empties them all.
// No flag and no refused argument may change a byte or add a file.
TEST(CommandLine, FlagsAndRefusalsTouchNoFile) {
  const std::string parent = make_temp_dir();
  const std::string dir = parent + "/run";
  ASSERT_EQ(system(("mkdir '" + dir + "'").c_str()), 0);
  values19 v = test_values();
  v[v_itmax] = 4;
  v[v_itstp] = 2;
  v[v_incon] = 1;
  write_text(dir + "/tavo.inp", parameter_file(v));
  std::string output;
  ASSERT_EQ(run_tavo(dir, &output), 0) << output;
  ASSERT_NE(read_text(dir + "/eng.dat"), "");
  const auto before = contents(dir);

  struct flag_case {
    const char *arguments;
    int status;
    const char *says;  // in standard output for status 0, in the one "|" line of standard error for 1
  };
  const std::vector<flag_case> cases = {
      {"--help", 0, "usage: tavo"},
      {"-h", 0, "docs/README.md"},
      {"--version", 0, "tavo 1."},
      {"--parameters", 0, " nframe "},
      {"--parameters=json", 0, "\"name\": \"iseed\""},
      {"--check", 0, "| cost: "},
      {"--bogus", 1, "unknown argument \"--bogus\""},
      {"tavo.inp", 1, "unknown argument \"tavo.inp\""},
      {"--parameters=xml", 1, "unknown argument"},
      {"--check --help", 1, "2 arguments"},
      {"''", 1, "unknown argument \"\""},
  };
  for (const flag_case &c : cases) {
    SCOPED_TRACE(c.arguments);
    const outcome o = run_with(dir, c.arguments);
    EXPECT_EQ(o.status, c.status) << o.out << o.err;
    if (c.status == 0) {
      EXPECT_NE(o.out.find(c.says), std::string::npos) << o.out;
    } else {
      EXPECT_EQ(o.out, "");
      EXPECT_EQ(o.err.rfind("| ", 0), 0u) << o.err;
      EXPECT_EQ(o.err.find('\n'), o.err.size() - 1) << o.err;
      EXPECT_NE(o.err.find(c.says), std::string::npos) << o.err;
    }
    EXPECT_EQ(contents(dir), before) << "a file changed";
  }

  // --check reports what the run would be: the values by name with their units, the optional
  // ones at their defaults, and refuses a file the run would refuse, the same way.
  const outcome check = run_with(dir, "--check");
  EXPECT_NE(check.out.find("dt       = 0.01"), std::string::npos) << check.out;
  EXPECT_NE(check.out.find("L_perp/c_s"), std::string::npos) << check.out;
  EXPECT_NE(check.out.find("nckpt    = 10"), std::string::npos) << check.out;
  EXPECT_NE(check.out.find("(default)"), std::string::npos) << check.out;
  EXPECT_NE(check.out.find("| memory: "), std::string::npos) << check.out;
  v[v_dt] = 10;  // dt C (1 + 1/P(k)) = 30 at k = 1, far beyond the step's limit
  write_text(dir + "/tavo.inp", parameter_file(v));
  const outcome unstable = run_with(dir, "--check");
  EXPECT_EQ(unstable.status, 0);
  EXPECT_NE(unstable.out.find("| warning: dt = 10 is too large for the parallel coupling"), std::string::npos)
      << unstable.out;
  v[v_dt] = 0;
  write_text(dir + "/tavo.inp", parameter_file(v));
  const auto refused_before = contents(dir);
  const outcome refused = run_with(dir, "--check");
  EXPECT_EQ(refused.status, 1);
  EXPECT_NE((refused.out + refused.err).find("| dt = 0 (value 12)"), std::string::npos) << refused.out;
  EXPECT_EQ(contents(dir), refused_before);
  remove_test_dir(parent);
}

// The examples are what users copy: each must pass the check of its own values.
TEST(CommandLine, EveryExamplePassesTheCheck) {
  const std::string examples = std::string(TAVO_SOURCE_DIR) + "/examples";
  int checked = 0;
  for (const std::string &name : entries(examples)) {
    const std::string input = read_text(examples + "/" + name + "/tavo.inp");
    if (input.empty()) continue;
    checked++;
    SCOPED_TRACE(name);
    std::vector<double> v(nknown);
    for (int k = nvalues; k < nknown; k++) v[k] = parameter_table[k].fallback;
    const value_reading reading = read_values(input, v.data(), nknown);
    EXPECT_EQ(reading_problem(reading), nullptr);
    EXPECT_EQ(refusal_of(v), "");
  }
  EXPECT_GE(checked, 10);
}
