// Small input files read whole (the parameter file, the stored FFTW wisdom).
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "common/files.hpp"

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
