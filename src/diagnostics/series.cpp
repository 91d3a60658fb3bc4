// The start of the time series: a fresh run empties them, a continued run cuts the records that a
// killed run left beyond its restart time.
//
// A continued run appends to the series from its start time t0 on. A run killed after some output
// intervals has appended records later than the time of the restart file it never replaced, so the
// next continuation from that file would append those times a second time. drop_records_after
// keeps of every appended series the lines before the first record later than t0 (and before a
// last line without line end, a record cut short), so each time appears once and the times
// increase. A record is the line's first word read as a time; lines that begin with no number,
// such as the empty line after each block of "zfx.dat", stay with the lines before them. Every run
// starts "zfx.dat" with an empty line of its own (the call at t = 0). A run of its own writes that
// line again, so of the empty lines right before the cut only the first stays, the end of the last
// block kept: the file is then exactly what the run that wrote the restart file left. A run that
// resumes another writes no call at t = 0: every empty line before the cut stays, also the one of
// the resumed run's own start when it was stopped before its first output.
//
// The times of the files and of the restart header are rounded: a record counts as later when its
// time exceeds t0 by more than half a unit of its last printed decimal plus the rounding of the
// header's seven significant digits (5e-7 |t0|), but never by more than half the output spacing
// itstp dt of this run (series_tolerance). A record at t0 itself is therefore kept, and the first
// record the continuation appends (at t0 + itstp dt) is always later than every record kept: at
// large t, where the header's rounding exceeds the spacing, the records between the header's t0
// and the checkpoint's exact time go and the continuation writes them again from its t0.
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "common/files.hpp"
#include "common/state.hpp"
#include "diagnostics/diagnostics.hpp"
#include "parallel/processes.hpp"

const char *const appended_series[nappended] = {"eng.dat", "eng-transfer.dat", "fne.dat", "gamma.dat", "zfx.dat"};

void empty_time_series() {
  writer_only("emptying the time series");
  const char *series[] = {"eng.dat", "eng-transfer.dat", "fne.dat", "gamma.dat", "traces.dat", "time.dat", "zfx.dat"};
  for (const char *name : series) close_file(open_file(name, "w"), name);
}

double series_tolerance(double t0, double rounding) {
  const double tolerance = rounding * std::fabs(t0);
  const double half_spacing = 0.5 * static_cast<double>(itstp) * dt;
  return half_spacing > 0 && tolerance > half_spacing ? half_spacing : tolerance;
}

// Whether the line (a NUL-terminated copy) is a record later than t0.
static bool later_record(const char *line, double t0) {
  const char *start = line;
  while (*start == ' ' || *start == '\t') start++;
  char *stop;
  const double time = strtod(start, &stop);
  if (stop == start) return false;
  // Decimals printed after the point, when the word is written without an exponent.
  int decimals = -1;
  const char *point = static_cast<const char *>(memchr(start, '.', size_t(stop - start)));
  if (point && !memchr(start, 'e', size_t(stop - start)) && !memchr(start, 'E', size_t(stop - start)))
    decimals = int(stop - point - 1);
  const double resolution = decimals >= 0 ? 0.5 * std::pow(10.0, -decimals) : 0.0;
  return time > t0 + resolution + series_tolerance(t0, 5e-7);
}

// Keep the lines of name before its first record later than t0 (see the head for its empty lines);
// a missing file or one that is not a regular file (a device, a pipe) is left alone.
static void drop_records_of(const char *name, double t0, bool resumed) {
  FILE *file = fopen(name, "r");
  if (!file) {
    if (errno == ENOENT) return;
    fatal("| cannot read \"%s\" to drop its records after t = %g: %s", name, t0, strerror(errno));
  }
  struct stat status;
  if (fstat(fileno(file), &status) != 0 || !S_ISREG(status.st_mode)) {
    fclose(file);
    return;
  }
  char *line = nullptr;
  size_t room = 0;
  off_t kept = 0;          // length of the lines kept so far
  off_t empty_from = -1;   // where the empty lines at the end of the kept ones begin, -1 none
  ssize_t length;
  while ((length = getline(&line, &room, file)) > 0) {
    if (line[length - 1] != '\n' || later_record(line, t0)) break;
    if (length == 1 && empty_from < 0) empty_from = kept;
    if (length > 1) empty_from = -1;
    kept += length;
  }
  if (!resumed && empty_from >= 0 && kept > empty_from + 1) kept = empty_from + 1;
  const bool failed = ferror(file) != 0;
  free(line);
  fclose(file);
  if (failed) fatal("| cannot read \"%s\" to drop its records after t = %g", name, t0);
  if (kept < status.st_size && truncate(name, kept) != 0)
    fatal("| cannot drop the records after t = %g from \"%s\": %s", t0, name, strerror(errno));
}

void drop_records_after(double t0, bool resumed) {
  writer_only("cutting the time series");
  for (const char *name : appended_series) drop_records_of(name, t0, resumed);
}
