// Fatal stops and checked output files.
//
// A file opened for appending remembers its length at the open, so that an append that fails part
// way (a disk that fills up inside a record) is cut back to that length before the run stops: the
// file keeps whole records only.
#include "common/files.hpp"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdlib>
#include <cstring>

// The files open for appending and their lengths at the open (few are open at once).
struct append_start {
  FILE *file;
  off_t length;
};
static append_start appends[8];

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
  struct stat status;
  if (mode[0] == 'a' && fstat(fileno(file), &status) == 0 && S_ISREG(status.st_mode))
    for (append_start &slot : appends)
      if (!slot.file) {
        slot = {file, status.st_size};
        break;
      }
  return file;
}

void close_file(FILE *file, const char *name) {
  off_t appended_from = -1;
  for (append_start &slot : appends)
    if (slot.file == file) {
      appended_from = slot.length;
      slot.file = nullptr;
    }
  // fflush reports the error of the last buffered write, ferror any earlier one.
  bool failed = fflush(file) != 0;
  int saved = errno;
  failed = ferror(file) != 0 || failed;
  if (fclose(file) != 0 && !failed) {
    failed = true;
    saved = errno;
  }
  if (!failed) return;
  // Take back the part of a record that fitted (the close may have retried the write).
  if (appended_from >= 0 && truncate(name, appended_from) != 0) {
    fatal("| writing \"%s\" failed: %s; its last record may be cut short", name, strerror(saved ? saved : EIO));
  }
  fatal("| writing \"%s\" failed: %s", name, strerror(saved ? saved : EIO));
}

void rename_file(const char *from, const char *to) {
  if (rename(from, to) != 0) fatal("| cannot rename \"%s\" to \"%s\": %s", from, to, strerror(errno));
}
