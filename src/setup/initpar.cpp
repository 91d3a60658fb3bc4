// initpar: the start banner, the nineteen run parameters of "tavo.inp" and the optional values
// 20 .. 23 and the run constants derived from them. Every check that can refuse the values runs
// here, before the run touches any file (the grid's memory through the check the driver hands
// in); the driver then makes the fields, the threads and the tables, and empties or trims the
// time series once the rest of the start-up has passed its checks.
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
  // The value of the name's place in the table.
  auto at = [v](const char *name) { return v[value_index(name)]; };
  chat = std::fabs(at("chat"));
  b_mhw = !(at("chat") < 0);
  taui = std::fabs(at("taui"));
  xlwl = at("taui") < 0 ? 0.0 : 1.0;
  delinv = 1.0 / at("delta");
  diff = at("diff");
  incon = at("incon");
  sigma = at("sigma");
  amp = at("amp");
  vorfree = at("vorfree");
  ly = at("ly");
  nx = to_int(at("nx"));
  ny = to_int(at("ny"));
  dt = at("dt");
  itstp = to_int(at("itstp"));
  itmax = to_int(at("itmax"));
  ntrace = to_int(at("ntrace"));
  ipade = to_int(at("ipade"));
  ihype = to_int(at("ihype"));
  b_plan = at("b_plan") == 1.0;
  npar = to_int(at("npar"));

  hy = static_cast<double>(ny) / ly;
  wsrc = sigma * static_cast<double>(ny) / ly;
  aspect = static_cast<double>(nx) / static_cast<double>(ny);
  clin = 1.0;
  // The sample count uses the values as read, before their truncation.
  maxtrace = ntrace == 0 ? 1 : to_int(at("itmax") / at("ntrace"));
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
  double defaults[noptional];
  for (int k = 0; k < noptional; k++) defaults[k] = parameter_table[nvalues + k].fallback;
  set_optional_constants(defaults);
}

double values_read[nknown];

void set_optional_constants(const double *opt) {
  auto at = [opt](const char *name) { return opt[value_index(name) - nvalues]; };
  nframe = to_int(at("nframe"));
  nckpt = to_int(at("nckpt"));
  iseed = to_int(at("iseed"));
  cfl = at("cfl");
}

void read_parameter_file(double *values, std::string &text, grid_check grid) {
  // The nineteen values of the parameter file, read whole in one pass (so a FIFO or a device
  // behaves), and the optional values 20 .. 23 with their defaults when the file stops before them.
  if (const char *message = read_small_file("tavo.inp", "the parameter file", parameter_file_limit, text))
    fatal("%s", message);
  for (int k = 0; k < nknown; k++) values[k] = k < nvalues ? 0.0 : parameter_table[k].fallback;
  const value_reading reading = read_values(text, values, nknown);
  if (const char *message = reading_problem(reading)) fatal("%s", message);
  // A label naming another value (two lines swapped) gets a warning before the values are checked.
  check_labels(text);
  check_values(values, grid);
  if (const char *warning = extra_values_warning(reading, nknown)) fprintf(stderr, "%s\n", warning);
}

void initpar(grid_check grid) {
  // Step 1: banner.
  printf("_________________________________________\n| TAVO start...\n");

  // Steps 2-3: the values of the parameter file, refused before anything else happens.
  std::string text;
  double values[nknown] = {};
  read_parameter_file(values, text, grid);

  // Steps 4-5: parameters and derived constants (the species constants are compile-time).
  set_run_constants(values);
  set_optional_constants(values + nvalues);
  if (itmax >= 1 && itmax < itstp)
    fprintf(stderr, "| itmax = %d is below itstp = %d: no step will run; the run writes the initial diagnostics and "
            "a restart file at its start time\n", itmax, itstp);
  for (int k = 0; k < nknown; k++) values_read[k] = values[k];
}
