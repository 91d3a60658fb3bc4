// Reading the restart file "restart.dat" into the state of a continued run.
//
// The file is a start time followed by records of fourteen numbers: x, y, eno, pe, ne, ne1, ne2,
// ni, ni1, ni2, fne1, fne2, fni1, fni2 (the columns of writerestart). Tokens are whitespace-
// delimited words, so the reader does not depend on the line structure; each record names its own
// point, so records may come in any order and a repeated point keeps its last record. After the
// read pi = Gamma pe and ne0 = ne, ni0 = ni restore the rest of the multistep state.
// Anything the writer cannot have produced stops the run with one "|" line naming the file and
// the record: a missing or unreadable file, a file ending inside a record, a token that is not a
// number in full, a point outside the grid of this run. The file is read in large blocks through
// a buffer that grows for long tokens, so a token of any length is read safely.
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "common/files.hpp"
#include "common/state.hpp"
#include "initial/initial.hpp"
#include "operators/operators.hpp"

static const char *const restart_name = "restart.dat";
constexpr int record_length = 14;  // numbers per point record

// The block reader: unread text is buffer[first .. last); one byte beyond capacity holds a NUL.
static FILE *source;
static char *buffer;
static size_t capacity, first, last;
static bool exhausted;

// The white space of the C locale (what isspace accepts), without a library call per character.
static inline bool blank(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

// Read more of the file behind the unread text (moved to the front); false at the end of the file.
static bool refill() {
  if (exhausted) return false;
  if (first > 0) {
    memmove(buffer, buffer + first, last - first);
    last -= first;
    first = 0;
  }
  if (last == capacity) {  // one token fills the whole buffer: make room for the rest of it
    capacity *= 2;
    char *larger = static_cast<char *>(realloc(buffer, capacity + 1));
    if (!larger) fatal("| \"%s\": no memory for a token of more than %zu characters", restart_name, last);
    buffer = larger;
  }
  const size_t count = fread(buffer + last, 1, capacity - last, source);
  if (count == 0) {
    if (ferror(source)) fatal("| reading \"%s\" failed: %s", restart_name, strerror(errno));
    exhausted = true;
    return false;
  }
  last += count;
  return true;
}

// The next whitespace-delimited token, terminated in place, with its length; nullptr at the end
// of the file. The token stays valid until the next call.
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
  buffer[end] = '\0';
  const char *token = buffer + first;
  *length = end - first;
  first = end < last ? end + 1 : end;
  return token;
}

// strtod of a whole token; false when the token is not a number in full (an embedded NUL counts
// as a non-numeric character). from_chars gives the same correctly rounded value several times
// faster; strtod takes what it leaves: a leading '+', hexadecimal forms, values out of range.
static bool whole_real(const char *token, size_t length, double *value) {
  const char *end = token + length;
  const std::from_chars_result quick = std::from_chars(token, end, *value);
  if (quick.ec == std::errc() && quick.ptr == end) return true;
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

// Stop on a token that is not a number: record 0 is the header.
[[noreturn]] static void not_a_number(long record, int column, const char *token, size_t length) {
  const char *more = length > 40 ? "..." : "";
  if (record == 0) fatal("| \"%s\", header: the start time \"%.40s%s\" is not a number", restart_name, token, more);
  fatal("| \"%s\", record %ld, column %d: \"%.40s%s\" is not a number", restart_name, record, column, token, more);
}

// Read "restart.dat" into eno, pe, the densities, their levels and past tendencies; returns the
// stored time.
double readrestart() {
  printf("| continued data set... \n");
  fflush(stdout);

  source = open_file(restart_name, "r");
  capacity = size_t(1) << 20;
  buffer = static_cast<char *>(malloc(capacity + 1));
  if (!buffer) fatal("| \"%s\": no memory for the read buffer", restart_name);
  first = last = 0;
  exhausted = false;

  size_t length;
  const char *token = next_token(&length);
  if (!token) fatal("| \"%s\" is empty: the start time is missing", restart_name);
  double time;
  if (!whole_real(token, length, &time)) not_a_number(0, 1, token, length);

  // Which points the file has named, to report a file that covers only part of the grid.
  unsigned char *named = static_cast<unsigned char *>(calloc(size_t(nx) * ny, 1));
  if (!named) fatal("| \"%s\": no memory for the point list", restart_name);
  long named_count = 0;

  array2d *columns[12] = {nullptr, &pe, &ne, &ne1, &ne2, &ni, &ni1, &ni2, &fne1, &fne2, &fni1, &fni2};
  long record = 0;
  while ((token = next_token(&length)) != nullptr) {
    record++;
    long x, y;
    if (!whole_integer(token, length, &x)) not_a_number(record, 1, token, length);
    token = next_token(&length);
    if (!token) fatal("| \"%s\", record %ld: the file ends after 1 of its %d numbers", restart_name, record, record_length);
    if (!whole_integer(token, length, &y)) not_a_number(record, 2, token, length);
    if (x < 0 || x > nx1 || y < 0 || y > ny1)
      fatal("| \"%s\", record %ld: point (%ld, %ld) lies outside the %d x %d grid of this run: the file was "
            "written for another grid", restart_name, record, x, y, nx, ny);
    for (int c = 0; c < 12; c++) {
      token = next_token(&length);
      if (!token)
        fatal("| \"%s\", record %ld: the file ends after %d of its %d numbers", restart_name, record, c + 2,
              record_length);
      double value;
      if (!whole_real(token, length, &value)) not_a_number(record, c + 3, token, length);
      if (c == 0) eno = value;
      else (*columns[c])[x][y] = value;
    }
    unsigned char &seen = named[size_t(x) * ny + size_t(y)];
    if (!seen) named_count++;
    seen = 1;
  }
  fclose(source);
  free(buffer);
  free(named);
  buffer = nullptr;

  if (named_count < long(nx) * ny) {
    printf("| %s holds %ld of %d grid points\n", restart_name, named_count, nx * ny);
    fflush(stdout);
  }

  poisson(pe, cpoti, pi);
  for (int x = 0; x <= nx1; x++)
    for (int y = 0; y <= ny1; y++) {
      ne0[x][y] = ne[x][y];
      ni0[x][y] = ni[x][y];
    }
  return time;
}
