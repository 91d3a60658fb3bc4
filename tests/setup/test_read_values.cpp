// The word reader of "tavo.inp": every word containing '=' marks the next word as the next
// numbered value, which must be a number in full (strtod reads the whole word); all other words are
// ignored. Checked on the marker forms, on values that are no numbers, on more values than are
// stored, on a marker that ends the file and on words far longer than any fixed-size buffer.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "setup/setup.hpp"

namespace {

// What read_values gives for text: the values it stored and its reading.
struct reading_of {
  std::vector<double> values;
  value_reading reading;
};

// Run read_values on text, storing at most maxvalues values (the rest of the store is checked
// for untouched sentinels).
reading_of read_text_values(const std::string &text, int maxvalues = 64) {
  std::vector<double> store(maxvalues + 8, -99.0);
  const value_reading reading = read_values(text, store.data(), maxvalues);
  for (size_t k = maxvalues; k < store.size(); k++)
    EXPECT_EQ(store[k], -99.0) << "read_values wrote entry " << k << " beyond its limit " << maxvalues;
  const int kept = reading.count < maxvalues ? reading.count : maxvalues;
  return {std::vector<double>(store.begin(), store.begin() + kept), reading};
}

TEST(ReadValues, MarkerForms) {
  struct sample {
    const char *text;
    std::vector<double> values;
  };
  const sample samples[] = {
      {"nx=256 10", {10}},                    // the value is the next word, not the 256
      {"nx = 7", {7}},                        // lone '=' between name and number
      {"= 5", {5}},                           // marker as the first word
      {"name 1 = 2 3 = 4", {2, 4}},           // unmarked numbers are ignored
      {"v = 1.5e2 w = -2.5 u = +7e-1 h = 0x1p-2 i = inf", {150, -2.5, 0.7, 0.25, HUGE_VAL}},  // strtod's forms
      {"\tv\t=\t\n\n  6  \r\n", {6}},         // tabs, line ends and carriage returns separate words
      {"", {}},
      {"only names and 42 numbers\n", {}},
  };
  for (const sample &s : samples) {
    const reading_of got = read_text_values(s.text);
    ASSERT_EQ(got.reading.count, static_cast<int>(s.values.size())) << "input: \"" << s.text << "\"";
    for (size_t k = 0; k < s.values.size(); k++)
      EXPECT_EQ(got.values[k], s.values[k]) << "value " << k + 1 << " of input \"" << s.text << "\"";
    EXPECT_FALSE(got.reading.dangling_marker) << "input: \"" << s.text << "\"";
    EXPECT_EQ(got.reading.bad_value, 0) << "input: \"" << s.text << "\"";
    EXPECT_EQ(reading_problem(got.reading) != nullptr, s.values.size() < size_t(nvalues));
  }
}

// A value that is not a number in full: the first one is reported by its number and word, and
// the reading is refused naming both.
TEST(ReadValues, ValuesThatAreNoNumbersAreRefusedByNumberAndWord) {
  struct sample {
    const char *text;
    int bad_value;
    const char *word;
  };
  const sample samples[] = {
      {"dt = 0,01", 1, "0,01"},                         // a decimal comma would read as 0
      {"a = 1 itmax = 1,000", 2, "1,000"},              // would read as 1
      {"nx = 256abc ny = x", 1, "256abc"},              // the first of two
      {"ihype = 2 # k^4 (p=2)\nb_plan = 0", 2, "b_plan"},  // an '=' in a comment takes the next name
      {"a= b=3 4", 1, "b=3"},                           // a value that is a marker is no number
      {"v = 1 = = 2", 2, "="},
      {"x = 1.5.2", 1, "1.5.2"},
      {"x = 0x", 1, "0x"},
      {"x = 1e", 1, "1e"},
  };
  for (const sample &s : samples) {
    SCOPED_TRACE(s.text);
    const reading_of got = read_text_values(s.text);
    EXPECT_EQ(got.reading.bad_value, s.bad_value);
    EXPECT_EQ(got.reading.bad_word, s.word);
    const char *message = reading_problem(got.reading);
    ASSERT_NE(message, nullptr);
    EXPECT_EQ(std::string(message).rfind("| value " + std::to_string(s.bad_value) + " of \"tavo.inp\", \"" + s.word +
                                             "\", is not a number", 0),
              0u)
        << message;
  }
  // A word with an embedded NUL is no number either.
  const reading_of nul = read_text_values(std::string("x = 1\0" "6", 7));
  EXPECT_EQ(nul.reading.bad_value, 1);
}

// Values beyond the store are counted, not written; the first extra word is kept for the warning.
TEST(ReadValues, ValuesBeyondTheStoreAreCountedNotWritten) {
  std::string text;
  for (int k = 1; k <= 25; k++) text += "p" + std::to_string(k) + " = " + std::to_string(k) + "\n";
  text += "p26 = word\n";  // no number, but beyond the store: not refused
  const reading_of got = read_text_values(text, nknown);
  EXPECT_EQ(got.reading.count, 26);
  EXPECT_EQ(got.reading.bad_value, 0);
  ASSERT_EQ(got.values.size(), static_cast<size_t>(nknown));
  for (int k = 0; k < nknown; k++) EXPECT_EQ(got.values[k], k + 1.0) << "value " << k + 1;
  const std::string first_extra = std::to_string(nknown + 1);
  EXPECT_EQ(got.reading.first_extra, first_extra);
  EXPECT_EQ(reading_problem(got.reading), nullptr);
  const char *warning = extra_values_warning(got.reading, nknown);
  ASSERT_NE(warning, nullptr);
  EXPECT_NE(std::string(warning).find("value " + first_extra + ", \"" + first_extra + "\""), std::string::npos)
      << warning;
  EXPECT_EQ(extra_values_warning(read_text_values(text, 30).reading, 30), nullptr) << "26 values, 30 known";
}

TEST(ReadValues, MarkerEndingTheFileHasNoValue) {
  for (const char *text : {"a = 1 b = 2 c =", "a = 1 b = 2 c=\n\n"}) {
    const reading_of got = read_text_values(text);
    EXPECT_EQ(got.reading.count, 2) << text;
    EXPECT_TRUE(got.reading.dangling_marker) << text;
    const char *message = reading_problem(got.reading);
    ASSERT_NE(message, nullptr);
    EXPECT_NE(std::string(message).find("holds 2 values and a marker without value at its end"), std::string::npos)
        << message;
  }
}

TEST(ReadValues, LongWordsAreReadWhole) {
  // A reader cutting words at 79 characters would split each of these and read other values.
  const std::string long_name = "=" + std::string(100, 'a') + "=";  // one marker, not two
  const std::string tiny = "0." + std::string(100, '0') + "1e100";  // 1e-101 * 1e100 = 0.1
  const std::string big = "3" + std::string(150, '0') + "e-150";    // 3
  const std::string comment(500, 'c');
  const std::string text = comment + " " + long_name + " 5 6\n x = " + tiny + " y = " + big + "\n" + comment;
  const reading_of got = read_text_values(text);
  ASSERT_EQ(got.reading.count, 3);
  EXPECT_EQ(got.values[0], 5.0);
  EXPECT_NEAR(got.values[1], 0.1, 1e-16);
  EXPECT_EQ(got.values[2], 3.0);
  EXPECT_FALSE(got.reading.dangling_marker);
  EXPECT_EQ(got.reading.bad_value, 0);
}

}  // namespace
