// The checkpoint: "restart.dat" and the full-precision state "restart.nc".
//
// "restart.dat" keeps seven significant digits, so a run continued from it drifts away from the
// run that did not stop. "restart.nc" (netCDF classic, 64-bit offsets) holds, in double precision,
// every field the next step reads (those the field table marks `checkpointed`: the densities and their two older
// levels, the right-hand sides of the last two steps, the potentials, the spectral dissipation
// terms and the edge-damped gyro-average), the scalars that the diagnostics carry from one call to
// the next (eno, enwo, jnull_old, vde_avg and the running means of the wavenumber spectra), the
// run constants that start modes change (clin, hyd), the probe samples recorded so far and, as
// global attributes, the time, the run's start time t0, the steps done and the steps of the whole
// run, with the grid, the step parameters and the start mode (incon) they belong to. With
// adaptive steps (cfl > 0) also cfl, the output or sample last reached (tick) and the steps behind
// the history with the controller's state (scheme.hpp's step_state: h1, h2, levels, nominal,
// gradient, shortest, longest, count); with fixed steps h1 and h2 only after a continuation with
// another dt, until two steps of dt have made the history equal again (otherwise the history is
// one of equal steps of dt and the file that of earlier versions).
//
// Writing: "restart.nc.tmp" in full, its rename onto "restart.nc", then "restart.dat" (through its
// own temporary file and rename). "restart.nc" records the header of the "restart.dat" it replaces
// (attribute previous_restart, "" when there was none). A kill at any moment therefore leaves the
// previous pair, or the new "restart.nc" beside the "restart.dat" of the checkpoint before it (or
// beside none, at a run's first checkpoint), or the new pair: the newest state is always in
// "restart.nc", and the continuation takes it, so the run reaches its planned end exactly.
// (Renamed the other way round, a kill between the renames left the new "restart.dat" beside the
// old "restart.nc"; the continuation then took "restart.dat" and started a new run of itmax steps.)
// Every process writes and reads the rows of its slab (netcdf_job.cpp); the attributes, means and
// probe samples are the writing process's, and so are the renames (every process reads the same
// previous_restart from the shared directory before the collective create). A field beyond the
// 4 GiB of a variable of the 64-bit-offset format (more than 2^29 points) makes the file CDF-5.
//
// Reading (incon 2): "restart.nc" is taken when it is a checkpoint of this grid whose time, printed
// as "restart.dat" prints it, is the header of "restart.dat", or whose previous_restart is that
// header (a stop between the two renames, said on standard error); otherwise "restart.dat" is
// read, with a "|" note on standard error when a "restart.nc" was there. When the checkpoint's run had not
// reached its last step and dt, itstp, itmax and ntrace are those of this run, the run resumes: it
// goes on from that step of that run, with its start time, start mode (which the diagnostics
// follow: the running means of the spectra, the phase speed of incon 5), diagnostics sums and
// probe samples, so
// a run stopped and continued any number of times writes the files of a run that never stopped
// (with the same thread count: the sums of a step are taken in the order of the threads).
// Otherwise the continuation is a new run of itmax steps from the checkpoint's state; its history
// goes on with the steps that made it (a new dt is only a step of another length), unless it was
// made the other way (adaptive or fixed steps, whose right-hand sides hold different terms): then
// it starts afresh (scheme.hpp, fresh_history_steps) with a note on standard error.
#include "io/io.hpp"

#include <netcdf.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "common/files.hpp"
#include "common/numfmt.hpp"
#include "common/state.hpp"
#include "common/version.hpp"
#include "scheme/scheme.hpp"
#include "diagnostics/diagnostics.hpp"
#include "parallel/processes.hpp"

const char *const checkpoint_name = "restart.nc";
static const char *const checkpoint_temp = "restart.nc.tmp";
static const char *const restart_name = "restart.dat";

// The fields of the state that the next step reads (those of the field table marked checkpointed),
// in double precision on (x, y).
static std::vector<const field_record *> stored_fields() {
  std::vector<const field_record *> fields;
  for (int k = 0; k < nfield_records; k++)
    if (field_table[k].checkpointed) fields.push_back(&field_table[k]);
  return fields;
}

// The scalars carried from one step or diagnostics call to the next (global attributes).
struct stored_scalar {
  const char *name;
  double *value;
};
static double jnull_value;  // jnull_old as a double while it is written or read
static const stored_scalar scalars[] = {{"eno", &eno},         {"enwo", &enwo}, {"jnull_old", &jnull_value},
                                        {"vde_avg", &vde_avg}, {"clin", &clin}, {"hyd", &hyd}};

// The running means of the spectra: name, values, length.
struct stored_mean {
  const char *name;
  double **values;
  bool along_x;  // nx/2 + 1 values, else ny/2 + 1
};
static const stored_mean means[] = {{"pkxavg", &pkxavg, true},
                                    {"pkyavg", &pkyavg, false},
                                    {"pkyavgn", &pkyavgn, false},
                                    {"pkyavgw", &pkyavgw, false},
                                    {"pkyavge", &pkyavge, false}};

// Steps of the whole run: the intervals of itstp steps that fit in itmax.
static long run_steps() { return static_cast<long>(itmax / itstp) * itstp; }

// Probe samples recorded once the run reached `tick` (the last output or sample, in steps of dt
// from t0; the steps done with fixed steps).
static long samples_after(long tick) {
  if (!printtraces) return 0;
  const long recorded = tick / ntrace + 1;
  return recorded < maxtrace ? recorded : maxtrace;
}

static void check(int status, const char *what, const char *name) {
  if (status != NC_NOERR) fatal("| checkpoint \"%s\": %s failed: %s", name, what, nc_strerror(status));
}

static void put_number(int file, const char *attribute, double value) {
  check(nc_put_att_double(file, NC_GLOBAL, attribute, NC_DOUBLE, 1, &value), "writing an attribute", checkpoint_temp);
}

// The steps behind the history and the controller's state (adaptive steps), as attributes.
struct stored_step {
  const char *name;
  double value;
};

// The first word of "restart.dat" (its time as printed), "" when it cannot be read.
static std::string restart_header() {
  FILE *file = fopen(restart_name, "r");
  if (!file) return "";
  char word[64] = "";
  if (fscanf(file, "%63s", word) != 1) word[0] = '\0';
  fclose(file);
  return word;
}

void write_checkpoint(double t, double t0, long step, long tick, const double *trace_n, const double *trace_p) {
  const char *name = checkpoint_temp;
  const std::string previous = restart_header();  // the "restart.dat" this checkpoint replaces
  if (writing_process()) list_temporary(name);
  int f = -1;
  const bool large = 8.0 * nx * static_cast<double>(ny) > largest_netcdf3_variable;
  check(nc_create_job(name, large ? NC_64BIT_DATA : NC_64BIT_OFFSET, &f), "creating the file", name);
  int x_dim, y_dim, kx_dim, ky_dim, probe_dim = -1, sample_dim = -1;
  check(nc_def_dim(f, "x", size_t(nx), &x_dim), "defining x", name);
  check(nc_def_dim(f, "y", size_t(ny), &y_dim), "defining y", name);
  check(nc_def_dim(f, "kx", size_t(nx / 2 + 1), &kx_dim), "defining kx", name);
  check(nc_def_dim(f, "ky", size_t(ny / 2 + 1), &ky_dim), "defining ky", name);
  const long samples = samples_after(tick);
  if (samples > 0) {
    check(nc_def_dim(f, "probe", size_t(nprobes), &probe_dim), "defining probe", name);
    check(nc_def_dim(f, "sample", size_t(samples), &sample_dim), "defining sample", name);
  }
  const int grid[2] = {x_dim, y_dim};
  const std::vector<const field_record *> stored = stored_fields();
  std::vector<int> field_var(stored.size());
  for (size_t v = 0; v < stored.size(); v++)
    check(nc_def_var(f, stored[v]->name, NC_DOUBLE, 2, grid, &field_var[v]), "defining a field", name);
  int mean_var[sizeof means / sizeof means[0]];
  for (size_t v = 0; v < sizeof means / sizeof means[0]; v++)
    check(nc_def_var(f, means[v].name, NC_DOUBLE, 1, means[v].along_x ? &kx_dim : &ky_dim, &mean_var[v]),
          "defining a spectrum", name);
  int trace_var[2] = {-1, -1};
  if (samples > 0) {
    const int dims[2] = {probe_dim, sample_dim};
    check(nc_def_var(f, "trace_n", NC_DOUBLE, 2, dims, &trace_var[0]), "defining trace_n", name);
    check(nc_def_var(f, "trace_p", NC_DOUBLE, 2, dims, &trace_var[1]), "defining trace_p", name);
  }
  const char *title = "tavo checkpoint: the whole state in double precision (continue with incon 2)";
  check(nc_put_att_text(f, NC_GLOBAL, "title", strlen(title), title), "writing the title", name);
  check(nc_put_att_text(f, NC_GLOBAL, "version", strlen(tavo_version), tavo_version), "writing the version", name);
  check(nc_put_att_text(f, NC_GLOBAL, "previous_restart", previous.size(), previous.c_str()),
        "writing the previous restart time", name);
  put_number(f, "time", t);
  put_number(f, "t0", t0);
  put_number(f, "step", double(step));
  put_number(f, "steps", double(run_steps()));
  put_number(f, "nx", nx);
  put_number(f, "ny", ny);
  put_number(f, "dt", dt);
  put_number(f, "itstp", itstp);
  put_number(f, "itmax", itmax);
  put_number(f, "ntrace", ntrace);
  put_number(f, "incon", incon);
  jnull_value = jnull_old;
  for (const stored_scalar &s : scalars) put_number(f, s.name, *s.value);
  const stored_step steps_behind[] = {{"h1", stepping.h1}, {"h2", stepping.h2}};
  const stored_step control[] = {{"cfl", cfl},
                                 {"tick", double(tick)},
                                 {"levels", double(stepping.levels)},
                                 {"nominal", stepping.nominal},
                                 {"gradient", stepping.gradient},
                                 {"shortest", stepping.shortest},
                                 {"longest", stepping.longest},
                                 {"count", double(stepping.count)}};
  if (cfl > 0 || stepping.h1 != dt || stepping.h2 != dt)
    for (const stored_step &s : steps_behind) put_number(f, s.name, s.value);
  if (cfl > 0)
    for (const stored_step &s : control) put_number(f, s.name, s.value);
  int old_mode = 0;
  check(nc_set_fill(f, NC_NOFILL, &old_mode), "setting the fill mode", name);
  check(nc_enddef(f), "ending the definitions", name);
  check(nc_independent(f), "setting the data mode", name);

  for (size_t v = 0; v < stored.size(); v++)
    check(nc_put_slab(f, field_var[v], -1, *stored[v]->field), "writing a field", name);
  // The means (the same on every process) and the probe samples (gathered to it) by the writer.
  for (size_t v = 0; v < sizeof means / sizeof means[0] && writing_process(); v++)
    check(nc_put_var_double(f, mean_var[v], *means[v].values), "writing a spectrum", name);
  for (int p = 0; p < nprobes && samples > 0 && writing_process(); p++) {
    const size_t start[2] = {size_t(p), 0}, count[2] = {1, size_t(samples)};
    const size_t offset = size_t(p) * size_t(maxtrace);
    check(nc_put_vara_double(f, trace_var[0], start, count, trace_n + offset), "writing trace_n", name);
    check(nc_put_vara_double(f, trace_var[1], start, count, trace_p + offset), "writing trace_p", name);
  }
  check(nc_close(f), "closing", name);

  if (writing_process()) rename_file(checkpoint_temp, checkpoint_name);
  writerestart(t);
}

// ---- reading ----

// What read_continuation found in "restart.nc".
static bool loaded;         // the state came from "restart.nc"
static run_origin resumed;  // its origin, when the run resumes

static double number(int file, const char *attribute, bool *ok) {
  double value = 0.0;
  if (nc_get_att_double(file, NC_GLOBAL, attribute, &value) != NC_NOERR) *ok = false;
  return value;
}


// The text attribute name of the file f, "(none)" when it has none (no header reads so).
static std::string text_attribute(int f, const char *name) {
  nc_type type;
  size_t length = 0;
  if (nc_inq_att(f, NC_GLOBAL, name, &type, &length) != NC_NOERR || type != NC_CHAR || length > 64) return "(none)";
  char text[65] = "";
  if (nc_get_att_text(f, NC_GLOBAL, name, text) != NC_NOERR) return "(none)";
  text[length] = '\0';
  return text;
}

// Whether the checkpoint read is the newer half of a torn pair, and the note that says so.
static bool torn;
static char torn_note[300];

// Read "restart.nc" into the state when it fits this run; nullptr then, else why not.
static const char *load_checkpoint(int f, double *time) {
  static char reason[200];
  bool ok = true;
  *time = number(f, "time", &ok);
  const double grid_x = number(f, "nx", &ok), grid_y = number(f, "ny", &ok);
  if (!ok) return "is not a tavo checkpoint";
  if (grid_x != nx || grid_y != ny) {
    snprintf(reason, sizeof reason, "holds a %g x %g grid, this run %d x %d", grid_x, grid_y, nx, ny);
    return reason;
  }
  char printed[32];
  *put_e6(printed, *time) = '\0';
  const std::string header = restart_header();
  // A stop between the renames of a checkpoint leaves the new "restart.nc" beside the
  // "restart.dat" it replaces: the state of "restart.nc" is the newer one.
  torn = header != printed && text_attribute(f, "previous_restart") == header;
  if (torn)
    snprintf(torn_note, sizeof torn_note,
             "| \"%s\" (t = %s) is the checkpoint after \"%s\" (t = %.31s), which a stop between their renames "
             "left: continuing from \"%s\"\n",
             checkpoint_name, printed, restart_name, header.empty() ? "none" : header.c_str(), checkpoint_name);
  if (header != printed && !torn) {
    snprintf(reason, sizeof reason, "holds t = %s, \"%s\" t = %.31s", printed, restart_name,
             header.empty() ? "(none)" : header.c_str());
    return reason;
  }
  // Everything is looked up before anything of the state is changed.
  const std::vector<const field_record *> stored = stored_fields();
  std::vector<int> field_var(stored.size());
  int mean_var[sizeof means / sizeof means[0]];
  for (size_t v = 0; v < stored.size(); v++)
    if (nc_inq_varid(f, stored[v]->name, &field_var[v]) != NC_NOERR) return "lacks a field of the state";
  for (size_t v = 0; v < sizeof means / sizeof means[0]; v++)
    if (nc_inq_varid(f, means[v].name, &mean_var[v]) != NC_NOERR) return "lacks a spectrum";
  std::vector<double> values(sizeof scalars / sizeof scalars[0]);
  for (size_t s = 0; s < values.size(); s++) values[s] = number(f, scalars[s].name, &ok);
  if (!ok) return "lacks a scalar of the state";
  // The steps behind the history: a file of adaptive steps holds them all, with the controller's
  // state; one of fixed steps h1 and h2 only after steps of another dt, else none.
  bool adaptive = true, given = true, control = true;
  const double file_cfl = number(f, "cfl", &adaptive), file_dt = number(f, "dt", &ok);
  adaptive = adaptive && file_cfl > 0;
  const double h1 = number(f, "h1", &given), h2 = number(f, "h2", &given);
  step_state controller{};
  const double tick = number(f, "tick", &control), levels = number(f, "levels", &control);
  controller.nominal = number(f, "nominal", &control);
  controller.gradient = number(f, "gradient", &control);
  controller.shortest = number(f, "shortest", &control);
  controller.longest = number(f, "longest", &control);
  controller.count = static_cast<long>(number(f, "count", &control));
  if (adaptive && !(given && control && levels >= 1 && levels <= 3)) return "lacks the steps behind its history";

  check(nc_independent(f), "setting the data mode", checkpoint_name);
  for (size_t v = 0; v < stored.size(); v++)
    check(nc_get_slab(f, field_var[v], -1, *stored[v]->field), "reading a field", checkpoint_name);
  eno = values[0];
  if (adaptive != (cfl > 0)) {
    // The right-hand sides of the history hold other terms (the coupling is explicit with fixed
    // steps only): the scheme starts afresh from the state.
    fprintf(stderr, "| \"%s\" holds the history of %s steps, this run makes %s ones: the scheme starts afresh "
            "from the state (%s)\n", checkpoint_name, adaptive ? "adaptive" : "fixed", cfl > 0 ? "adaptive" : "fixed",
            cfl > 0 ? "at third order" : "with equal levels, as a fresh run does");
    discard_history();
  } else {
    stepping.h1 = given ? h1 : file_dt;
    stepping.h2 = given ? h2 : file_dt;
    stepping.levels = adaptive ? static_cast<int>(levels) : 3;
  }

  // Resume when the run that wrote it had steps left and this run makes the same steps.
  const double step = number(f, "step", &ok), steps = number(f, "steps", &ok), t0 = number(f, "t0", &ok);
  const double start_mode = number(f, "incon", &ok);
  const bool same_steps = file_dt == dt && number(f, "itstp", &ok) == itstp && number(f, "itmax", &ok) == itmax &&
                          number(f, "ntrace", &ok) == ntrace && (adaptive ? file_cfl : 0.0) == cfl;
  // How far the run got, in steps of dt: with adaptive steps the ticks (whose number is itmax at
  // the end), with fixed steps the steps.
  const double reached = adaptive ? tick : step;
  if (ok && same_steps && reached < steps && steps == run_steps()) {
    for (size_t s = 0; s < values.size(); s++) *scalars[s].value = values[s];
    jnull_old = static_cast<int>(jnull_value);
    for (size_t v = 0; v < sizeof means / sizeof means[0]; v++)
      check(nc_get_var_double(f, mean_var[v], *means[v].values), "reading a spectrum", checkpoint_name);
    if (adaptive) {
      stepping.nominal = controller.nominal;
      stepping.gradient = controller.gradient;
      stepping.shortest = controller.shortest;
      stepping.longest = controller.longest;
      stepping.count = controller.count;
    }
    resumed = {true, t0, static_cast<long>(step), start_mode, adaptive ? static_cast<long>(tick) : static_cast<long>(step),
               *time};
  }
  return nullptr;
}

double read_continuation() {
  loaded = false;
  torn = false;
  resumed = {false, 0.0, 0, incon, 0, 0.0};
  if (access(checkpoint_name, F_OK) != 0) return readrestart();
  int f = -1;
  double time = 0.0;
  const char *why = "cannot be read";
  if (nc_open_job(checkpoint_name, NC_NOWRITE, &f) == NC_NOERR) {
    why = load_checkpoint(f, &time);
    nc_close(f);
  }
  if (why) {
    fprintf(stderr, "| \"%s\" %s: continuing from \"%s\" (seven significant digits)\n", checkpoint_name, why,
            restart_name);
    return readrestart();
  }
  if (torn) fputs(torn_note, stderr);
  printf("| continued data set... \n");
  fflush(stdout);
  loaded = true;
  return time;
}

run_origin continuation_origin(double t) {
  if (incon == 2 && loaded && resumed.resumed) return resumed;
  return {false, t, 0, incon, 0, t};
}

void restore_traces(double *trace_n, double *trace_p) {
  const long samples = samples_after(resumed.tick);
  if (!resumed.resumed || samples == 0) return;
  int f = -1, var_n = -1, var_p = -1;
  size_t length = 0;
  int dim = -1;
  check(nc_open_job(checkpoint_name, NC_NOWRITE, &f), "opening", checkpoint_name);
  check(nc_independent(f), "setting the data mode", checkpoint_name);
  check(nc_inq_varid(f, "trace_n", &var_n), "finding trace_n", checkpoint_name);
  check(nc_inq_varid(f, "trace_p", &var_p), "finding trace_p", checkpoint_name);
  check(nc_inq_dimid(f, "sample", &dim), "finding sample", checkpoint_name);
  check(nc_inq_dimlen(f, dim, &length), "reading sample", checkpoint_name);
  if (length != size_t(samples))
    fatal("| checkpoint \"%s\" holds %zu probe samples, the run's position %ld needs %ld", checkpoint_name, length,
          resumed.tick,
          samples);
  for (int p = 0; p < nprobes; p++) {
    const size_t start[2] = {size_t(p), 0}, count[2] = {1, length};
    const size_t offset = size_t(p) * size_t(maxtrace);
    check(nc_get_vara_double(f, var_n, start, count, trace_n + offset), "reading trace_n", checkpoint_name);
    check(nc_get_vara_double(f, var_p, start, count, trace_p + offset), "reading trace_p", checkpoint_name);
  }
  nc_close(f);
}
