// tavo [--help | --version | --parameters[=json] | --check]: tavo alone runs in the working
// directory as it always did; every flag only reads and prints, and an argument the program does
// not know is refused before anything is touched, so a mistyped command never empties the time
// series of a run that is kept in the directory.
#include "driver/command_line.hpp"

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>

#include "common/version.hpp"
#include "driver/driver.hpp"
#include "setup/parameters.hpp"

static const char usage[] =
    "usage: tavo                 run in the working directory\n"
    "       tavo --check         read tavo.inp here and say what its run would be; writes nothing\n"
    "       tavo --parameters    the values of tavo.inp (--parameters=json for scripts)\n"
    "       tavo --version       the program's version\n"
    "       tavo --help          this text\n"
    "\n"
    "tavo simulates two-dimensional drift-wave turbulence. It reads \"tavo.inp\" in the working\n"
    "directory (and \"restart.dat\" when incon = 2) and writes there: the time series eng.dat,\n"
    "eng-transfer.dat, fne.dat, gamma.dat, zfx.dat, traces.dat and time.dat (emptied by a fresh run,\n"
    "kept by a continued one), the profiles and cuts xprof.dat, cutx.dat, cuty.dat, the snapshots\n"
    "n2d.dat, p2d.dat, w2d.dat, i2d.dat, the spectra pkx_*.dat, pky_*.dat, the probe spectra\n"
    "ptt_*.dat, the field history tavo.nc, the restart file restart.dat and the lock tavo.lock.\n"
    "Messages begin with \"|\"; an error is one such line and exit status 1.\n";

// The user guide beside this program: docs/ of the checkout it was built in (build/tavo), or
// share/doc/tavo/ of the prefix it was installed into (bin/tavo); found when asked, so that the
// program names no path of the machine that built it.
static std::string user_guide() {
  namespace fs = std::filesystem;
  std::error_code error;
  const fs::path program = fs::read_symlink("/proc/self/exe", error);
  if (!error)
    for (const char *place : {"../docs/README.md", "../share/doc/tavo/README.md"}) {
      const fs::path guide = (program.parent_path() / place).lexically_normal();
      if (fs::is_regular_file(guide, error)) return guide.string();
    }
  return "docs/README.md of the tavo sources";
}

int command_line(int argc, char **argv) {
  if (argc <= 1) return -1;
  if (argc > 2) {
    fprintf(stderr, "| tavo: %d arguments given, at most one is known (see tavo --help); nothing was touched\n",
            argc - 1);
    return 1;
  }
  const char *flag = argv[1];
  if (strcmp(flag, "--help") == 0 || strcmp(flag, "-h") == 0) {
    printf("%s\nUser guide: %s\n", usage, user_guide().c_str());
    return 0;
  }
  if (strcmp(flag, "--version") == 0) {
    printf("tavo %s\n", tavo_version);
    return 0;
  }
  if (strcmp(flag, "--parameters") == 0) {
    fputs(parameter_listing().c_str(), stdout);
    return 0;
  }
  if (strcmp(flag, "--parameters=json") == 0) {
    fputs(parameter_json().c_str(), stdout);
    return 0;
  }
  if (strcmp(flag, "--check") == 0) return check_parameter_file();
  char shown[64];
  snprintf(shown, sizeof shown, "%s", flag);
  for (char *c = shown; *c; c++)
    if (static_cast<unsigned char>(*c) < 32 || *c == 127) *c = '?';
  fprintf(stderr, "| tavo: unknown argument \"%s%s\": tavo runs with no argument and reads \"tavo.inp\" (see tavo --help); "
          "nothing was touched\n", shown, strlen(flag) >= sizeof shown ? "..." : "");
  return 1;
}
