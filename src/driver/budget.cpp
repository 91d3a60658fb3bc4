// The run's memory budget: what each process will reserve for its slab of the grid, counted from
// the sizes every layer's allocations use (the fields' block with its part of the tables, the
// step's transforms and the spectral solve's buffers, the transient buffers of the output), against
// this machine's memory and swap, shared by the processes of one node, and the address space left
// under the process's limit (ulimit -v); and the allocation of the fields for this process's rows.
// The checks run before the run touches any file: the grid's among the parameter values, the
// threads' and the whole run's once the fields and the probe stores are reserved.
#include <omp.h>
#include <sys/resource.h>
#include <sys/sysinfo.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdio>

#include "common/files.hpp"
#include "common/state.hpp"
#include "driver/driver.hpp"
#include "io/io.hpp"
#include "parallel/processes.hpp"
#include "scheme/scheme.hpp"

// What FFTW's planner may add of its own (buffers of some algorithms, twiddle tables): one complex
// array of the process's part of the grid. And the fixed buffers of the readers and writers (1 MB
// each, a few at once) and of the text the output streams to the writer (up to 64 MB waiting, and
// blocks of up to 16 MB being formatted and written).
constexpr double planner_share = sizeof(cplx);
constexpr double small_buffers = 112.0 * 1048576.0;

double grid_bytes(int gridx, int gridy) {
  // This process's rows and its part of the half spectrum in FFTW's blocks (the largest slab).
  const int rows = largest_slab(gridx);
  const double per_ky = (gridy / 2 + 1 + process_count - 1) / process_count;
  const double tables = process_count == 1 ? double(gridx) * (gridy / 2 + 1) : per_ky * gridx;
  const double elements = std::max(double(rows) * (gridy / 2 + 1), tables);
  const double points = double(rows) * gridy;
  // The output's transient buffers: the transpose of a field for the x-spectrum (two slabs of
  // doubles, several processes) and the restart read's marks (a byte a point).
  const double transient = (process_count > 1 ? 16.0 * points : 0.0) + points;
  return static_cast<double>(field_block_bytes(rows, gridx, gridy, static_cast<long>(tables))) +
         transform_bytes(static_cast<long>(elements), gridy, omp_get_max_threads()) + elements * planner_share +
         transient + small_buffers;
}

// The address space this process may still map (ulimit -v less what it maps now); infinity
// without a limit.
static double address_room() {
  struct rlimit limit;
  if (getrlimit(RLIMIT_AS, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) return INFINITY;
  FILE *statm = fopen("/proc/self/statm", "r");
  unsigned long long pages = 0;
  const bool known = statm && fscanf(statm, "%llu", &pages) == 1;
  if (statm) fclose(statm);
  if (!known) return INFINITY;
  return static_cast<double>(limit.rlim_cur) - static_cast<double>(pages) * static_cast<double>(sysconf(_SC_PAGESIZE));
}

// This machine's memory and swap in bytes (0 when it cannot be read).
static double machine_memory() {
  struct sysinfo machine;
  if (sysinfo(&machine) != 0) return 0.0;
  return (static_cast<double>(machine.totalram) + static_cast<double>(machine.totalswap)) *
         static_cast<double>(machine.mem_unit);
}

const char *threads_problem(int threads) {
  static char message[300];
  // Each thread beyond the first maps a stack of the size RLIMIT_STACK gives (8 MiB without one),
  // and a little more for its own data.
  struct rlimit stack;
  double stack_bytes = 8.0 * 1048576.0;
  if (getrlimit(RLIMIT_STACK, &stack) == 0 && stack.rlim_cur != RLIM_INFINITY) stack_bytes = double(stack.rlim_cur);
  const double needed = (threads - 1) * (stack_bytes + 1048576.0);
  const double room = address_room();
  if (threads <= 1 || needed <= room) return nullptr;
  snprintf(message, sizeof message,
           "| npar = %d (value 19): the stacks of the threads need %.0f bytes of address space, more than the %.0f "
           "left under this process's limit (ulimit -v)", threads, needed, room > 0 ? room : 0.0);
  return message;
}

const char *memory_problem(double mapped, double later) {
  static char message[300];
  // The thread team exists from here on: its stacks are mapped before the room is measured.
#pragma omp parallel
  { (void)0; }
  const double own = mapped + later;
  const double total = grid_bytes(nx, ny) + own;
  // the fields are reserved already
  const double reserved =
      fields_allocated() ? static_cast<double>(field_block_bytes(slab_rows, nx, ny, spectrum_elements())) : 0.0;
  const double left = total - mapped - reserved;
  const double room = address_room();
  // The processes of a node share its memory: their sum against it.
  const double node = sum_on_node(total);
  const int sharing = processes_on_node();
  const double memory = machine_memory();
  if (memory > 0 && node > memory && sharing > 1)
    snprintf(message, sizeof message,
             "| nx = %d, ny = %d (values 10, 11): the run needs %.0f bytes on this node (%d processes, %.0f bytes for "
             "this one, %.0f of them for the probe traces), more than its %.0f bytes of memory and swap; use more "
             "nodes or fewer processes per node", nx, ny, node, sharing, total, own, memory);
  else if (memory > 0 && total > memory)
    snprintf(message, sizeof message,
             "| nx = %d, ny = %d (values 10, 11): the run needs %.0f bytes (%.0f of them for the probe traces), more "
             "than this machine's %.0f bytes of memory and swap", nx, ny, total, own, memory);
  else if (left > room)
    snprintf(message, sizeof message,
             "| nx = %d, ny = %d (values 10, 11): the run needs %.0f bytes more, more than the %.0f bytes of address "
             "space left under this process's limit (ulimit -v)", nx, ny, left, room > 0 ? room : 0.0);
  else
    return nullptr;
  return message;
}

const char *grid_problem(int gridx, int gridy) {
  static char message[300];
  const double points = static_cast<double>(gridx) * static_cast<double>(gridy);
  // Every process of the node reserves about as much as this one.
  const int sharing = processes_on_node();
  const double needed = grid_bytes(gridx, gridy) * sharing;
  const double memory = machine_memory();
  if (points > INT_MAX)
    snprintf(message, sizeof message, "| nx = %d, ny = %d (values 10, 11): the grid has %.0f points, more than the %d a run can count",
             gridx, gridy, points, INT_MAX);
  else if (memory > 0 && needed > memory && sharing > 1)
    snprintf(message, sizeof message,
             "| nx = %d, ny = %d (values 10, 11): the grid needs %.0f bytes on this node (%d processes), more than its "
             "%.0f bytes of memory and swap; use more nodes or fewer processes per node",
             gridx, gridy, needed, sharing, memory);
  else if (memory > 0 && needed > memory)
    snprintf(message, sizeof message,
             "| nx = %d, ny = %d (values 10, 11): the grid needs %.0f bytes, more than this machine's %.0f bytes of memory and swap",
             gridx, gridy, needed, memory);
  else
    return nullptr;
  return message;
}

void allocate_grid() {
  if (const char *problem = grid_problem(nx, ny)) fatal("%s", problem);
  if (const char *problem = plan_slabs()) fatal("%s", problem);
  // Every process holds its slab and its part of the tables (parallel/processes.hpp).
  if (const size_t bytes = allocate_fields(slab_first, slab_rows, spectrum_elements()))
    fatal("| nx = %d, ny = %d (values 10, 11): cannot allocate the %zu bytes of the grid's fields (the run needs %.0f in all)",
          nx, ny, bytes, grid_bytes(nx, ny));
}
