// The fast number formatting must equal glibc printf byte for byte; the buffered writer must
// deliver exactly the collected text and stop the run on a failed write.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cfloat>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "common/numfmt.hpp"
#include "common/writer.hpp"
#include "support/run_setup.hpp"

namespace {

enum format_id { f_e6, f_e3, f_f6, f_f3, f_f8 };
const char *const format_text[] = {"%.6e", "%.3e", "%f", "%.3f", "%.8f"};

// Text of v through the fast routine for format id.
std::string fast(format_id id, double v) {
  static char buffer[512];
  char *end = buffer;
  switch (id) {
    case f_e6: end = put_e6(buffer, v); break;
    case f_e3: end = put_e(buffer, v, 3); break;
    case f_f6: end = put_f6(buffer, v); break;
    case f_f3: end = put_f(buffer, v, 3); break;
    case f_f8: end = put_f(buffer, v, 8); break;
  }
  return std::string(buffer, end);
}

// Text of v through printf.
std::string reference(format_id id, double v) {
  char buffer[512];
  int n = snprintf(buffer, sizeof buffer, format_text[id], v);
  return std::string(buffer, n);
}

// Compare every format on v; returns false (after one report) on the first difference.
bool same_as_printf(double v, int *reported) {
  bool ok = true;
  for (format_id id : {f_e6, f_e3, f_f6, f_f3, f_f8}) {
    std::string got = fast(id, v), want = reference(id, v);
    if (got != want) {
      ok = false;
      if ((*reported)++ < 10)
        ADD_FAILURE() << "format " << format_text[id] << " of " << std::hexfloat << v
                      << ": got \"" << got << "\", printf gives \"" << want << "\"";
    }
  }
  return ok;
}

// A double from its bit pattern.
double from_bits(uint64_t bits) {
  double v;
  memcpy(&v, &bits, sizeof v);
  return v;
}

}  // namespace

TEST(Numfmt, SpecialValuesMatchPrintf) {
  const double values[] = {0.0, -0.0, 1.0, -1.0, 0.5, 9.9999995, 9.99999949999, 9.9999994999999,
                           -9.9999995, 0.99999995, 1.0000005, 1.0000015, 1.0000025, 2.5, 0.125,
                           1e-5, 1e-12, 1e+100, 1e-100, 123456789012345678.0, 1e22, 1e23,
                           DBL_MAX, -DBL_MAX, DBL_MIN, -DBL_MIN, DBL_TRUE_MIN, -DBL_TRUE_MIN,
                           DBL_MIN / 3, 4.9406564584124654e-324, 2.2250738585072009e-308,
                           1e-290, 1e290, 9.9999995e289, 9.9999995e-291, 0.0005, 0.0015, 0.0025,
                           1.00000000049, 0.000000005, 0.000000015, 12345.0005, M_PI,
                           HUGE_VAL, -HUGE_VAL, std::nan(""), -std::nan(""), from_bits(0x7ff0000000000001ull),
                           from_bits(0xfff8000000000123ull)};
  int reported = 0;
  for (double v : values) same_as_printf(v, &reported);
  EXPECT_EQ(reported, 0);
}

TEST(Numfmt, RandomAndNearHalfValuesMatchPrintf) {
  std::mt19937_64 random(20240611);
  int reported = 0;
  // random bit patterns: every exponent, subnormals, infinities and NaNs
  for (int i = 0; i < 20000; i++) same_as_printf(from_bits(random()), &reported);
  // values of the sizes a run prints
  std::normal_distribution<double> normal(0.0, 1.0);
  std::uniform_int_distribution<int> exponent(-20, 20);
  for (int i = 0; i < 200000; i++) same_as_printf(normal(random) * std::pow(10.0, exponent(random)), &reported);
  // decimal half-way points of the 7th significant digit and their neighbours
  std::uniform_int_distribution<long> mantissa(1000000, 9999999);
  std::uniform_int_distribution<int> wide_exponent(-300, 300);
  char text[64];
  for (int i = 0; i < 50000; i++) {
    snprintf(text, sizeof text, "%ld5e%d", mantissa(random), wide_exponent(random) - 7);
    double v = strtod(text, nullptr);
    for (double w : {v, nextafter(v, 0.0), nextafter(v, HUGE_VAL), -v}) same_as_printf(w, &reported);
  }
  // exactly representable halves, which printf rounds to even
  for (long m = 1000000; m < 1000000 + 20000; m++) {
    same_as_printf(double(m) + 0.5, &reported);
    same_as_printf(-(double(m) + 0.5) * 1e6, &reported);
  }
  EXPECT_EQ(reported, 0);
}

TEST(Numfmt, IntegersAndTextMatchPrintf) {
  const int values[] = {0, 1, -1, 9, 10, 99, 100, 1025, -1026, 123456789, INT_MAX, INT_MIN};
  char buffer[64], want[64];
  for (int v : values) {
    char *end = put_d(buffer, v);
    snprintf(want, sizeof want, "%d", v);
    EXPECT_EQ(std::string(buffer, end), std::string(want)) << "value " << v;
  }
  char *end = put_s(buffer, "  x ");
  EXPECT_EQ(std::string(buffer, end), "  x ");
}

TEST(Numfmt, WriterDeliversTextLargerThanItsBuffer) {
  std::string dir = make_temp_dir();
  std::string name = dir + "/big.txt";
  std::string expected;
  writer w;
  writer_open(w, name.c_str(), "w");
  char line[64];
  for (int i = 0; i < 120000; i++) {
    double v = std::sin(i * 0.37) * std::pow(10.0, i % 23 - 11);
    char *p = writer_room(w);
    p = put_d(p, i);
    p = put_s(p, "  ");
    p = put_e6(p, v);
    *p++ = '\n';
    w.pos = p;
    snprintf(line, sizeof line, "%d  %.6e\n", i, v);
    expected += line;
  }
  // a block bigger than the whole buffer goes through writer_put
  std::string block(writer_size + 12345, 'z');
  writer_put(w, block.data(), block.size());
  expected += block;
  writer_put(w, "end\n", 4);
  expected += "end\n";
  writer_close(w);
  std::string got = read_text(name);
  EXPECT_EQ(got.size(), expected.size());
  EXPECT_TRUE(got == expected) << "file content differs from the printf text";
  remove(name.c_str());
  rmdir(dir.c_str());
}

TEST(NumfmtDeathTest, FailedWriteStopsWithTheFileName) {
  if (access("/dev/full", W_OK) != 0) GTEST_SKIP() << "no /dev/full";
  EXPECT_EXIT(
      {
        dup2(STDERR_FILENO, STDOUT_FILENO);  // the "|" message goes to standard output
        writer w;
        writer_open(w, "/dev/full", "w");
        std::vector<char> data(3 * writer_size, 'a');
        writer_put(w, data.data(), data.size());
        writer_close(w);
        exit(0);
      },
      testing::ExitedWithCode(1), "\\| writing \"/dev/full\" failed");
}
