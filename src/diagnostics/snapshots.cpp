// Two-dimensional snapshots: ne ("n2d.dat"), the vorticity lap_pe ("w2d.dat"), pe ("p2d.dat")
// and pe - ne ("i2d.dat"), one line "%d  %d  %.6e\n" (x, y, value) per grid point, a block of
// ny lines per row x followed by an empty line. Each file is written under a temporary name and
// moved onto its final name only after all four are complete, so the final names always hold a
// whole snapshot. The text is byte for byte what printf gives; to keep a 1024 by 1024 snapshot
// cheap the rows of a block are formatted in parallel into fixed slots and then written in order.
#include <cstring>
#include <vector>

#include "common/files.hpp"
#include "common/numfmt.hpp"
#include "common/writer.hpp"
#include "diagnostics/writers.hpp"

constexpr int nfiles = 4;
constexpr int block_rows = 32;                 // rows formatted together
// Longest line: two indices of up to ten digits, "-1.234567e+300", two separators and the line end.
constexpr int line_room = 10 + 2 + 10 + 2 + 14 + 1;

// The formatted rows of the current block: slot r of file f at text + (f*block_rows + r)*room,
// holding length[f][r] characters.
struct block_text {
  std::vector<char> text;
  size_t room;
  size_t length[nfiles][block_rows];
  char *slot(int f, int r) { return &text[(size_t(f) * block_rows + size_t(r)) * room]; }
};

static const char *const temporary_name[nfiles] = {"n2d0.dat", "w2d0.dat", "p2d0.dat", "i2d0.dat"};
static const char *const final_name[nfiles] = {"n2d.dat", "w2d.dat", "p2d.dat", "i2d.dat"};

// Format row x of the four fields into slot r of the block.
static void format_row(block_text &rows, const output_fields &f, int x, int r) {
  const array2d ne = f.ne, pe = f.pe, lap_pe = f.lap_pe;
  char prefix[16];
  char *prefix_end = put_d(prefix, x);
  prefix_end = put_s(prefix_end, "  ");
  const size_t prefix_length = size_t(prefix_end - prefix);
  char *p[nfiles];
  for (int f = 0; f < nfiles; f++) p[f] = rows.slot(f, r);
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
    rows.length[f][r] = size_t(p[f] - rows.slot(f, r));
  }
}

// f: the fields of the diagnostics call, lap_pe made by the same call.
void write_snapshots(const output_fields &f) {
  block_text rows;
  rows.room = size_t(line_room) * size_t(ny) + 1;
  rows.text.resize(size_t(nfiles) * block_rows * rows.room);
  writer w[nfiles];
  for (int f = 0; f < nfiles; f++) writer_temporary(w[f], temporary_name[f]);
  for (int first = 0; first <= nx1; first += block_rows) {
    const int count = nx1 + 1 - first < block_rows ? nx1 + 1 - first : block_rows;
#pragma omp parallel for schedule(static)
    for (int r = 0; r < count; r++) format_row(rows, f, first + r, r);
    for (int f = 0; f < nfiles; f++)
      for (int r = 0; r < count; r++) writer_put(w[f], rows.slot(f, r), rows.length[f][r]);
  }
  for (int f = 0; f < nfiles; f++) writer_close(w[f]);
  for (int f = 0; f < nfiles; f++) rename_file(temporary_name[f], final_name[f]);
}
