// initpar: the start banner, the nineteen run parameters of "tavo.inp" and the optional values
// 20 .. 22, the run constants derived from them, the fields of the grid, the thread set-up and the
// coefficient tables. Every check that can refuse the parameters runs here, before the run touches
// any file; the driver empties or trims the time series once the rest of the start-up has passed
// its checks.
#include <omp.h>

#include <cerrno>
#include <climits>
#include <cmath>
#include <cstring>
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
  xyz = 1.0 / (static_cast<double>(nx) * static_cast<double>(ny));
  dtt = dt * 6.0 / 11.0;
  ddtt = static_cast<double>(itstp) * dt;
  set_optional_constants(optional_defaults);
}

double values_read[nknown];

void set_optional_constants(const double *opt) {
  nframe = to_int(opt[0]);
  nckpt = to_int(opt[1]);
  iseed = to_int(opt[2]);
}

void initpar() {
  // Step 1: banner.
  printf("_________________________________________\n| TAVO start...\n");

  // Steps 2-3: the nineteen values of the parameter file, read whole in one pass (so a FIFO or a
  // device behaves), and the optional values 20 .. 22 with their defaults when the file stops
  // before them.
  std::string text;
  if (const char *message = read_small_file("tavo.inp", "the parameter file", parameter_file_limit, text))
    fatal("%s", message);
  double values[nknown] = {};
  for (int k = 0; k < noptional; k++) values[nvalues + k] = optional_defaults[k];
  const value_reading reading = read_values(text, values, nknown);
  if (const char *message = reading_problem(reading)) fatal("%s", message);
  // A label naming another value (two lines swapped) gets a warning before the values are checked.
  check_labels(text);
  check_values(values);
  if (const char *warning = extra_values_warning(reading, nknown)) fprintf(stderr, "%s\n", warning);

  // Steps 4-5: parameters and derived constants (the species constants are compile-time).
  set_run_constants(values);
  set_optional_constants(values + nvalues);
  if (itmax >= 1 && itmax < itstp)
    fprintf(stderr, "| itmax = %d is below itstp = %d: no step will run; the run writes the initial diagnostics and "
            "a restart file at its start time\n", itmax, itstp);
  for (int k = 0; k < nknown; k++) values_read[k] = values[k];

  // Step 5a: the fields of this grid (a grid the memory cannot hold stops here, before any file
  // is touched).
  allocate_fields();

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

  // Step 11: running spectrum means start from zero in every run.
  for (int k = 1; k <= nxh && nx > 1; k++) pkxavg[k] = 0;
  for (int k = 1; k <= nyh && ny > 1; k++) pkyavg[k] = pkyavgn[k] = pkyavgw[k] = pkyavge[k] = 0;

  // Step 12: coefficient tables.
  build_tables();
}
