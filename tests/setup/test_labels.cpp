// The label check of the parameter file: a label that names another known value means the file is
// misread (a stray '=' in a comment shifts every later value, a line lost its '=', two lines were
// swapped), and the file is refused with a line naming the first value read in another place and
// the word that moved it; files whose labels fit their places or name nothing pass.
#include <gtest/gtest.h>

#include <string>

#include "setup/setup.hpp"
#include "support/run_setup.hpp"

namespace {

// The text with the first occurrence of `from` replaced by `to`.
std::string replaced(std::string text, const std::string &from, const std::string &to) {
  const size_t at = text.find(from);
  EXPECT_NE(at, std::string::npos) << from;
  return at == std::string::npos ? text : text.replace(at, from.size(), to);
}

TEST(Labels, AValueLabelledWithAnotherNameRefusesTheFile) {
  const std::string good = parameter_file(test_values());  // "name = value" lines in order, one a line
  struct label_case {
    std::string what, text, want;  // want: the refusal, "" when the file passes
  };
  const label_case cases[] = {
      {"labels in their places", good, ""},
      {"the optional values named too", good + "nframe = 1\nnckpt = 10\niseed = 3\n", ""},
      {"words that name no value", "C = 1 tau_i = 1 grid: = 3 = 4", ""},
      {"a marker at the very end has no value", "chat = 1 ny =", ""},
      {"beyond the known values", good + "nframe = 1\nnckpt = 10\niseed = 3\ncfl = 0\nchat = 5\n", ""},
      {"a comment holding '=' shifts the later values", replaced(good, "itmax = 1\n", "itmax = 1  t = 400\n"),
       "| \"tavo.inp\" is misread: the value labelled \"ntrace\" is read as value 16 (ipade), not 15 (ntrace), moved "
       "1 place by the word \"t =\" on line 14, which holds '=' and so starts a value (a comment holding '='?)"},
      {"a marker glued to its word", replaced(good, "chat = 1\n", "chat = 1 C=1 C=2\n"),
       "| \"tavo.inp\" is misread: the value labelled \"taui\" is read as value 4 (diff), not 2 (taui), moved 2 "
       "places by the word \"C=1\" on line 1, which holds '=' and so starts a value (a comment holding '='?)"},
      {"a line that lost its '='", replaced(good, "ntrace = 0\n", "ntrace 0\n"),
       "| \"tavo.inp\" is misread: the value labelled \"ipade\" is read as value 15 (ntrace), not 16 (ipade), moved "
       "1 place: a word holding '=' is missing between the value labelled \"itmax\" on line 14 and this one on line "
       "16"},
      {"swapped nx and ny lines", replaced(replaced(good, "nx = ", "NY = "), "ny = ", "nx = "),
       "| \"tavo.inp\" is misread: the value labelled \"NY\" is read as value 10 (nx), not 11 (ny), and the one "
       "labelled \"nx\" on line 11 as value 11 (ny): the two are swapped (values are read by their place)"},
      {"a line written twice", replaced(good, "taui = 1\n", "chat = 1\n"),
       "| \"tavo.inp\" is misread: the value labelled \"chat\" is read as value 2 (taui), not 1 (chat): value 1 "
       "came before it, on line 1 (a line written twice?)"},
  };
  for (const label_case &c : cases) {
    const char *problem = label_problem(c.text);
    EXPECT_EQ(problem ? problem : "", c.want) << c.what;
  }
}

}  // namespace
