// The token reader of "tavo.inp": every token containing '=' marks the next token as the next
// numbered value, converted with strtod; all other tokens are ignored. Checked on the marker
// forms, on more values than are stored, on a marker that ends the file and on tokens far longer
// than any fixed-size buffer.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "setup/setup.hpp"

namespace {

// What read_values gives for text: the values it stored, its count and the dangling-marker flag.
struct reading {
  std::vector<double> values;
  int count;
  bool dangling;
};

// Run read_values on text, storing at most maxvalues values (the rest of the store is checked
// for untouched sentinels).
reading read_text_values(const std::string &text, int maxvalues = 64) {
  FILE *file = tmpfile();
  EXPECT_NE(file, nullptr);
  fputs(text.c_str(), file);
  rewind(file);
  std::vector<double> store(maxvalues + 8, -99.0);
  bool dangling = true;
  int count = read_values(file, store.data(), maxvalues, &dangling);
  fclose(file);
  for (size_t k = maxvalues; k < store.size(); k++)
    EXPECT_EQ(store[k], -99.0) << "read_values wrote entry " << k << " beyond its limit " << maxvalues;
  int kept = count < maxvalues ? count : maxvalues;
  if (kept < 0) kept = 0;
  return {std::vector<double>(store.begin(), store.begin() + kept), count, dangling};
}

// Compare a reading with the expected values, naming the input on failure.
void expect_values(const std::string &text, const reading &got, const std::vector<double> &want) {
  ASSERT_EQ(got.count, static_cast<int>(want.size())) << "input: \"" << text << "\"";
  for (size_t k = 0; k < want.size(); k++)
    EXPECT_EQ(got.values[k], want[k]) << "value " << k + 1 << " of input \"" << text << "\"";
}

TEST(ReadValues, MarkerForms) {
  struct sample {
    const char *text;
    std::vector<double> values;
  };
  const sample samples[] = {
      {"nx=256 10", {10}},                    // the value is the next token, not the 256
      {"nx = 7", {7}},                        // lone '=' between name and number
      {"nx= 3\nny =4 ny2 = 5", {3, 0, 5}},   // "=4" is a marker followed by "ny2", which reads as 0
      {"= 5", {5}},                           // marker as the first token
      {"name 1 = 2 3 = 4", {2, 4}},           // unmarked numbers are ignored
      {"a= b=3 4", {0, 4}},                   // a value containing '=' is itself a marker
      {"v = 1 = = 2", {1, 0, 2}},             // the value "=" reads 0 and marks the 2
      {"a = x 1", {0}},                       // a value without numeric prefix reads as 0
      {"v = 1.5e2abc w = -2.5 u = +7e-1", {150, -2.5, 0.7}},  // longest numeric prefix
      {"\tv\t=\t\n\n  6  \r\n", {6}},         // tabs, line ends and carriage returns separate tokens
      {"", {}},
      {"only names and 42 numbers\n", {}},
  };
  for (const sample &s : samples) {
    reading got = read_text_values(s.text);
    expect_values(s.text, got, s.values);
    EXPECT_FALSE(got.dangling) << "input: \"" << s.text << "\"";
  }
}

TEST(ReadValues, ValuesBeyondTheStoreAreCountedNotWritten) {
  std::string text;
  for (int k = 1; k <= 25; k++) text += "p" + std::to_string(k) + " = " + std::to_string(k) + "\n";
  reading got = read_text_values(text, nvalues);
  EXPECT_EQ(got.count, 25);
  ASSERT_EQ(got.values.size(), static_cast<size_t>(nvalues));
  for (int k = 0; k < nvalues; k++) EXPECT_EQ(got.values[k], k + 1.0) << "value " << k + 1;
}

TEST(ReadValues, MarkerEndingTheFileHasNoValue) {
  struct sample {
    const char *text;
    std::vector<double> values;
  };
  const sample samples[] = {
      {"a = 1 b = 2 c =", {1, 2}},
      {"a = 1 b = 2 c=\n\n", {1, 2}},
      {"a = 1 b = 2 c = x=", {1, 2, 0}},  // the last value is a marker with nothing after it
  };
  for (const sample &s : samples) {
    reading got = read_text_values(s.text);
    expect_values(s.text, got, s.values);
    EXPECT_TRUE(got.dangling) << "input: \"" << s.text << "\"";
  }
}

TEST(ReadValues, LongTokensAreReadWhole) {
  // A reader cutting tokens at 79 characters would split each of these and read other values.
  const std::string long_name = "=" + std::string(100, 'a') + "=";  // one marker, not two
  const std::string tiny = "0." + std::string(100, '0') + "1e100";  // 1e-101 * 1e100 = 0.1
  const std::string big = "3" + std::string(150, '0') + "e-150";    // 3
  const std::string comment(500, 'c');
  const std::string text = comment + " " + long_name + " 5 6\n x = " + tiny + " y = " + big + "\n" + comment;
  reading got = read_text_values(text);
  ASSERT_EQ(got.count, 3);
  EXPECT_EQ(got.values[0], 5.0);
  EXPECT_NEAR(got.values[1], 0.1, 1e-16);
  EXPECT_EQ(got.values[2], 3.0);
  EXPECT_FALSE(got.dangling);
}

}  // namespace
