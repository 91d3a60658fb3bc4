// Checked output files: opened, written and closed through these helpers so that a failed open,
// a failed write (a full disk) or a failed close is never taken for success.
//
// A file opened for appending remembers its length at the open, so that an append that fails part
// way (a disk that fills up inside a record) is cut back to that length before the run stops: the
// file keeps whole records only. Every regular file opened for appending is remembered, however
// many are open at once.
#include "common/files.hpp"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

// The files open for appending and their lengths at the open.
struct append_start {
  FILE *file;
  off_t length;
};
static std::vector<append_start> appends;

void out_of_memory(double bytes, const char *what) {
  fatal("| cannot reserve %.0f bytes for %s: the memory (or this process's limit, ulimit -v) is exhausted", bytes,
        what);
}

FILE *open_file(const char *name, const char *mode) {
  FILE *file = fopen(name, mode);
  if (!file) fatal("| cannot open \"%s\" (mode \"%s\"): %s", name, mode, strerror(errno));
  struct stat status;
  if (mode[0] == 'a' && fstat(fileno(file), &status) == 0 && S_ISREG(status.st_mode))
    appends.push_back({file, status.st_size});
  return file;
}

void close_file(FILE *file, const char *name) {
  off_t appended_from = -1;
  for (size_t k = 0; k < appends.size(); k++)
    if (appends[k].file == file) {
      appended_from = appends[k].length;
      appends.erase(appends.begin() + long(k));
      break;
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
