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
// same block, each starting on a line of its own.
#include <sys/sysinfo.h>

#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "common/files.hpp"
#include "common/state.hpp"

constexpr std::ptrdiff_t line_doubles = 8;  // one 64-byte cache line
constexpr size_t line_bytes = 64;


static double *block;  // the storage of everything allocate_fields hands out

std::ptrdiff_t field_stride(int columns) {
  std::ptrdiff_t lines = (static_cast<std::ptrdiff_t>(columns) + line_doubles - 1) / line_doubles;
  if (lines < 3) lines = 3;
  if (lines % 2 == 0) lines++;
  return lines * line_doubles;
}

// Lines of one field and the lines of the profiles (three of nx, one of nx/2+1, four of ny/2+1),
// as doubles so that no grid overflows them.
static double field_lines(int gridx, int gridy) {
  double lines = static_cast<double>(gridx) * static_cast<double>(field_stride(gridy) / line_doubles);
  if (static_cast<long long>(lines) % 2 == 0) lines += 1;  // exact: lines stays far below 2^53 when it matters
  return lines;
}

static double vector_lines(double count) { return std::ceil(count / line_doubles); }

static double profile_lines(int gridx, int gridy) {
  return 3 * vector_lines(gridx) + vector_lines(gridx / 2 + 1) + 4 * vector_lines(gridy / 2 + 1);
}

double grid_bytes(int gridx, int gridy) {
  const double points = static_cast<double>(gridx) * static_cast<double>(gridy);
  const double fields = (nfield_records * field_lines(gridx, gridy) + profile_lines(gridx, gridy)) * line_bytes;
  // plus the step's transform buffers (two slots each of real_in, real_out and of the half spectra
  // spec_in, spec_out: 64 bytes a point) and the spectral solve's (a real field and a half spectrum)
  return fields + (4 * sizeof(cplx) + 2 * sizeof(double)) * points;
}

size_t field_block_bytes(int gridx, int gridy) {
  return (static_cast<size_t>(nfield_records) * static_cast<size_t>(field_lines(gridx, gridy)) +
          static_cast<size_t>(profile_lines(gridx, gridy))) *
         line_bytes;
}

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
  const std::ptrdiff_t stride = field_stride(ny);
  const size_t per_field = static_cast<size_t>(field_lines(nx, ny)) * line_doubles;
  const size_t bytes = field_block_bytes(nx, ny);
  block = static_cast<double *>(aligned_alloc(line_bytes, bytes));
  if (!block)
    fatal("| nx = %d, ny = %d (values 10, 11): cannot allocate the %zu bytes of the grid's fields (the run needs %.0f in all)",
          nx, ny, bytes, grid_bytes(nx, ny));
  memset(block, 0, bytes);
  double *next = block;
  for (int k = 0; k < nfield_records; k++) {
    *field_table[k].field = array2d{next, stride};
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
