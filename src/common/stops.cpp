// Fatal stops and the temporary files they remove.
//
// A fatal stop ends the whole run, which only the process layer above knows how to do (one line
// for the job, every process ended): it installs that as the stop hook when it starts. This floor
// calls up through the hook and includes nothing above it.
//
// A temporary file (the new version of a file rewritten at every call) is listed from its open to
// its rename; a fatal stop removes the listed ones, so a disk that fills up does not keep the space
// of a half-written copy that the user needs to recover. A second stop signal removes them too, from
// its handler (driver/stop.cpp), which may interrupt the list at any point: so the list is made of
// chunks of slots that are never freed, a slot's name is complete before its first byte marks it
// used, and a new chunk is complete before it is linked. The list has no fixed size.
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <string>

#include "common/files.hpp"

// The temporary files written but not yet renamed ("" a free slot).
constexpr size_t temporary_room = 256;
struct temporary_chunk {
  char names[8][temporary_room];
  std::atomic<temporary_chunk *> next;
};
static temporary_chunk first_chunk;

// Remove every listed file; with `clear` also free the slots (not from a signal handler, which may
// have interrupted a listing).
static void remove_temporaries(bool clear) {
  for (temporary_chunk *chunk = &first_chunk; chunk; chunk = chunk->next.load())
    for (char *name : chunk->names)
      if (name[0]) {
        unlink(name);
        if (clear) name[0] = '\0';
      }
}

static stop_hook installed_hook = nullptr;  // the process layer's (install_stop_hook)

void fatal(const char *format, ...) {
  fflush(stdout);
  va_list args;
  va_start(args, format);
  const int length = vsnprintf(nullptr, 0, format, args);
  va_end(args);
  std::string line(length > 0 ? size_t(length) : 0, '\0');
  va_start(args, format);
  vsnprintf(&line[0], line.size() + 1, format, args);
  va_end(args);
  remove_temporaries(true);
  if (installed_hook) installed_hook(line.c_str());
  fputs(line.c_str(), stdout);
  fputc('\n', stdout);
  fflush(stdout);
  fflush(stderr);
  exit(1);
}

void install_stop_hook(stop_hook hook) { installed_hook = hook; }

void remove_temporaries_at_once() { remove_temporaries(false); }

void list_temporary(const char *name) {
  if (strlen(name) >= temporary_room) fatal("| the temporary file name \"%s\" is too long", name);
  char *slot = nullptr;
  temporary_chunk *chunk = &first_chunk;
  for (;; chunk = chunk->next.load()) {
    for (char *entry : chunk->names)
      if (!entry[0]) {
        slot = entry;
        break;
      }
    if (slot || !chunk->next.load()) break;
  }
  if (!slot) {
    temporary_chunk *added = new temporary_chunk();  // zero: free slots, no next
    slot = added->names[0];
    chunk->next.store(added);
  }
  // The first byte last: a signal handler that removes the listed files sees a free slot or the
  // whole name.
  strcpy(slot + 1, name + 1);
  std::atomic_signal_fence(std::memory_order_seq_cst);
  slot[0] = name[0];
}

FILE *open_temporary(const char *name) {
  // Listed before the open: a failed open may still have created the file.
  list_temporary(name);
  return open_file(name, "w");
}

void rename_file(const char *from, const char *to) {
  if (rename(from, to) != 0) fatal("| cannot rename \"%s\" to \"%s\": %s", from, to, strerror(errno));
  for (temporary_chunk *chunk = &first_chunk; chunk; chunk = chunk->next.load())
    for (char *name : chunk->names)
      if (name[0] && strcmp(name, from) == 0) name[0] = '\0';
}
