// A kill at an exact moment of the checkpoint: loaded into the program with LD_PRELOAD, this
// rename() does the rename and then, at the TAVO_KILL_AFTER_RENAME-th rename onto "restart.dat" or
// "restart.nc" since the program started, kills the process (SIGKILL), as a power cut or the
// scheduler's kill between two renames would. Built as a library of its own, without the
// sanitizers (it is loaded before their runtime), and never linked into the tests.
#include <dlfcn.h>
#include <signal.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

namespace {

int renames = 0;

bool checkpoint_file(const char *path) {
  const char *slash = strrchr(path, '/');
  const char *name = slash ? slash + 1 : path;
  return strcmp(name, "restart.dat") == 0 || strcmp(name, "restart.nc") == 0;
}

}  // namespace

extern "C" int rename(const char *from, const char *to) {
  using rename_function = int (*)(const char *, const char *);
  static const rename_function real = reinterpret_cast<rename_function>(dlsym(RTLD_NEXT, "rename"));
  const int status = real(from, to);
  const char *at = getenv("TAVO_KILL_AFTER_RENAME");
  if (status == 0 && at && checkpoint_file(to) && ++renames == atoi(at)) kill(getpid(), SIGKILL);
  return status;
}
