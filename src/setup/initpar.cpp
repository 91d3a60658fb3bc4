// initpar: the start banner, the nineteen run parameters of "tavo.inp" and the optional values 20 .. 22, the run constants derived
// from them, the thread set-up, the emptied time series of a fresh run and the coefficient tables.
#include <omp.h>

#include <cerrno>
#include <climits>
#include <cmath>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>

#include "common/files.hpp"
#include "common/state.hpp"
#include "setup/setup.hpp"

// Truncation toward zero to a 32-bit int, saturating instead of overflowing; NaN gives 0.
static int to_int(double value) {
  if (std::isnan(value)) return 0;
  if (value >= 2147483647.0) return INT_MAX;
  if (value <= -2147483648.0) return INT_MIN;
  return static_cast<int>(value);
}

void set_run_constants(const double *v) {
  chat = std::fabs(v[0]);
  b_mhw = !(v[0] < 0);
  taui = std::fabs(v[1]);
  xlwl = v[1] < 0 ? 0.0 : 1.0;
  delinv = 1.0 / v[2];
  diff = v[3];
  incon = v[4];
  sigma = v[5];
  amp = v[6];
  vorfree = v[7];
  ly = v[8];
  nx = to_int(v[9]);
  ny = to_int(v[10]);
  dt = v[11];
  itstp = to_int(v[12]);
  itmax = to_int(v[13]);
  ntrace = to_int(v[14]);
  ipade = to_int(v[15]);
  ihype = to_int(v[16]);
  b_plan = v[17] == 1.0;
  npar = to_int(v[18]);

  hy = static_cast<double>(ny) / ly;
  wsrc = sigma * static_cast<double>(ny) / ly;
  aspect = static_cast<double>(nx) / static_cast<double>(ny);
  clin = 1.0;
  // The sample count uses the values as read, before their truncation.
  maxtrace = ntrace == 0 ? 1 : to_int(v[13] / v[14]);
  printtraces = ntrace > 0;
  nxh = nx / 2;
  nyh = ny / 2;
  nx1 = nx - 1;
  ny1 = ny - 1;
  hysq = hy * hy / 12.0;
  hyd = chat == 0 ? 0.0 : hy * 0.5;
  xyz = 1.0 / static_cast<double>(nx * ny);
  set_optional_constants(optional_defaults);
}

void set_optional_constants(const double *opt) {
  nframe = to_int(opt[0]);
  nckpt = to_int(opt[1]);
  iseed = to_int(opt[2]);
}

// The whole text of a readable file.
static std::string file_text(const char *name) {
  std::ifstream in(name, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

void initpar() {
  // Step 1: banner.
  printf("_________________________________________\n| TAVO start...\n");

  // Steps 2-3: the nineteen values of the parameter file.
  FILE *file = fopen("tavo.inp", "r");
  if (!file) fatal("| cannot read the parameter file \"tavo.inp\": %s", strerror(errno));
  // Values 20 .. 22 are optional: a file that stops after nineteen gets their defaults.
  double values[nknown] = {};
  for (int k = 0; k < noptional; k++) values[nvalues + k] = optional_defaults[k];
  bool dangling = false;
  int found = read_values(file, values, nknown, &dangling);
  // A read error (a directory named "tavo.inp", an I/O failure) looks like an early end of file.
  if (ferror(file)) fatal("| cannot read the parameter file \"tavo.inp\": %s", strerror(errno));
  fclose(file);
  if (found < nvalues)
    fatal("| \"tavo.inp\" holds %d values%s, expected %d (each after a token containing '=')", found,
          dangling ? " and a marker without value at its end" : "", nvalues);
  // A label naming another value (two lines swapped) gets a warning before the values are checked.
  check_labels(file_text("tavo.inp"));
  check_values(values);

  // Steps 4-5: parameters and derived constants (the species constants are compile-time).
  set_run_constants(values);
  set_optional_constants(values + nvalues);

  // Steps 6-7: threads of the FFT library and of the shared-memory runtime.
  int ith = fftw_init_threads();
  if (ith == 0) fatal("| ith=%d : thread init failed... exiting", ith);
  int maxthreads = omp_get_max_threads();
  if (npar > maxthreads) fatal("| npar = %d > %d max. available threads ... exiting", npar, maxthreads);
  omp_set_num_threads(npar);

  // Step 8: thread report.
  printf("| parallel threads ");
  int team = 0;
#pragma omp parallel
  {
#pragma omp single nowait
    team = omp_get_num_threads();
#pragma omp critical(thread_report)
    printf("%d/", omp_get_thread_num());
  }
  printf(" of %d active.\n", team);

  // Step 10: a fresh run empties its time series; a continued run appends to them.
  if (incon != 2) {
    const char *series[] = {"eng.dat", "eng-transfer.dat", "fne.dat", "gamma.dat", "traces.dat", "time.dat", "zfx.dat"};
    for (const char *name : series) close_file(open_file(name, "w"), name);
  }

  // Step 11: running spectrum means start from zero in every run.
  for (int k = 1; k <= nxh && nx > 1; k++) pkxavg[k] = 0;
  for (int k = 1; k <= nyh && ny > 1; k++) pkyavg[k] = pkyavgn[k] = pkyavgw[k] = pkyavge[k] = 0;

  // Step 12: coefficient tables.
  build_tables();
}
