// Fast number formatting, equal to glibc printf.
//
// std::to_chars with an explicit precision gives the same digits as printf's "%.*e" and "%.*f"
// (both round the exact binary value half to even) and the same layout (at least two exponent
// digits, a sign on the exponent, a '-' on negative numbers including -0). The non-finite values
// are spelled here, so that the result never depends on the library's choice for them.
//
// "%.6e" carries the multi-megabyte snapshots, so it has a fast path: with E the decimal exponent
// of |v|, m = |v|*10^(6-E) lies in [1e6, 1e7) and its nearest integer holds the seven digits.
// The product with the correctly rounded power of ten is off by at most about 2.3e-16 relative,
// that is 2.3e-9 absolute, so the rounding of m is certain unless its fraction lies within 1e-8
// of one half; those values (about one in 5e7), and exponents beyond 1e+-290, take to_chars.
#include "common/numfmt.hpp"

#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstdint>
#include <cstring>


// Spell inf, -inf, nan or -nan as printf does; v is not finite.
static char *put_nonfinite(char *p, double v) {
  if (std::signbit(v)) *p++ = '-';
  if (std::isnan(v)) {
    memcpy(p, "nan", 3);
  } else {
    memcpy(p, "inf", 3);
  }
  return p + 3;
}

char *put_e(char *p, double v, int precision) {
  if (!std::isfinite(v)) return put_nonfinite(p, v);
  return std::to_chars(p, p + precision + 8, v, std::chars_format::scientific, precision).ptr;
}

// Correctly rounded powers 10^k, k = -pow10_reach .. pow10_reach (strtod rounds exactly).
constexpr int pow10_reach = 300;
struct pow10_table {
  double value[2 * pow10_reach + 1];
  pow10_table() {
    char text[16];
    for (int k = -pow10_reach; k <= pow10_reach; k++) {
      snprintf(text, sizeof text, "1e%d", k);
      value[k + pow10_reach] = strtod(text, nullptr);
    }
  }
};

// Two decimal digits of 0 .. 99 per entry.
static const char digit_pairs[] =
    "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
    "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
    "8081828384858687888990919293949596979899";

char *put_e6(char *p, double v) {
  static const pow10_table pow10;
  double a = std::fabs(v);
  if (!(a >= 1e-290 && a <= 1e290)) {
    // zero, subnormal, extreme or non-finite: the general routine
    if (a == 0.0) {
      if (std::signbit(v)) *p++ = '-';
      memcpy(p, "0.000000e+00", 12);
      return p + 12;
    }
    return put_e(p, v, 6);
  }
  // a is normal here: a = 1.f * 2^e2 with e2 from the exponent bits, so a >= 2^e2 and this
  // estimate is the decimal exponent or one below it
  uint64_t bits;
  memcpy(&bits, &a, sizeof bits);
  int e2 = int(bits >> 52) - 1023;
  int e10 = (e2 * 78913) >> 18;  // floor(e2*log10(2)) for |e2| < 2^12
  double m = a * pow10.value[6 - e10 + pow10_reach];
  if (m >= 1e7) {
    e10++;
    m = a * pow10.value[6 - e10 + pow10_reach];
  }
  double whole = std::floor(m);
  double frac = m - whole;
  if (std::fabs(frac - 0.5) <= 1e-8) return put_e(p, v, 6);
  long digits = long(whole) + (frac > 0.5 ? 1 : 0);
  if (digits == 10000000) {
    digits = 1000000;
    e10++;
  }
  if (digits < 1000000 || digits > 9999999) return put_e(p, v, 6);
  *p = '-';  // kept only for a negative value (no branch on the sign)
  p += v < 0;
  // seven digits d.dddddd
  long high = digits / 1000000, low = digits % 1000000;
  p[0] = char('0' + high);
  p[1] = '.';
  int pair0 = int(low / 10000), pair1 = int(low / 100 % 100), pair2 = int(low % 100);
  memcpy(p + 2, digit_pairs + 2 * pair0, 2);
  memcpy(p + 4, digit_pairs + 2 * pair1, 2);
  memcpy(p + 6, digit_pairs + 2 * pair2, 2);
  p[8] = 'e';
  p[9] = e10 < 0 ? '-' : '+';
  int ea = e10 < 0 ? -e10 : e10;
  p += 10;
  if (ea >= 100) {
    *p++ = char('0' + ea / 100);
    ea %= 100;
  }
  memcpy(p, digit_pairs + 2 * ea, 2);
  return p + 2;
}

char *put_f(char *p, double v, int precision) {
  if (!std::isfinite(v)) return put_nonfinite(p, v);
  return std::to_chars(p, p + precision + 311, v, std::chars_format::fixed, precision).ptr;
}

char *put_d(char *p, int v) { return std::to_chars(p, p + 11, v).ptr; }

char *put_s(char *p, const char *s) {
  size_t n = strlen(s);
  memcpy(p, s, n);
  return p + n;
}
