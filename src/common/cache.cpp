// The cache directory of tavo: what runs of this user keep for later runs on this machine (the FFT
// wisdom, the measured cost of the steps). TAVO_WISDOM=0 in the environment turns it off. A cache file is written under a temporary name of this
// process and renamed onto its name once complete, so concurrent runs (a scan) never read half a
// file; a cache that cannot be written costs the later runs only what it would have saved.
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "common/files.hpp"

std::string cache_dir() {
  const char *off = getenv("TAVO_WISDOM");
  if (off && strcmp(off, "0") == 0) return "";  // the cache is off
  const char *xdg = getenv("XDG_CACHE_HOME");
  if (xdg && xdg[0] == '/') return std::string(xdg) + "/tavo";
  const char *home = getenv("HOME");
  if (home && home[0] == '/') return std::string(home) + "/.cache/tavo";
  return "";
}

// Make the directories of path (mkdir -p of its parent); false on a failure.
static bool make_parents(const std::string &path) {
  for (size_t slash = path.find('/', 1); slash != std::string::npos; slash = path.find('/', slash + 1)) {
    const std::string dir = path.substr(0, slash);
    if (mkdir(dir.c_str(), 0755) != 0 && errno != EEXIST) return false;
  }
  return true;
}

bool store_cache_file(const std::string &path, const std::string &text) {
  errno = 0;
  const std::string temporary = path + ".tmp" + std::to_string(static_cast<long>(getpid()));
  FILE *file = nullptr;
  bool stored = make_parents(path) && (file = fopen(temporary.c_str(), "w")) != nullptr;
  if (file) {
    stored = fwrite(text.data(), 1, text.size(), file) == text.size();
    stored = fclose(file) == 0 && stored;
    stored = stored && rename(temporary.c_str(), path.c_str()) == 0;
    if (!stored) unlink(temporary.c_str());
  }
  if (!stored && errno == 0) errno = EIO;
  return stored;
}
