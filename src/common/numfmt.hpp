// Fast number formatting for the large text outputs, byte for byte equal to glibc printf.
//
// Each put_* routine writes the text that printf would produce for its format at p, without a
// terminating NUL, and returns the pointer just past the last character written. The digits come
// from std::to_chars, which rounds exactly (round-half-even on the exact binary value) as glibc
// printf does; infinities and NaNs are spelled as printf spells them: "inf", "-inf", "nan", "-nan".
//
// Room needed at p: put_e6 at most 14 characters ("-1.234567e+308"), put_e(precision) at most
// precision + 8, put_d at most 11, put_f(precision) at most precision + 311 (a huge value prints
// all its integer digits), put_f6 at most 317.
// The buffered file writer that carries these texts to the files is common/writer.hpp.
#pragma once

#include <cstddef>
#include <cstdio>

// "%.6e"
char *put_e6(char *p, double v);

// "%.*e" with the given precision (0 .. 30).
char *put_e(char *p, double v, int precision);

// "%.*f" with the given precision (0 .. 30); "%f" is precision 6.
char *put_f(char *p, double v, int precision);

// "%f" (six decimals).
inline char *put_f6(char *p, double v) { return put_f(p, v, 6); }

// "%d"
char *put_d(char *p, int v);

// Copy the characters of s (without its NUL).
char *put_s(char *p, const char *s);
