// The field history "tavo.nc": the fields of the run over time and its scalar time series in one
// self-describing netCDF file (CF conventions) that xarray.open_dataset opens as it is.
//
// Contents:
//   time (record dimension)       frame times in L_perp/c_s (the call at t0 and every nframe-th
//                                 output after it)
//   x, y                          positions index/hy in rho_s
//   ne, ni, phi, vorticity        (time, x, y), single precision: ne, ni, pe and lap_pe (the
//                                 snapshots' nabla^2 pe) of the output
//   series_time                   output times of the scalar series (fixed dimension)
//   enn, E_K, E_Z, E, EZ_over_EK  the columns of "eng.dat",
//   drive, coupling, dissipation, rate_sum     of "eng-transfer.dat",
//   flux                          of "fne.dat", in double precision over series_time
//   dt, dt_min, dt_max, steps     with adaptive steps only: the controller's step at the output,
//                                 the shortest and longest step and the number of steps since the
//                                 output before (a history of fixed steps is that of earlier
//                                 versions; a continuation that switches copies what both hold)
//   global attributes             program, version, every value of "tavo.inp" under its name (the
//                                 whole values as integers)
//
// Format and a kill at any moment: the file is the classic 64-bit-offset format, not netCDF-4
// (CDF-5 when a frame passes the 4 GiB of a variable of that format: beyond 32768^2 points). Its frames are records of the one unlimited dimension, appended one after the other; the
// record count in the header is written only when the file is flushed (nc_sync), which happens
// after every output, once the output's frame and series entry are complete. A process killed
// while it writes a frame leaves the header counting only the frames before it, so the file
// opens and holds every frame up to the last flush, which precedes every checkpoint. The classic
// format allows one unlimited dimension, so the series (one entry per output, on their own time)
// live on a fixed dimension sized at the start of a run for the entries kept plus the outputs
// the run will make, filled with NaN (the _FillValue) until written: a killed run leaves NaN
// entries at the end.
//
// Start of a run: the file is first built under "tavo.nc.tmp" and renamed onto "tavo.nc" once its
// definitions and copied contents are flushed, so a kill during the start leaves the old file. A
// fresh run starts an empty history. A continued run (incon 2) copies the old file's frames
// before t0 and series entries up to t0 (a killed run leaves entries past its last checkpoint,
// which the continued run computes again) into the new file, which is sized for the new outputs;
// its own frame at t0 follows. When the old file holds another grid or cannot be read, it is kept
// under "tavo.nc.old" (or .old2, ...) with a "|" line on standard error and a new history starts.
// The copy costs one read and write of the old file per continuation.
//
// Every process writes and reads the rows of its slab of the frames (netcdf_job.cpp, in
// independent mode, which keeps the record count for nc_sync); the coordinates, times and series
// are the writing process's, and so are the renames.
//
// A run that resumes an unfinished one (a stop by a signal; see checkpoint.cpp) is the
// same run: history_resume opens its file for writing as it is, keeps the frames and entries up to
// the checkpoint and writes the rest in their places, so the file ends as if the run had not
// stopped.
#include <netcdf.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "common/files.hpp"
#include "common/version.hpp"
#include "diagnostics/diagnostics.hpp"
#include "diagnostics/writers.hpp"
#include "io/io.hpp"
#include "parallel/processes.hpp"
#include "setup/setup.hpp"

static const char *const history_name = "tavo.nc";
static const char *const history_temp = "tavo.nc.tmp";

static const char *const energy_units = "n0 T_e rho_s^2/L_perp^2";
static const char *const rate_units = "n0 T_e c_s rho_s^2/L_perp^3";

// The schema: the four fields of a frame, and the scalar series in the order of the columns of
// "eng.dat", "eng-transfer.dat", "fne.dat" with the member of output_scalars each one records.
struct field_variable {
  const char *name, *long_name, *units;
  array2d output_fields::*field;
};
static const field_variable frame_fields[] = {
    {"ne", "electron density fluctuation n_e", "n0 rho_s/L_perp", &output_fields::ne},
    {"ni", "ion gyrocentre density fluctuation N_i", "n0 rho_s/L_perp", &output_fields::ni},
    {"phi", "electrostatic potential phi", "T_e rho_s/(e L_perp)", &output_fields::pe},
    {"vorticity", "vorticity nabla^2 phi", "T_e/(e rho_s L_perp)", &output_fields::lap_pe}};
constexpr int nfields = sizeof frame_fields / sizeof frame_fields[0];

struct series_variable {
  const char *name, *long_name, *units;
  double output_scalars::*value;
  bool adaptive = false;  // written with adaptive steps only
};
static const series_variable series[] = {
    {"enn", "density energy enn (eng.dat column 2)", energy_units, &output_scalars::enn},
    {"E_K", "kinetic energy E_K (eng.dat column 3)", energy_units, &output_scalars::enk},
    {"E_Z", "zonal-flow energy E_Z (eng.dat column 4)", energy_units, &output_scalars::enz},
    {"E", "total energy E_K + enn (eng.dat column 5)", energy_units, &output_scalars::energy},
    {"EZ_over_EK", "zonal share of the kinetic energy E_Z/E_K (eng.dat column 6)", "1", &output_scalars::zonal_share},
    {"drive", "drive rate (eng-transfer.dat column 2)", rate_units, &output_scalars::drive},
    {"coupling", "parallel coupling rate (eng-transfer.dat column 3)", rate_units, &output_scalars::coupling},
    {"dissipation", "dissipation rate (eng-transfer.dat column 4)", rate_units, &output_scalars::dissipation},
    {"rate_sum", "drive + coupling + dissipation (eng-transfer.dat column 5)", rate_units, &output_scalars::rate_sum},
    {"flux", "radial particle flux Gamma_n (fne.dat column 2)", "n0 c_s rho_s^2/L_perp^2", &output_scalars::flux},
    {"dt", "time step at the output (the controller's)", "L_perp/c_s", &output_scalars::step, true},
    {"dt_min", "shortest time step since the output before", "L_perp/c_s", &output_scalars::step_min, true},
    {"dt_max", "longest time step since the output before", "L_perp/c_s", &output_scalars::step_max, true},
    {"steps", "time steps since the output before", "1", &output_scalars::steps, true}};
constexpr int nseries = sizeof series / sizeof series[0];

// The open history: its netCDF id (-1 none) and the ids of its dimensions and variables.
struct history_ids {
  int file = -1;
  int time_dim, x_dim, y_dim, series_dim;
  int time_var, x_var, y_var, series_time_var;
  int field_var[nfields];
  int series_var[nseries];  // -1 for a series the file does not hold
};

// Whether the file of this run holds series v.
static bool series_written(int v) { return !series[v].adaptive || cfl > 0; }
// The history of this run: the open file, its frame and entry counts and the length of the series
// dimension.
struct open_history {
  history_ids ids;
  size_t frames = 0, entries = 0, series_room = 0;
};
static open_history history;

// Stop with a "|" line when a netCDF call failed.
static void check(int status, const char *what, const char *name) {
  if (status != NC_NOERR) fatal("| field history \"%s\": %s failed: %s", name, what, nc_strerror(status));
}

static void put_text(int file, int var, const char *attribute, const char *text, const char *name) {
  check(nc_put_att_text(file, var, attribute, strlen(text), text), "writing an attribute", name);
}

// Create the file `name` for the current grid with room for `room` series entries; the history
// text `lines` becomes its history attribute. Leaves the ids in ids, the file in data mode.
static void create_file(const char *name, size_t room, const std::string &lines, history_ids &ids) {
  int f = -1;
  const bool large = 4.0 * nx * static_cast<double>(ny) > largest_netcdf3_variable;
  check(nc_create_job(name, large ? NC_64BIT_DATA : NC_64BIT_OFFSET, &f), "creating the file", name);
  ids.file = f;
  check(nc_def_dim(f, "time", NC_UNLIMITED, &ids.time_dim), "defining time", name);
  check(nc_def_dim(f, "x", size_t(nx), &ids.x_dim), "defining x", name);
  check(nc_def_dim(f, "y", size_t(ny), &ids.y_dim), "defining y", name);
  check(nc_def_dim(f, "series_time", room > 0 ? room : 1, &ids.series_dim), "defining series_time", name);

  check(nc_def_var(f, "time", NC_DOUBLE, 1, &ids.time_dim, &ids.time_var), "defining time", name);
  put_text(f, ids.time_var, "long_name", "time t of the frame", name);
  put_text(f, ids.time_var, "units", "L_perp/c_s", name);
  put_text(f, ids.time_var, "axis", "T", name);
  check(nc_def_var(f, "x", NC_DOUBLE, 1, &ids.x_dim, &ids.x_var), "defining x", name);
  put_text(f, ids.x_var, "long_name", "radial position x (grid index/hy)", name);
  put_text(f, ids.x_var, "units", "rho_s", name);
  put_text(f, ids.x_var, "axis", "X", name);
  check(nc_def_var(f, "y", NC_DOUBLE, 1, &ids.y_dim, &ids.y_var), "defining y", name);
  put_text(f, ids.y_var, "long_name", "poloidal position y (grid index/hy)", name);
  put_text(f, ids.y_var, "units", "rho_s", name);
  put_text(f, ids.y_var, "axis", "Y", name);

  const int field_dims[3] = {ids.time_dim, ids.x_dim, ids.y_dim};
  for (int v = 0; v < nfields; v++) {
    check(nc_def_var(f, frame_fields[v].name, NC_FLOAT, 3, field_dims, &ids.field_var[v]), "defining a field", name);
    put_text(f, ids.field_var[v], "long_name", frame_fields[v].long_name, name);
    put_text(f, ids.field_var[v], "units", frame_fields[v].units, name);
  }

  const double nan = std::nan("");
  check(nc_def_var(f, "series_time", NC_DOUBLE, 1, &ids.series_dim, &ids.series_time_var), "defining series_time",
        name);
  put_text(f, ids.series_time_var, "long_name", "time t of the output (eng.dat column 1)", name);
  put_text(f, ids.series_time_var, "units", "L_perp/c_s", name);
  check(nc_put_att_double(f, ids.series_time_var, "_FillValue", NC_DOUBLE, 1, &nan), "writing _FillValue", name);
  for (int v = 0; v < nseries; v++) {
    ids.series_var[v] = -1;
    if (!series_written(v)) continue;
    check(nc_def_var(f, series[v].name, NC_DOUBLE, 1, &ids.series_dim, &ids.series_var[v]), "defining a series",
          name);
    put_text(f, ids.series_var[v], "long_name", series[v].long_name, name);
    put_text(f, ids.series_var[v], "units", series[v].units, name);
    check(nc_put_att_double(f, ids.series_var[v], "_FillValue", NC_DOUBLE, 1, &nan), "writing _FillValue", name);
  }

  put_text(f, NC_GLOBAL, "Conventions", "CF-1.8", name);
  put_text(f, NC_GLOBAL, "title", "tavo: two-dimensional drift-wave turbulence, field history", name);
  put_text(f, NC_GLOBAL, "program", "tavo", name);
  put_text(f, NC_GLOBAL, "version", tavo_version, name);
  put_text(f, NC_GLOBAL, "history", lines.c_str(), name);
  // Whole values as the integers the run uses, the others as read.
  for (int k = 0; k < nknown; k++) {
    if (parameter_table[k].quiet_default && values_read[k] == parameter_table[k].fallback) continue;
    const int whole = static_cast<int>(values_read[k]);  // in range: the parameter check passed
    check(parameter_table[k].kind == value_kind::whole
              ? nc_put_att_int(f, NC_GLOBAL, parameter_table[k].name, NC_INT, 1, &whole)
              : nc_put_att_double(f, NC_GLOBAL, parameter_table[k].name, NC_DOUBLE, 1, &values_read[k]),
          "writing a parameter", name);
  }

  // Every record is written whole, so netCDF need not pre-fill it; the series get their NaN below.
  int old_mode = 0;
  check(nc_set_fill(f, NC_NOFILL, &old_mode), "setting the fill mode", name);
  check(nc_enddef(f), "ending the definitions", name);
  check(nc_independent(f), "setting the data mode", name);
  if (!writing_process()) return;

  std::vector<double> coordinate(size_t(nx > ny ? nx : ny));
  for (int i = 0; i < nx; i++) coordinate[size_t(i)] = i / hy;
  check(nc_put_var_double(f, ids.x_var, coordinate.data()), "writing x", name);
  for (int j = 0; j < ny; j++) coordinate[size_t(j)] = j / hy;
  check(nc_put_var_double(f, ids.y_var, coordinate.data()), "writing y", name);
  std::vector<double> empty(room > 0 ? room : 1, nan);
  check(nc_put_var_double(f, ids.series_time_var, empty.data()), "writing series_time", name);
  for (int v = 0; v < nseries; v++)
    if (ids.series_var[v] >= 0) check(nc_put_var_double(f, ids.series_var[v], empty.data()), "writing a series", name);
}

// Why the open old history cannot be continued although its header is sound, nullptr when it can.
// A file cut short (copied in part, truncated) keeps a header that counts frames it no longer
// holds, and netCDF reads the missing ones as zeros: so the file must be at least as long as its
// records and fixed variables (the header itself is not counted, so a cut within the last few
// kilobytes passes), and its frame times must be finite and increase.
static const char *damage(const char *name, const history_ids &ids, size_t old_frames, size_t old_room) {
  static char reason[200];
  struct stat status;
  const double record = sizeof(double) + nfields * sizeof(float) * static_cast<double>(nx) * static_cast<double>(ny);
  int held = 0;
  for (int v = 0; v < nseries; v++) held += ids.series_var[v] >= 0;
  const double fixed = sizeof(double) * (static_cast<double>(nx) + ny + (held + 1.0) * static_cast<double>(old_room));
  const double needed = static_cast<double>(old_frames) * record + fixed;
  if (stat(name, &status) == 0 && static_cast<double>(status.st_size) < needed) {
    snprintf(reason, sizeof reason, "is cut short: it holds %lld bytes, its %zu frames and series need more than %.0f",
             static_cast<long long>(status.st_size), old_frames, needed);
    return reason;
  }
  if (old_frames == 0) return nullptr;
  std::vector<double> times(old_frames);
  const size_t start = 0;
  if (nc_get_vara_double(ids.file, ids.time_var, &start, &old_frames, times.data()) != NC_NOERR) {
    snprintf(reason, sizeof reason, "cannot be read: its frame times are damaged");
    return reason;
  }
  for (size_t r = 0; r < old_frames; r++)
    if (!std::isfinite(times[r]) || (r > 0 && !(times[r] > times[r - 1]))) {
      snprintf(reason, sizeof reason, "is damaged: frame %zu has the time %g after %g", r + 1, times[r],
               r > 0 ? times[r - 1] : 0.0);
      return reason;
    }
  return nullptr;
}

// The ids of an existing history in ids (opened with mode, read-only by default) and its frame and series counts;
// nullptr when it is a history of the current grid, else why it cannot be continued.
static const char *open_old(const char *name, history_ids &ids, size_t *old_frames, size_t *old_room,
                            int mode = NC_NOWRITE) {
  static char reason[200];
  int f = -1;
  int status = nc_open_job(name, mode, &f);
  if (status == NC_NOERR) status = nc_independent(f);
  if (status != NC_NOERR) {
    snprintf(reason, sizeof reason, "cannot be read (%s)", nc_strerror(status));
    return reason;
  }
  ids.file = f;
  size_t lx = 0, ly_points = 0;
  bool found = nc_inq_dimid(f, "time", &ids.time_dim) == NC_NOERR && nc_inq_dimid(f, "x", &ids.x_dim) == NC_NOERR &&
               nc_inq_dimid(f, "y", &ids.y_dim) == NC_NOERR &&
               nc_inq_dimid(f, "series_time", &ids.series_dim) == NC_NOERR &&
               nc_inq_dimlen(f, ids.time_dim, old_frames) == NC_NOERR &&
               nc_inq_dimlen(f, ids.x_dim, &lx) == NC_NOERR && nc_inq_dimlen(f, ids.y_dim, &ly_points) == NC_NOERR &&
               nc_inq_dimlen(f, ids.series_dim, old_room) == NC_NOERR &&
               nc_inq_varid(f, "time", &ids.time_var) == NC_NOERR && nc_inq_varid(f, "y", &ids.y_var) == NC_NOERR &&
               nc_inq_varid(f, "series_time", &ids.series_time_var) == NC_NOERR;
  for (int v = 0; v < nfields && found; v++) found = nc_inq_varid(f, frame_fields[v].name, &ids.field_var[v]) == NC_NOERR;
  for (int v = 0; v < nseries && found; v++) {
    // The series of adaptive steps are there only when the run that wrote the file made them.
    if (nc_inq_varid(f, series[v].name, &ids.series_var[v]) != NC_NOERR) ids.series_var[v] = -1;
    found = series[v].adaptive || ids.series_var[v] >= 0;
  }
  if (!found) {
    snprintf(reason, sizeof reason, "is not a tavo field history");
    return reason;
  }
  // The grid: its size and its spacing (the second y position, 1/hy).
  double spacing = 0.0;
  const size_t second = 1;
  if (ny > 1 && nc_get_var1_double(f, ids.y_var, &second, &spacing) != NC_NOERR) spacing = std::nan("");
  if (lx != size_t(nx) || ly_points != size_t(ny) || (ny > 1 && !(std::fabs(spacing * hy - 1.0) < 1e-9))) {
    snprintf(reason, sizeof reason, "holds a %zu x %zu grid of spacing %g rho_s, this run %d x %d of spacing %g", lx,
             ly_points, spacing, nx, ny, 1.0 / hy);
    return reason;
  }
  return damage(name, ids, *old_frames, *old_room);
}

// The text of the old file's history attribute ("" when it has none).
static std::string old_history_text(int file) {
  size_t length = 0;
  if (nc_inq_attlen(file, NC_GLOBAL, "history", &length) != NC_NOERR) return "";
  std::string text(length, '\0');
  if (length > 0 && nc_get_att_text(file, NC_GLOBAL, "history", &text[0]) != NC_NOERR) return "";
  return text;
}

// Copy the first `keep_frames` frames and `keep_entries` series entries of the old history into
// the new one (every process the rows of its slab of the frames, the writer the rest).
static void copy_old(const history_ids &old, size_t keep_frames, size_t keep_entries, const history_ids &now) {
  for (size_t r = 0; r < keep_frames; r++)
    for (int v = 0; v < nfields; v++)
      check(nc_copy_slab_float(old.file, old.field_var[v], now.file, now.field_var[v], long(r)), "copying a frame",
            history_temp);
  if (!writing_process()) return;
  std::vector<double> values(keep_frames > keep_entries ? keep_frames : keep_entries);
  if (keep_frames > 0) {
    const size_t start = 0;
    check(nc_get_vara_double(old.file, old.time_var, &start, &keep_frames, values.data()), "reading time", history_name);
    check(nc_put_vara_double(now.file, now.time_var, &start, &keep_frames, values.data()), "writing time", history_temp);
  }
  if (keep_entries == 0) return;
  const size_t start = 0;
  check(nc_get_vara_double(old.file, old.series_time_var, &start, &keep_entries, values.data()), "reading series_time",
        history_name);
  check(nc_put_vara_double(now.file, now.series_time_var, &start, &keep_entries, values.data()), "copying series_time",
        history_temp);
  for (int v = 0; v < nseries; v++) {
    if (old.series_var[v] < 0 || now.series_var[v] < 0) continue;
    check(nc_get_vara_double(old.file, old.series_var[v], &start, &keep_entries, values.data()), "reading a series",
          history_name);
    check(nc_put_vara_double(now.file, now.series_var[v], &start, &keep_entries, values.data()), "copying a series",
          history_temp);
  }
}

// The leading entries of a time variable of n values that lie before `limit` (NaN ends them).
static size_t leading_before(int file, int var, size_t n, double limit) {
  if (n == 0) return 0;
  std::vector<double> times(n);
  const size_t start = 0;
  check(nc_get_vara_double(file, var, &start, &n, times.data()), "reading times", history_name);
  size_t kept = 0;
  while (kept < n && times[kept] < limit) kept++;  // NaN compares false
  return kept;
}

// A free name for a history that cannot be continued: "tavo.nc.old", "tavo.nc.old2", ...
static std::string free_old_name() {
  std::string name = std::string(history_name) + ".old";
  for (int k = 2; access(name.c_str(), F_OK) == 0; k++) name = std::string(history_name) + ".old" + std::to_string(k);
  return name;
}

const char *history_problem(int outputs) {
  static char message[300];
  if (nframe <= 0) return nullptr;
  for (const char *name : {history_name, history_temp}) {
    struct stat status;
    if (lstat(name, &status) == 0 && !S_ISREG(status.st_mode) && !S_ISLNK(status.st_mode)) {
      snprintf(message, sizeof message,
               "| \"%s\" is there but is not a file (a directory?): the field history cannot be written; move it "
               "away or set nframe = 0 (value 20)", name);
      return message;
    }
  }
  // The series are sized and filled with NaN when the file is made: a run of more outputs than a
  // variable of the 64-bit-offset format holds would write tens of gigabytes before its first step.
  const double entries_bytes = 8.0 * (static_cast<double>(outputs) + 1.0);
  if (entries_bytes > largest_netcdf3_variable) {
    snprintf(message, sizeof message,
             "| itmax/itstp = %d outputs (values 14, 13): the series of the field history \"%s\" hold at most %.0f "
             "entries; use fewer outputs or nframe = 0 (value 20)", outputs, history_name,
             largest_netcdf3_variable / 8 - 1);
    return message;
  }
  return nullptr;
}

history_size history_file_size(int outputs) {
  if (nframe <= 0) return {0.0, 0.0};
  const double frames = static_cast<double>(outputs / nframe) + 1.0;
  const double frame = nfields * sizeof(float) * static_cast<double>(nx) * ny + sizeof(double);  // fields, time
  const double entry = (nseries + 1) * sizeof(double);  // the series and series_time
  return {frames, frames * frame + (static_cast<double>(outputs) + 1.0) * entry};
}

void history_start(double t0, int outputs) {
  if (nframe <= 0) return;
  char line[160];
  snprintf(line, sizeof line, "tavo %s: %s at t = %.8g, %d outputs of %d steps planned", tavo_version,
           incon == 2 ? "continued" : "started", t0, outputs, itstp);
  history_ids old;
  size_t keep_frames = 0, keep_entries = 0;
  std::string lines = line;
  if (incon == 2 && access(history_name, F_OK) == 0) {
    size_t old_frames = 0, old_room = 0;
    if (const char *reason = open_old(history_name, old, &old_frames, &old_room)) {
      if (old.file >= 0) nc_close(old.file);
      old.file = -1;
      if (writing_process()) {
        const std::string kept = free_old_name();
        rename_file(history_name, kept.c_str());
        fprintf(stderr, "| \"%s\" %s: kept as \"%s\", a new field history starts at t = %.8g\n", history_name,
                reason, kept.c_str(), t0);
      }
    } else {
      // Restart times carry seven digits: what lies within a millionth of t0 counts as t0.
      const double tolerance = series_tolerance(std::fabs(t0) > 1.0 ? std::fabs(t0) : 1.0, 1e-6);
      keep_frames = leading_before(old.file, old.time_var, old_frames, t0 - tolerance);
      keep_entries = leading_before(old.file, old.series_time_var, old_room, t0 + tolerance);
      const std::string before = old_history_text(old.file);
      if (!before.empty()) lines = before + "\n" + line;
    }
  }

  history.series_room = keep_entries + size_t(outputs > 0 ? outputs : 0);
  if (writing_process()) list_temporary(history_temp);
  create_file(history_temp, history.series_room, lines, history.ids);
  if (old.file >= 0) {
    copy_old(old, keep_frames, keep_entries, history.ids);
    check(nc_close(old.file), "closing", history_name);
  }
  history.frames = keep_frames;
  history.entries = keep_entries;
  check(nc_sync(history.ids.file), "flushing", history_temp);
  if (writing_process()) rename_file(history_temp, history_name);
  all_processes_ready();  // the file is "tavo.nc" before any process goes on
}

void history_resume(double t, int outputs) {
  if (nframe <= 0) return;
  history_ids old;
  size_t old_frames = 0, old_room = 0;
  const char *reason = access(history_name, F_OK) == 0 ? open_old(history_name, old, &old_frames, &old_room)
                                                        : "is missing";
  if (old.file >= 0) nc_close(old.file);
  if (!reason && old_room < size_t(outputs)) reason = "has no room for the outputs of this run";
  if (reason) {
    // The outputs before t are lost with the history; a new one starts.
    if (writing_process()) {
      fprintf(stderr, "| \"%s\" %s: the resumed run starts a new field history at t = %.8g\n", history_name, reason,
              t);
      if (access(history_name, F_OK) == 0) {
        const std::string kept = free_old_name();
        rename_file(history_name, kept.c_str());
      }
    }
    all_processes_ready();  // "tavo.nc" is set aside before any process looks for it again
    history_start(t, outputs);
    return;
  }
  if (const char *failure = open_old(history_name, history.ids, &old_frames, &old_room, NC_WRITE))
    fatal("| field history \"%s\" %s when opened for writing", history_name, failure);
  check(nc_no_fill(history.ids.file), "setting the fill mode", history_name);
  // The frames and entries up to t stay; later ones (of a run killed after its checkpoint) are
  // written again.
  const double tolerance = 1e-9 * (std::fabs(t) > 1.0 ? std::fabs(t) : 1.0);
  history.frames = leading_before(history.ids.file, history.ids.time_var, old_frames, t + tolerance);
  history.entries = leading_before(history.ids.file, history.ids.series_time_var, old_room, t + tolerance);
  history.series_room = old_room;
}

void history_output(double t, int output, const output_scalars &s, const output_fields &fields) {
  if (history.ids.file < 0) return;
  const int f = history.ids.file;
  if (output > 0 && t > 0 && history.entries < history.series_room) {
    size_t &entries = history.entries;
    if (writing_process()) {
      check(nc_put_var1_double(f, history.ids.series_time_var, &entries, &t), "writing series_time", history_name);
      for (int v = 0; v < nseries; v++)
        if (history.ids.series_var[v] >= 0)
          check(nc_put_var1_double(f, history.ids.series_var[v], &entries, &(s.*series[v].value)), "writing a series",
                history_name);
    }
    entries++;
  }
  if (output % nframe == 0) {
    // Frame r: the fields in single precision, then its time (the record is whole before the flush).
    for (int v = 0; v < nfields; v++)
      check(nc_put_slab_float(f, history.ids.field_var[v], long(history.frames), fields.*frame_fields[v].field),
            "writing a frame", history_name);
    if (writing_process())
      check(nc_put_var1_double(f, history.ids.time_var, &history.frames, &t), "writing time", history_name);
    history.frames++;
  }
  check(nc_sync(f), "flushing", history_name);
}

void history_end() {
  if (history.ids.file >= 0) check(nc_close(history.ids.file), "closing", history_name);
  history.ids.file = -1;
}
