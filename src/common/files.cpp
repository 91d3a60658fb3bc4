// Fatal stops and checked output files.
#include "common/files.hpp"

#include <cerrno>
#include <cstdarg>
#include <cstdlib>
#include <cstring>

void fatal(const char *format, ...) {
  fflush(stdout);
  va_list args;
  va_start(args, format);
  vprintf(format, args);
  va_end(args);
  printf("\n");
  fflush(stdout);
  exit(1);
}

FILE *open_file(const char *name, const char *mode) {
  FILE *file = fopen(name, mode);
  if (!file) fatal("| cannot open \"%s\" (mode \"%s\"): %s", name, mode, strerror(errno));
  return file;
}

void close_file(FILE *file, const char *name) {
  // fflush reports the error of the last buffered write, ferror any earlier one.
  bool failed = fflush(file) != 0;
  int saved = errno;
  failed = ferror(file) != 0 || failed;
  if (fclose(file) != 0 && !failed) {
    failed = true;
    saved = errno;
  }
  if (failed) fatal("| writing \"%s\" failed: %s", name, strerror(saved ? saved : EIO));
}

void rename_file(const char *from, const char *to) {
  if (rename(from, to) != 0) fatal("| cannot rename \"%s\" to \"%s\": %s", from, to, strerror(errno));
}
