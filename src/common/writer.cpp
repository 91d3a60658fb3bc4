// The buffered file writer: see writer.hpp.
#include "common/writer.hpp"

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "common/files.hpp"

// Give w, whose file is open, a fresh buffer.
static void writer_start(writer &w, const char *name) {
  w.name = name;
  w.final_name = nullptr;
  w.buffer = static_cast<char *>(malloc(writer_size));
  if (!w.buffer) fatal("| no memory for the output buffer of \"%s\"", name);
  w.pos = w.buffer;
}

void writer_open(writer &w, const char *name, const char *mode) {
  w.file = open_file(name, mode);
  writer_start(w, name);
}

void writer_temporary(writer &w, const char *name) {
  w.file = open_temporary(name);
  writer_start(w, name);
}

void writer_replace(writer &w, const char *name) {
  const int length = snprintf(w.temporary, sizeof w.temporary, "%s.tmp", name);
  if (length < 0 || size_t(length) >= sizeof w.temporary) fatal("| output file name \"%s\" is too long", name);
  writer_temporary(w, w.temporary);
  w.final_name = name;
}

void writer_flush(writer &w) {
  size_t n = size_t(w.pos - w.buffer);
  errno = 0;
  if (n > 0 && fwrite(w.buffer, 1, n, w.file) != n) {
    // close_file reports the stream's error with the file name and ends the run; when the stream
    // kept none, the reason is the one the failed write left.
    const int saved = errno;
    close_file(w.file, w.name);
    fatal("| writing \"%s\" failed: %s", w.name, strerror(saved ? saved : EIO));
  }
  w.pos = w.buffer;
}

void writer_put(writer &w, const char *data, size_t n) {
  if (n > writer_size - size_t(w.pos - w.buffer)) {
    writer_flush(w);
    if (n > writer_size) {
      errno = 0;
      if (fwrite(data, 1, n, w.file) != n) {
        const int saved = errno;
        close_file(w.file, w.name);
        fatal("| writing \"%s\" failed: %s", w.name, strerror(saved ? saved : EIO));
      }
      return;
    }
  }
  memcpy(w.pos, data, n);
  w.pos += n;
}

void writer_close(writer &w) {
  writer_flush(w);
  free(w.buffer);
  w.buffer = w.pos = nullptr;
  close_file(w.file, w.name);
  w.file = nullptr;
  if (w.final_name) rename_file(w.temporary, w.final_name);
  w.final_name = nullptr;
}
