// What a run costs on this machine, from measurements: every run that steps records its own
// timing report in the cache directory beside the FFT wisdom, and `tavo --check` estimates a run
// from the nearest record, or, when there is none, from the generated table of the examples' costs
// (examples/COSTS.md, written by scripts/example-costs). The estimate names its source.
//
// The records, "costs" in the cache directory: one line per grid, thread count and process count,
// the last run's
//   nx ny threads processes step_ns output_ns steps outputs
// step_ns the wall time of the step's stages (upd, poi1, poi2, pol, bnd, mem) per grid point and
// step, output_ns that of the output stage (the diagnostics, the field history, the checkpoints
// and the end) per grid point and output. Lines starting with '#' are comments. A run that cannot
// write the file leaves it as it was and says nothing: the cost is a convenience of --check.
//
// The table: the rows "| [name](...) | nx × ny | steps | threads | wall | per step | ..." of
// examples/COSTS.md; "per step" (a whole run's wall time over its steps, start-up and output
// included) gives the cost per grid point and step.
//
// The nearest record or row: of the same thread count (and, for records, process count) when there
// is one, else of the nearest thread count; and of those the grid whose number of points is
// nearest on a logarithmic scale (of two as near, the one of more steps).
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "common/files.hpp"
#include "common/state.hpp"
#include "driver/driver.hpp"
#include "parallel/processes.hpp"
#include "scheme/scheme.hpp"

#ifndef TAVO_COSTS
#define TAVO_COSTS "examples/COSTS.md"
#endif

const char *const cost_table_path = TAVO_COSTS;

constexpr size_t costs_limit = size_t(1) << 20;  // bytes the records may hold

std::string cost_records_path() {
  const std::string dir = cache_dir();
  return dir.empty() ? "" : dir + "/costs";
}

// One measured cost: a record's or a table row's grid, threads and processes, and its costs.
struct measured {
  int nx, ny, threads, processes;
  double step_ns, output_ns;
  long steps, outputs;
  std::string name;  // the example of a table row
};

static std::vector<measured> read_records(const std::string &path) {
  std::vector<measured> found;
  std::string text;
  if (path.empty() || read_small_file(path.c_str(), "the cost records", costs_limit, text)) return found;
  std::istringstream lines(text);
  std::string line;
  while (std::getline(lines, line)) {
    measured m{};
    if (line.empty() || line[0] == '#') continue;
    std::istringstream words(line);
    if (words >> m.nx >> m.ny >> m.threads >> m.processes >> m.step_ns >> m.output_ns >> m.steps >> m.outputs &&
        m.nx > 0 && m.ny > 0 && std::isfinite(m.step_ns) && m.step_ns > 0 && std::isfinite(m.output_ns) &&
        m.output_ns >= 0)
      found.push_back(m);
  }
  return found;
}

// The line of a record.
static std::string record_line(const measured &m) {
  char line[160];
  snprintf(line, sizeof line, "%d %d %d %d %.4g %.4g %ld %ld\n", m.nx, m.ny, m.threads, m.processes, m.step_ns,
           m.output_ns, m.steps, m.outputs);
  return line;
}

void record_run_cost(long steps, long outputs) {
  const std::string path = cost_records_path();
  if (process_rank != 0 || steps <= 0 || outputs <= 0 || path.empty()) return;
  const double stepping = stage_time[t_upd] + stage_time[t_poi1] + stage_time[t_poi2] + stage_time[t_pol] +
                          stage_time[t_bnd] + stage_time[t_mem];
  const double points = double(nx) * double(ny);
  const double step_ns = stepping * 1e9 / (points * double(steps));
  const double output_ns = stage_time[t_out] * 1e9 / (points * double(outputs));
  if (!(step_ns > 0) || !std::isfinite(step_ns) || !std::isfinite(output_ns)) return;
  std::string text =
      "# tavo: the cost of the last run of each grid, thread and process count on this machine (tavo --check reads it)\n"
      "# nx ny threads processes ns-per-point-and-step ns-per-point-and-output steps outputs\n";
  const measured run{nx, ny, npar, process_count, step_ns, output_ns, steps, outputs, ""};
  for (const measured &m : read_records(path))
    if (m.nx != nx || m.ny != ny || m.threads != npar || m.processes != process_count) text += record_line(m);
  store_cache_file(path, text + record_line(run));
}

// A table cell's number with its unit ("s", "ms", "µs") in seconds; NaN when it holds none.
static double seconds_in(const std::string &cell) {
  char *end = nullptr;
  const double value = strtod(cell.c_str(), &end);
  if (end == cell.c_str()) return NAN;
  std::string unit(end);
  unit.erase(0, unit.find_first_not_of(' '));
  unit.erase(unit.find_last_not_of(' ') + 1);
  if (unit == "s") return value;
  if (unit == "ms") return value * 1e-3;
  if (unit == "µs" || unit == "us") return value * 1e-6;
  return NAN;
}

static std::vector<measured> read_table(const std::string &path) {
  std::vector<measured> found;
  std::string text;
  if (read_small_file(path.c_str(), "the cost table", costs_limit, text)) return found;
  std::istringstream lines(text);
  std::string line;
  while (std::getline(lines, line)) {
    if (line.rfind("| [", 0) != 0) continue;
    std::vector<std::string> cells;
    for (size_t at = 1, bar; (bar = line.find('|', at)) != std::string::npos; at = bar + 1)
      cells.push_back(line.substr(at, bar - at));
    if (cells.size() < 6) continue;
    measured m{};
    m.name = cells[0].substr(cells[0].find('[') + 1, cells[0].find(']') - cells[0].find('[') - 1);
    // "128 × 128": the two numbers, whatever stands between them.
    const char *grid = cells[1].c_str();
    char *end = nullptr;
    m.nx = int(strtol(grid, &end, 10));
    while (*end && !(*end >= '0' && *end <= '9')) end++;
    m.ny = int(strtol(end, nullptr, 10));
    m.steps = strtol(cells[2].c_str(), nullptr, 10);
    m.threads = int(strtol(cells[3].c_str(), nullptr, 10));
    m.processes = 1;
    const double per_step = seconds_in(cells[5]);
    if (m.nx <= 0 || m.ny <= 0 || m.threads <= 0 || !(per_step > 0)) continue;
    m.step_ns = per_step * 1e9 / (double(m.nx) * double(m.ny));
    found.push_back(m);
  }
  return found;
}

// The entry of `all` nearest to the grid: of the same threads and processes when any has them.
static const measured *nearest(const std::vector<measured> &all, int gridx, int gridy, int threads, int processes) {
  const measured *best = nullptr;
  double best_distance = INFINITY;
  for (const measured &m : all) {
    // Another thread or process count only when none has this one, and then the nearest.
    const double other = std::fabs(std::log(double(m.threads) / threads)) + (m.processes == processes ? 0.0 : 1.0);
    const double distance = std::fabs(std::log((double(m.nx) * m.ny) / (double(gridx) * gridy))) + 1e3 * other;
    // Of two as near, the longer run: the better measurement.
    if (distance < best_distance || (distance == best_distance && m.steps > best->steps)) best = &m, best_distance = distance;
  }
  return best;
}

// "256 x 256 with 2 threads" (and the processes when there are several).
static std::string run_shape(const measured &m) {
  std::string text = std::to_string(m.nx) + " x " + std::to_string(m.ny) + " with " + std::to_string(m.threads) +
                     (m.threads == 1 ? " thread" : " threads");
  if (m.processes > 1) text += " on " + std::to_string(m.processes) + " processes";
  return text;
}

run_cost estimate_run_cost(int gridx, int gridy, int threads, int processes, long steps, long outputs,
                           const std::string &records, const std::string &table) {
  run_cost cost{0.0, ""};
  const double points = double(gridx) * double(gridy);
  const std::vector<measured> recorded = read_records(records);
  if (const measured *m = nearest(recorded, gridx, gridy, threads, processes)) {
    cost.seconds = points * (double(steps) * m->step_ns + double(outputs) * m->output_ns) * 1e-9;
    char text[300];
    snprintf(text, sizeof text,
             "at %.3g ns per point and step and %.3g ns per point and output, as the last run of %s measured on this "
             "machine (%s)", m->step_ns, m->output_ns, run_shape(*m).c_str(), records.c_str());
    cost.source = text;
    return cost;
  }
  const std::vector<measured> tabled = read_table(table);
  if (const measured *m = nearest(tabled, gridx, gridy, threads, processes)) {
    cost.seconds = points * double(steps) * m->step_ns * 1e-9;
    char text[300];
    snprintf(text, sizeof text,
             "at %.3g ns per point and step, the whole-run cost of the example %s (%s) in the generated table %s; "
             "no run of this user has measured this machine yet", m->step_ns, m->name.c_str(), run_shape(*m).c_str(),
             table.c_str());
    cost.source = text;
  }
  return cost;
}
