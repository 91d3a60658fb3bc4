// The run's directory lock: an flock on "tavo.lock", which holds the number of the process that
// has it. The file is never removed: removing it would let a later run lock a new file while an
// earlier one still holds the old.
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "common/files.hpp"

const char *const lock_name = "tavo.lock";

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
