// Fatal stops, checked output files, small input files read whole, and the directory lock.
//
// A file opened for appending remembers its length at the open, so that an append that fails part
// way (a disk that fills up inside a record) is cut back to that length before the run stops: the
// file keeps whole records only. A temporary file (the new version of a file rewritten at every
// call) is listed from its open to its rename; a fatal stop removes the listed ones, so a disk that
// fills up does not keep the space of a half-written copy that the user needs to recover.
//
// The lock is an flock on "tavo.lock", which holds the number of the process that has it. The
// file is never removed: removing it would let a later run lock a new file while an earlier one
// still holds the old.
#include "common/files.hpp"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
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

// The temporary files written but not yet renamed ("" a free slot).
constexpr size_t temporary_room = 128;
static char temporaries[8][temporary_room];

const char *const lock_name = "tavo.lock";

void fatal(const char *format, ...) {
  fflush(stdout);
  va_list args;
  va_start(args, format);
  vprintf(format, args);
  va_end(args);
  printf("\n");
  fflush(stdout);
  for (char *name : temporaries)
    if (name[0]) {
      unlink(name);
      name[0] = '\0';
    }
  exit(1);
}

void out_of_memory(double bytes, const char *what) {
  fatal("| cannot reserve %.0f bytes for %s: the memory (or this process's limit, ulimit -v) is exhausted", bytes,
        what);
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

void list_temporary(const char *name) {
  char *slot = nullptr;
  for (char *entry : temporaries)
    if (!entry[0]) {
      slot = entry;
      break;
    }
  if (!slot || strlen(name) >= temporary_room) fatal("| too many or too long temporary file names at \"%s\"", name);
  // The first byte last: a signal handler that removes the listed files sees a free slot or the
  // whole name.
  strcpy(slot + 1, name + 1);
  std::atomic_signal_fence(std::memory_order_seq_cst);
  slot[0] = name[0];
}

void remove_temporaries_at_once() {
  for (const char *entry : temporaries)
    if (entry[0]) unlink(entry);
}

FILE *open_temporary(const char *name) {
  // Listed before the open: a failed open may still have created the file.
  list_temporary(name);
  return open_file(name, "w");
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
  for (char *entry : temporaries)
    if (strcmp(entry, from) == 0) entry[0] = '\0';
}

const char *read_small_file(const char *name, const char *what, size_t limit, std::string &text) {
  static char message[256];
  text.clear();
  // Without O_NONBLOCK the open of a FIFO would wait for a writer.
  const int fd = open(name, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    snprintf(message, sizeof message, "| cannot read %s \"%s\": %s", what, name, strerror(errno));
    return message;
  }
  struct stat status;
  if (fstat(fd, &status) == 0 && S_ISREG(status.st_mode) && static_cast<unsigned long long>(status.st_size) > limit) {
    close(fd);
    snprintf(message, sizeof message, "| %s \"%s\" holds %lld bytes, more than the %zu it may hold", what, name,
             static_cast<long long>(status.st_size), limit);
    return message;
  }
  fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);  // a pipe with a writer is read to its end
  char block[65536];
  for (;;) {
    const ssize_t count = read(fd, block, sizeof block);
    if (count < 0 && errno == EINTR) continue;
    if (count < 0) {
      const int saved = errno;
      close(fd);
      snprintf(message, sizeof message, "| cannot read %s \"%s\": %s", what, name, strerror(saved));
      return message;
    }
    if (count == 0) break;
    if (text.size() + size_t(count) > limit) {
      close(fd);
      text.clear();
      snprintf(message, sizeof message, "| %s \"%s\" holds more than the %zu bytes it may hold", what, name, limit);
      return message;
    }
    text.append(block, size_t(count));
  }
  close(fd);
  return nullptr;
}

void hold_run_lock() {
  const int fd = open(lock_name, O_RDWR | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) fatal("| cannot open the lock file \"%s\": %s", lock_name, strerror(errno));
  if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
    if (errno != EWOULDBLOCK) fatal("| cannot lock \"%s\": %s", lock_name, strerror(errno));
    char holder[32] = "";
    const ssize_t count = pread(fd, holder, sizeof holder - 1, 0);
    holder[count > 0 ? count : 0] = '\0';
    const long pid = strtol(holder, nullptr, 10);
    if (pid > 0)
      fatal("| another run is active in this directory (process %ld holds \"%s\"): one run per directory", pid,
            lock_name);
    fatal("| another run is active in this directory (it holds \"%s\"): one run per directory", lock_name);
  }
  // The holder's process number, for the message of a run that finds the lock taken. The lock does
  // not depend on it, so a failure to write it is of no consequence.
  char holder[32];
  const int length = snprintf(holder, sizeof holder, "%ld\n", static_cast<long>(getpid()));
  const bool noted = ftruncate(fd, 0) == 0 && pwrite(fd, holder, size_t(length), 0) == length;
  (void)noted;
  // fd stays open, and with it the lock, until the process ends.
}
