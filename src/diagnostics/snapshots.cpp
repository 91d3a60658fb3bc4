// Two-dimensional snapshots: ne ("n2d.dat"), the vorticity lap_pe ("w2d.dat"), pe ("p2d.dat")
// and pe - ne ("i2d.dat"), one line "%d  %d  %.6e\n" (x, y, value) per grid point, a block of
// ny lines per row x followed by an empty line. Each file is written under a temporary name and
// moved onto its final name only after all four are complete, so the final names always hold a
// whole snapshot. The text is byte for byte what printf gives; to keep a 1024 by 1024 snapshot
// cheap the rows of a block are formatted in parallel into fixed slots and then written in order.
// Every process formats the blocks of its own rows and hands them to the writing process, which
// writes them in the order of the rows (stream_rows_to_writer): no process holds more than about
// 64 MB of the text.
#include <algorithm>
#include <cstring>

#include "common/files.hpp"
#include "common/numfmt.hpp"
#include "common/writer.hpp"
#include "diagnostics/writers.hpp"
#include "parallel/processes.hpp"

constexpr int nfiles = 4;
// Longest line: two indices of up to ten digits, "-1.234567e+300", two separators and the line end.
constexpr int line_room = 10 + 2 + 10 + 2 + 14 + 1;

static const char *const temporary_name[nfiles] = {"n2d0.dat", "w2d0.dat", "p2d0.dat", "i2d0.dat"};
static const char *const final_name[nfiles] = {"n2d.dat", "w2d.dat", "p2d.dat", "i2d.dat"};

// Format row x of the four fields into part f count + r of the block (file f, row r of count).
static void format_row(text_block &rows, const output_fields &f, int x, int r, int count) {
  const array2d ne = f.ne, pe = f.pe, lap_pe = f.lap_pe;
  char prefix[16];
  char *prefix_end = put_d(prefix, x);
  prefix_end = put_s(prefix_end, "  ");
  const size_t prefix_length = size_t(prefix_end - prefix);
  char *p[nfiles];
  for (int f = 0; f < nfiles; f++) p[f] = rows.part(size_t(f * count + r));
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
    rows.length[size_t(f * count + r)] = size_t(p[f] - rows.part(size_t(f * count + r)));
  }
}

// f: the fields of the diagnostics call, lap_pe made by the same call.
void write_snapshots(const output_fields &f) {
  writer w[nfiles];
  if (writing_process())
    for (int file = 0; file < nfiles; file++) writer_temporary(w[file], temporary_name[file]);
  // A block of rows, formatted in parallel into the parts of the block: file by file, row by row.
  auto format = [&](int first, int count, text_block &block) {
    block.room = size_t(line_room) * size_t(ny) + 1;
    block.length.assign(size_t(nfiles) * count, 0);
    block.text.resize(block.room * block.length.size());
#pragma omp parallel for schedule(static)
    for (int r = 0; r < count; r++) format_row(block, f, first + r, r, count);
  };
  auto write = [&](const text_block &block) {
    const size_t count = block.length.size() / nfiles;
    for (int file = 0; file < nfiles; file++)
      for (size_t r = 0; r < count; r++) writer_put(w[file], block.part(file * count + r), block.length[file * count + r]);
  };
  // Blocks of up to 32 rows, and of about 16 MB at most.
  const int block_rows = std::max(1, std::min(32, int((size_t(16) << 20) / (nfiles * size_t(line_room) * size_t(ny)))));
  stream_rows_to_writer(block_rows, format, write);
  if (!writing_process()) return;
  for (int file = 0; file < nfiles; file++) writer_close(w[file]);
  for (int file = 0; file < nfiles; file++) rename_file(temporary_name[file], final_name[file]);
}
