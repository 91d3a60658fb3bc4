// Storage of the fields and profiles for the run's grid, made once at start-up.
//
// All fields lie in one 64-byte aligned block (whole cache lines, aligned for the vector units and
// for FFTW's SIMD loads), zeroed at allocation so that every page is committed at start-up and a
// run that cannot hold its grid fails there, not hours later. Two paddings keep the many streams
// of the update sweep (a dozen fields read and written at the same point) out of each other's
// cache sets:
//   - a row holds an odd number (at least three) of 64-byte lines, so the stride is never a power
//     of two and successive rows of a field start in different sets (a power-of-two stride puts
//     every row of a column into the same few sets);
//   - the distance from one field to the next is an odd number of lines as well, so the same point
//     of different fields falls into different sets even when nx is a power of two.
// Separately allocated, page-aligned fields with power-of-two strides made the update sweep 1.5 to
// 2.4 times slower through such conflicts. The profiles and spectrum means follow the fields in the
// same block, each starting on a line of its own. A field holds the rows of this process (all of
// them on process 0, its slab elsewhere: parallel/processes.hpp) and two halo rows on each side.
#include <omp.h>
#include <sys/resource.h>
#include <sys/sysinfo.h>
#include <unistd.h>

#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "common/files.hpp"
#include "common/state.hpp"
#include "diagnostics/diagnostics.hpp"
#include "driver/driver.hpp"
#include "operators/operators.hpp"
#include "parallel/processes.hpp"

constexpr std::ptrdiff_t line_doubles = 8;  // one 64-byte cache line
constexpr size_t line_bytes = 64;


static double *block;  // the storage of everything allocate_fields hands out

std::ptrdiff_t field_stride(int columns) {
  std::ptrdiff_t lines = (static_cast<std::ptrdiff_t>(columns) + line_doubles - 1) / line_doubles;
  if (lines < 3) lines = 3;
  if (lines % 2 == 0) lines++;
  return lines * line_doubles;
}

// Halo rows on each side of the rows a process holds (parallel/processes.hpp).
constexpr int halo_rows = 2;

// Lines of one field of `rows` rows and its halos, and the lines of the profiles (three of nx, one
// of nx/2+1, four of ny/2+1), as doubles so that no grid overflows them.
static double field_lines(int rows, int gridy) {
  double lines = static_cast<double>(rows + 2 * halo_rows) * static_cast<double>(field_stride(gridy) / line_doubles);
  if (static_cast<long long>(lines) % 2 == 0) lines += 1;  // exact: lines stays far below 2^53 when it matters
  return lines;
}

static double vector_lines(double count) { return std::ceil(count / line_doubles); }

static double profile_lines(int gridx, int gridy) {
  return 3 * vector_lines(gridx) + vector_lines(gridx / 2 + 1) + 4 * vector_lines(gridy / 2 + 1);
}

// What FFTW's planner may add of its own (buffers of some algorithms, twiddle tables): one complex
// array of the grid. And the fixed buffers of the readers and writers (1 MB each, a few at once).
constexpr double planner_share = sizeof(cplx);
constexpr double small_buffers = 16.0 * 1048576.0;

double grid_bytes(int gridx, int gridy) {
  const double points = static_cast<double>(gridx) * static_cast<double>(gridy);
  const int threads = omp_get_max_threads();
  return static_cast<double>(field_block_bytes(gridx, gridy)) + transform_bytes(gridx, gridy, threads) +
         history_frame_bytes(gridx, gridy) + spectral_solve_bytes(gridx, gridy) + points * (planner_share + 1.0) +
         small_buffers;  // 1: the restart read's marks
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
  const double left = total - mapped - (block ? static_cast<double>(field_block_bytes(nx, ny)) : 0.0);  // the fields are reserved already
  const double room = address_room();
  struct sysinfo machine;
  const double memory = sysinfo(&machine) == 0
                            ? (static_cast<double>(machine.totalram) + static_cast<double>(machine.totalswap)) *
                                  static_cast<double>(machine.mem_unit)
                            : 0.0;
  if (memory > 0 && total > memory)
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

// Bytes of the block for fields of `rows` rows on an gridx by gridy grid.
static size_t block_bytes(int rows, int gridx, int gridy) {
  return (static_cast<size_t>(nfield_records) * static_cast<size_t>(field_lines(rows, gridy)) +
          static_cast<size_t>(profile_lines(gridx, gridy))) *
         line_bytes;
}

size_t field_block_bytes(int gridx, int gridy) { return block_bytes(gridx, gridx, gridy); }

const char *grid_problem(int gridx, int gridy) {
  static char message[256];
  const double points = static_cast<double>(gridx) * static_cast<double>(gridy);
  const double needed = grid_bytes(gridx, gridy);
  struct sysinfo machine;
  const double memory = sysinfo(&machine) == 0
                            ? (static_cast<double>(machine.totalram) + static_cast<double>(machine.totalswap)) *
                                  static_cast<double>(machine.mem_unit)
                            : 0.0;
  if (points > INT_MAX)
    snprintf(message, sizeof message, "| nx = %d, ny = %d (values 10, 11): the grid has %.0f points, more than the %d a run can count",
             gridx, gridy, points, INT_MAX);
  else if (memory > 0 && needed > memory)
    snprintf(message, sizeof message,
             "| nx = %d, ny = %d (values 10, 11): the grid needs %.0f bytes, more than this machine's %.0f bytes of memory and swap",
             gridx, gridy, needed, memory);
  else
    return nullptr;
  return message;
}

void free_fields() {
  free(block);
  block = nullptr;
  for (int k = 0; k < nfield_records; k++) *field_table[k].field = array2d{nullptr, 0};
  pkxavg = pkyavg = pkyavgn = pkyavgw = pkyavge = nullptr;
  xmask = neprof = peprof = nullptr;
}

void allocate_fields() {
  free_fields();
  if (const char *problem = grid_problem(nx, ny)) fatal("%s", problem);
  if (const char *problem = plan_slabs()) fatal("%s", problem);
  // Process 0 holds the whole grid, another process its slab (parallel/processes.hpp); a field's
  // view f[x] takes the grid's row numbers x, from the first halo row to the last.
  const int first = held_first(), rows = held_rows();
  const std::ptrdiff_t stride = field_stride(ny);
  const size_t per_field = static_cast<size_t>(field_lines(rows, ny)) * line_doubles;
  const size_t bytes = block_bytes(rows, nx, ny);
  block = static_cast<double *>(aligned_alloc(line_bytes, bytes));
  if (!block)
    fatal("| nx = %d, ny = %d (values 10, 11): cannot allocate the %zu bytes of the grid's fields (the run needs %.0f in all)",
          nx, ny, bytes, grid_bytes(nx, ny));
  memset(block, 0, bytes);
  double *next = block;
  for (int k = 0; k < nfield_records; k++) {
    *field_table[k].field = array2d{next + (halo_rows - first) * stride, stride};
    next += per_field;
  }
  auto take = [&next](int count) {
    double *start = next;
    next += static_cast<size_t>(vector_lines(count)) * line_doubles;
    return start;
  };
  xmask = take(nx);
  neprof = take(nx);
  peprof = take(nx);
  pkxavg = take(nx / 2 + 1);
  pkyavg = take(ny / 2 + 1);
  pkyavgn = take(ny / 2 + 1);
  pkyavgw = take(ny / 2 + 1);
  pkyavge = take(ny / 2 + 1);
}
