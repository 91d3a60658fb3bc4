// Storage of the fields and profiles for the run's grid, made once at start-up.
//
// All fields lie in one 64-byte aligned block (whole cache lines, aligned for the vector units and
// for FFTW's SIMD loads), zeroed at allocation so that every page is committed at start-up and a
// run that cannot hold its grid fails there, not hours later. The zeroing is each page's first
// touch, which places it on the memory node of the thread that touches it: every thread zeroes the
// rows of every field that it updates in the sweep (the same static partition, thread_rows), so a
// process whose threads span several sockets keeps each thread's rows next to it, and the tables
// are zeroed in the static partition of the loops over the half spectrum. Two paddings keep the many streams
// of the update sweep (a dozen fields read and written at the same point) out of each other's
// cache sets:
//   - a row holds an odd number (at least three) of 64-byte lines, so the stride is never a power
//     of two and successive rows of a field start in different sets (a power-of-two stride puts
//     every row of a column into the same few sets);
//   - the distance from one field to the next is an odd number of lines as well, so the same point
//     of different fields falls into different sets even when nx is a power of two.
// Separately allocated, page-aligned fields with power-of-two strides made the update sweep 1.5 to
// 2.4 times slower through such conflicts. The profiles, spectrum means and the five coefficient
// tables follow the fields in the same block, each starting on a line of its own. A field holds the
// rows its caller names (a process's slab, parallel/processes.hpp) and two halo rows on each side;
// a table its caller's count of values (the process's part of the half spectrum). The memory
// budget of the whole run, which adds what the other layers reserve, is the driver's
// (driver/budget.cpp).
#include <omp.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <initializer_list>

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

// Halo rows on each side of the rows a process holds (parallel/processes.hpp).
constexpr int halo_rows = 2;

// Lines of one field of `rows` rows and its halos, and the lines of the profiles (three of nx, one
// of nx/2+1, four of ny/2+1) and tables, as doubles so that no grid overflows them.
static double field_lines(int rows, int gridy) {
  double lines = static_cast<double>(rows + 2 * halo_rows) * static_cast<double>(field_stride(gridy) / line_doubles);
  if (static_cast<long long>(lines) % 2 == 0) lines += 1;  // exact: lines stays far below 2^53 when it matters
  return lines;
}

static double vector_lines(double count) { return std::ceil(count / line_doubles); }

static double profile_lines(int gridx, int gridy) {
  return 3 * vector_lines(gridx) + vector_lines(gridx / 2 + 1) + 4 * vector_lines(gridy / 2 + 1);
}

constexpr int ntables = 5;

size_t field_block_bytes(int rows, int gridx, int gridy, long table_elements) {
  return (static_cast<size_t>(nfield_records) * static_cast<size_t>(field_lines(rows, gridy)) +
          static_cast<size_t>(profile_lines(gridx, gridy)) +
          ntables * static_cast<size_t>(vector_lines(static_cast<double>(table_elements)))) *
         line_bytes;
}

void free_fields() {
  free(block);
  block = nullptr;
  for (int k = 0; k < nfield_records; k++) *field_table[k].field = array2d{nullptr, 0};
  pkxavg = pkyavg = pkyavgn = pkyavgw = pkyavge = nullptr;
  xmask = neprof = peprof = nullptr;
  cvfis = cpoti = cvort = clap = chyv = nullptr;
}

bool fields_allocated() { return block != nullptr; }

size_t allocate_fields(int first, int rows, long table_elements) {
  free_fields();
  // A field's view f[x] takes the grid's row numbers x, from the first halo row to the last.
  const std::ptrdiff_t stride = field_stride(ny);
  const size_t per_field = static_cast<size_t>(field_lines(rows, ny)) * line_doubles;
  const size_t bytes = field_block_bytes(rows, nx, ny, table_elements);
  block = static_cast<double *>(aligned_alloc(line_bytes, bytes));
  if (!block) return bytes;
  double *const fields_end = block + nfield_records * per_field;
#pragma omp parallel
  {
    const int threads = omp_get_num_threads(), t = omp_get_thread_num();
    int lo, hi;
    thread_rows(first, rows, t, threads, &lo, &hi);
    // The halo rows and the padding after the last row go with the first and last thread's rows.
    const std::ptrdiff_t from = t == 0 ? 0 : (lo - first + halo_rows) * stride;
    const std::ptrdiff_t to =
        t == threads - 1 ? static_cast<std::ptrdiff_t>(per_field) : (hi - first + halo_rows) * stride;
    for (int k = 0; k < nfield_records && to > from; k++)
      memset(block + k * per_field + from, 0, sizeof(double) * static_cast<size_t>(to - from));
    const size_t rest = bytes / sizeof(double) - static_cast<size_t>(fields_end - block);
#pragma omp for schedule(static)
    for (size_t line = 0; line < rest / line_doubles; line++) memset(fields_end + line * line_doubles, 0, line_bytes);
  }
  double *next = block;
  for (int k = 0; k < nfield_records; k++) {
    *field_table[k].field = array2d{next + (halo_rows - first) * stride, stride};
    next += per_field;
  }
  auto take = [&next](long count) {
    double *start = next;
    next += static_cast<size_t>(vector_lines(static_cast<double>(count))) * line_doubles;
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
  for (double **table : {&cvfis, &cpoti, &cvort, &clap, &chyv}) *table = take(table_elements);
  return 0;
}
