// The label check of the parameter file: a label that names another known value (swapped lines,
// a stray '=' in a comment that shifts every later value) is named with both values; files whose
// labels fit their places or name nothing pass silently.
#include <gtest/gtest.h>

#include <string>

#include "setup/setup.hpp"
#include "support/run_setup.hpp"

namespace {

TEST(Labels, WarningsNameTheLabelAndItsPlace) {
  const std::string good = parameter_file(test_values());  // "name = value" lines in order
  std::string swapped = good;
  const size_t nx_at = swapped.find("nx = "), ny_at = swapped.find("ny = ");
  swapped.replace(nx_at, 2, "ny");
  swapped.replace(ny_at, 2, "nx");
  const std::string value10_as_ny = "| warning: \"tavo.inp\": value 10 is labelled \"ny\", the name of value 11 (ny); "
                                    "it is read as nx (value 10), by its place\n";
  const std::string value11_as_nx = "| warning: \"tavo.inp\": value 11 is labelled \"nx\", the name of value 10 (nx); "
                                    "it is read as ny (value 11), by its place\n";
  struct label_case {
    std::string what, text, want;
  };
  const label_case cases[] = {
      {"labels in their places", good, ""},
      {"the optional values named too", good + "nframe = 1\nnckpt = 10\niseed = 3\n", ""},
      {"swapped nx and ny lines", swapped, value10_as_ny + value11_as_nx},
      {"markers glued to the name, other case", "NY= 16 nx= 16", "| warning: \"tavo.inp\": value 1 is labelled \"NY\", "
       "the name of value 11 (ny); it is read as chat (value 1), by its place\n| warning: \"tavo.inp\": value 2 is "
       "labelled \"nx\", the name of value 10 (nx); it is read as taui (value 2), by its place\n"},
      {"words that name no value", "C = 1 tau_i = 1 grid: = 3 = 4", ""},
      {"a marker at the very end has no value", "chat = 1 ny =", ""},
      {"a '=' in a comment shifts the later values",
       "chat = 1 coupling, C = 1\ntaui = 0\n", "| warning: \"tavo.inp\": value 3 is labelled \"taui\", the name of "
       "value 2 (taui); it is read as delta (value 3), by its place\n"},
      {"beyond the known values", good + "nframe = 1\nnckpt = 10\niseed = 3\ncfl = 0\nchat = 5\n", ""},
  };
  for (const label_case &c : cases) EXPECT_EQ(label_warnings(c.text), c.want) << c.what;
}

}  // namespace
