// Two-dimensional snapshots: ne ("n2d.dat"), the vorticity lap_pe ("w2d.dat"), pe ("p2d.dat")
// and pe - ne ("i2d.dat"), one line "%d  %d  %.6e\n" (x, y, value) per grid point, a block of
// ny lines per row x followed by an empty line. Each file is written under a temporary name and
// moved onto its final name only after all four are complete, so the final names always hold a
// whole snapshot. The text is byte for byte what printf gives; to keep a 1024 by 1024 snapshot
// cheap the rows of a block are formatted in parallel into fixed slots and then written in order.
#include <cstring>

#include "common/files.hpp"
#include "common/numfmt.hpp"
#include "diagnostics/writers.hpp"

constexpr int nfiles = 4;
constexpr int block_rows = 32;                 // rows formatted together
constexpr int line_room = 4 + 2 + 4 + 2 + 14 + 1;  // longest line: "1025  1025  -1.234567e+300\n"
constexpr size_t row_room = size_t(line_room) * nmax + 1;

static char row_text[nfiles][block_rows][row_room];  // formatted rows of the current block
static size_t row_length[nfiles][block_rows];

static const char *const temporary_name[nfiles] = {"n2d0.dat", "w2d0.dat", "p2d0.dat", "i2d0.dat"};
static const char *const final_name[nfiles] = {"n2d.dat", "w2d.dat", "p2d.dat", "i2d.dat"};

// Format row x of the four fields into slot r of the block.
static void format_row(array2d ne, array2d pe, int x, int r) {
  char prefix[16];
  char *prefix_end = put_d(prefix, x);
  prefix_end = put_s(prefix_end, "  ");
  const size_t prefix_length = size_t(prefix_end - prefix);
  char *p[nfiles];
  for (int f = 0; f < nfiles; f++) p[f] = row_text[f][r];
  for (int y = 0; y <= ny1; y++) {
    const double value[nfiles] = {ne[x][y], lap_pe[x][y], pe[x][y], pe[x][y] - ne[x][y]};
    for (int f = 0; f < nfiles; f++) {
      char *q = p[f];
      memcpy(q, prefix, prefix_length);
      q = put_d(q + prefix_length, y);
      q = put_s(q, "  ");
      q = put_e6(q, value[f]);
      *q++ = '\n';
      p[f] = q;
    }
  }
  for (int f = 0; f < nfiles; f++) {
    *p[f]++ = '\n';  // the empty line after the row's block
    row_length[f][r] = size_t(p[f] - row_text[f][r]);
  }
}

// ne, pe: the fields of the diagnostics call; lap_pe comes from the same call.
void write_snapshots(array2d ne, array2d pe) {
  writer w[nfiles];
  for (int f = 0; f < nfiles; f++) writer_temporary(w[f], temporary_name[f]);
  for (int first = 0; first <= nx1; first += block_rows) {
    const int rows = nx1 + 1 - first < block_rows ? nx1 + 1 - first : block_rows;
#pragma omp parallel for schedule(static)
    for (int r = 0; r < rows; r++) format_row(ne, pe, first + r, r);
    for (int f = 0; f < nfiles; f++)
      for (int r = 0; r < rows; r++) writer_put(w[f], row_text[f][r], row_length[f][r]);
  }
  for (int f = 0; f < nfiles; f++) writer_close(w[f]);
  for (int f = 0; f < nfiles; f++) rename_file(temporary_name[f], final_name[f]);
}
