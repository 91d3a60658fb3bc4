// Fatal stops and the temporary files they remove.
//
// A temporary file (the new version of a file rewritten at every call) is listed from its open to
// its rename; a fatal stop removes the listed ones, so a disk that fills up does not keep the space
// of a half-written copy that the user needs to recover. The list has no fixed size.
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "common/files.hpp"

// The temporary files written but not yet renamed.
static std::vector<std::string> temporaries;

void fatal(const char *format, ...) {
  fflush(stdout);
  va_list args;
  va_start(args, format);
  vprintf(format, args);
  va_end(args);
  printf("\n");
  fflush(stdout);
  for (const std::string &name : temporaries) unlink(name.c_str());
  temporaries.clear();
  exit(1);
}

void list_temporary(const char *name) { temporaries.push_back(name); }

FILE *open_temporary(const char *name) {
  // Listed before the open: a failed open may still have created the file.
  list_temporary(name);
  return open_file(name, "w");
}

void rename_file(const char *from, const char *to) {
  if (rename(from, to) != 0) fatal("| cannot rename \"%s\" to \"%s\": %s", from, to, strerror(errno));
  temporaries.erase(std::remove(temporaries.begin(), temporaries.end(), std::string(from)), temporaries.end());
}
