// Reading the restart file "restart.dat" into the state of a continued run.
//
// The file is a start time followed by records of fourteen numbers: x, y, eno, pe, ne, ne1, ne2,
// ni, ni1, ni2, fne1, fne2, fni1, fni2 (the columns of writerestart). Tokens are whitespace-
// delimited words, so the reader does not depend on the line structure; each record names its own
// point, so records may come in any order and a repeated point keeps its last record. Every
// process reads the whole file and keeps the records of its own rows (the file is the fallback of
// "restart.nc", which each process reads for its rows alone). After the read pi = Gamma pe restores
// the rest of the multistep state.
// Anything the writer cannot have produced stops the run with one "|" line naming the file and
// the record: a missing or unreadable file, a file ending inside a record or without a final line
// end (cut short inside its last number, which would read as another value), a token that is not
// a number in full, a start time that no run reaches (not finite, negative or beyond
// max_start_time), a point outside the grid of this run. The file is read in large blocks through
// a buffer that grows for long tokens, so a token of any length is read safely.
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "common/files.hpp"
#include "common/state.hpp"
#include "io/io.hpp"
#include "parallel/processes.hpp"
#include "scheme/scheme.hpp"

static const char *const restart_name = "restart.dat";
constexpr int record_length = 14;  // numbers per point record
constexpr double max_start_time = 1e12;  // beyond any run: 2e13 steps of dt = 0.05

// The block reader: unread text is buffer[first .. last); one byte beyond capacity holds a NUL.
// A failure of the reader itself (a read error, no memory) is kept in trouble.
static FILE *source;
static char *buffer;
static size_t capacity, first, last;
static bool exhausted;
static const char *trouble;
static char final_byte;  // the last byte of the file read so far

// The message of the current parse, valid until the next one.
static char message[256];

// Format the message and return it.
__attribute__((format(printf, 1, 2))) static const char *problem(const char *format, ...) {
  va_list args;
  va_start(args, format);
  vsnprintf(message, sizeof message, format, args);
  va_end(args);
  return message;
}

// The white space of the C locale (what isspace accepts), without a library call per character.
static inline bool blank(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

// Read more of the file behind the unread text (moved to the front); false at the end of the file
// and on a failure (then trouble holds its message).
static bool refill() {
  if (exhausted) return false;
  if (first > 0) {
    memmove(buffer, buffer + first, last - first);
    last -= first;
    first = 0;
  }
  if (last == capacity) {  // one token fills the whole buffer: make room for the rest of it
    char *larger = static_cast<char *>(realloc(buffer, 2 * capacity + 1));
    if (!larger) {
      trouble = problem("| \"%s\": no memory for a token of more than %zu characters", restart_name, last);
      exhausted = true;
      return false;
    }
    buffer = larger;
    capacity *= 2;
  }
  const size_t count = fread(buffer + last, 1, capacity - last, source);
  if (count == 0) {
    if (ferror(source)) trouble = problem("| reading \"%s\" failed: %s", restart_name, strerror(errno));
    exhausted = true;
    return false;
  }
  last += count;
  final_byte = buffer[last - 1];
  return true;
}

// The next whitespace-delimited token, terminated in place, with its length; nullptr at the end
// of the file or on a failure. The token stays valid until the next call.
static const char *next_token(size_t *length) {
  for (;;) {
    while (first < last && blank(buffer[first])) first++;
    if (first < last) break;
    if (!refill()) return nullptr;
  }
  size_t end = first;
  for (;;) {
    while (end < last && !blank(buffer[end])) end++;
    if (end < last) break;
    const size_t offset = end - first;
    const bool more = refill();  // moves the unread text to the front even at the end of the file
    end = first + offset;
    if (!more) break;
  }
  if (trouble) return nullptr;
  buffer[end] = '\0';
  const char *token = buffer + first;
  *length = end - first;
  first = end < last ? end + 1 : end;
  return token;
}

// strtod of a whole token; false when the token is not a number in full (an embedded NUL counts
// as a non-numeric character). from_chars gives the same correctly rounded value several times
// faster; strtod takes what it leaves: a leading '+', hexadecimal forms, values out of range, and
// NaNs, whose payload "nan(123)" from_chars drops.
static bool whole_real(const char *token, size_t length, double *value) {
  const char *end = token + length;
  const std::from_chars_result quick = std::from_chars(token, end, *value);
  if (quick.ec == std::errc() && quick.ptr == end && !std::isnan(*value)) return true;
  char *stop;
  *value = strtod(token, &stop);
  return length > 0 && stop == end;
}

// strtol (base 10) of a whole token; false when it is not an integer in full. An integer beyond
// the range of long reads as LONG_MIN or LONG_MAX, which lies outside every grid.
static bool whole_integer(const char *token, size_t length, long *value) {
  const char *end = token + length;
  const std::from_chars_result quick = std::from_chars(token, end, *value);
  if (quick.ec == std::errc() && quick.ptr == end) return true;
  char *stop;
  *value = strtol(token, &stop, 10);
  return length > 0 && stop == end;
}

// The message for a token that is not a number: record 0 is the header.
static const char *not_a_number(long record, int column, const char *token, size_t length) {
  const char *more = length > 40 ? "..." : "";
  if (record == 0) return problem("| \"%s\", header: the start time \"%.40s%s\" is not a number", restart_name, token, more);
  return problem("| \"%s\", record %ld, column %d: \"%.40s%s\" is not a number", restart_name, record, column, token,
                 more);
}

// The records of the open file into eno and the stored arrays; the reader is set up.
static const char *parse_records(double *time, long *named_points) {
  size_t length;
  const char *token = next_token(&length);
  if (trouble) return trouble;
  if (!token) return problem("| \"%s\" is empty: the start time is missing", restart_name);
  if (!whole_real(token, length, time)) return not_a_number(0, 1, token, length);
  if (!(*time >= 0 && *time <= max_start_time))
    return problem("| \"%s\", header: the start time %g lies outside 0 .. %g: no run reaches it", restart_name, *time,
                   max_start_time);

  // Which points of this process's rows the file has named, to report a file that covers only
  // part of the grid.
  std::vector<unsigned char> named(static_cast<size_t>(slab_rows) * ny, 0);
  long named_count = 0;

  array2d *columns[12] = {nullptr, &pe, &ne, &ne1, &ne2, &ni, &ni1, &ni2, &fne1, &fne2, &fni1, &fni2};
  long record = 0;
  while ((token = next_token(&length)) != nullptr) {
    record++;
    long x, y;
    if (!whole_integer(token, length, &x)) return not_a_number(record, 1, token, length);
    token = next_token(&length);
    if (trouble) return trouble;
    if (!token)
      return problem("| \"%s\", record %ld: the file ends after 1 of its %d numbers", restart_name, record,
                     record_length);
    if (!whole_integer(token, length, &y)) return not_a_number(record, 2, token, length);
    if (x < 0 || x > nx1 || y < 0 || y > ny1)
      return problem("| \"%s\", record %ld: point (%ld, %ld) lies outside the %d x %d grid of this run: the file "
                     "was written for another grid", restart_name, record, x, y, nx, ny);
    const bool mine = steps_row(static_cast<int>(x));  // the values of other processes' rows are theirs
    for (int c = 0; c < 12; c++) {
      token = next_token(&length);
      if (trouble) return trouble;
      if (!token)
        return problem("| \"%s\", record %ld: the file ends after %d of its %d numbers", restart_name, record, c + 2,
                       record_length);
      double value;
      if (!whole_real(token, length, &value)) return not_a_number(record, c + 3, token, length);
      if (c == 0) eno = value;
      else if (mine) (*columns[c])[x][y] = value;
    }
    if (!mine) continue;
    unsigned char &seen = named[static_cast<size_t>(x - slab_first) * ny + y];
    if (!seen) named_count++;
    seen = 1;
  }
  if (trouble) return trouble;
  if (final_byte != '\n') {
    if (record == 0)
      return problem("| \"%s\" does not end with a line end: the file was cut short inside its header", restart_name);
    return problem("| \"%s\" does not end with a line end: the file was cut short inside its last line (record %ld)",
                   restart_name, record);
  }
  *named_points = named_count;
  return nullptr;
}

const char *restart_problem(FILE *file, double *time, long *named_points) {
  source = file;
  capacity = size_t(1) << 20;
  first = last = 0;
  exhausted = false;
  trouble = nullptr;
  final_byte = '\0';
  buffer = static_cast<char *>(malloc(capacity + 1));
  if (!buffer) return problem("| \"%s\": no memory for the read buffer", restart_name);
  const char *result = parse_records(time, named_points);
  free(buffer);
  buffer = nullptr;
  source = nullptr;
  return result;
}

// Read "restart.dat" into eno, pe, the densities, their levels and past tendencies; returns the
// stored time.
double readrestart() {
  printf("| continued data set... \n");
  fflush(stdout);

  FILE *file = open_file(restart_name, "r");
  double time = 0.0;
  long named_count = 0;
  const char *failure = restart_problem(file, &time, &named_count);
  fclose(file);
  if (failure) fatal("%s", failure);

  double named = static_cast<double>(named_count);
  sum_over_processes(&named, 1);
  if (named < static_cast<double>(nx) * ny) {
    printf("| %s holds %.0f of %d grid points\n", restart_name, named, nx * ny);
    fflush(stdout);
  }

  spectral_solve(pe, cpoti, pi);
  return time;
}
