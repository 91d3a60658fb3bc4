// The restart file "restart.dat": the complete state of the third-order multistep scheme.
//
// A header line "%5e  \n" with the simulation time, then one line per grid point, x outer and y
// inner, "%d  %d" followed by twelve "%.6e" columns separated by two blanks: eno, pe, ne, ne1,
// ne2, ni, ni1, ni2, fne1, fne2, fni1, fni2. ne and ni are level 0 of the history, and the
// current tendencies are recomputed by the next step, so these columns are the whole state; the
// values keep seven significant digits. The text is byte for byte what printf makes of these
// formats. It is written under a temporary name and moved onto "restart.dat" only after every
// write and the close succeeded, so a failed write leaves the previous restart file intact. The
// rows are formatted in blocks, the rows of a block in parallel, each process its own, and written
// in order by the writing process.
//
// A checkpoint belongs to the series of the run that wrote it. A fresh run empties the series and
// starts a new one, so a checkpoint left by an earlier run would, if this run were killed before
// its own first checkpoint, let the next continuation start from the earlier run's state and
// append it to the new series. A fresh run therefore sets every checkpoint file it finds aside
// (set_aside_checkpoints, before it empties the series): "restart.dat" becomes "restart.dat.old",
// and so does "restart.nc", with a "|" line on standard error; a continuation of the fresh run
// finds either its own checkpoint or none (and then refuses to start). The last kept_checkpoints
// (3) runs' files are kept, by age: ".old" the oldest, ".old2", ".old3" the newest; when all
// three are taken, ".old" goes, the others move down one, and the new files become ".old3". The
// two files of a run take the same number (a slot is free when neither name has it).
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string>

#include "common/files.hpp"
#include "common/numfmt.hpp"
#include "common/state.hpp"
#include "common/writer.hpp"
#include "io/io.hpp"
#include "parallel/processes.hpp"

static const char *const restart_name = "restart.dat";
static const char *const restart_temp = "restart.dat.tmp";

// Every checkpoint file of a run: what a fresh run sets aside.
static const char *const checkpoint_files[] = {restart_name, checkpoint_name};
// The set-aside checkpoints of this many earlier runs are kept.
static const int kept_checkpoints = 3;

// The name of the k-th set-aside slot of name: name.old, name.old2, name.old3.
static std::string kept_name(const char *name, int k) {
  return std::string(name) + ".old" + (k > 1 ? std::to_string(k) : "");
}

static void move_file(const std::string &from, const std::string &to) {
  if (rename(from.c_str(), to.c_str()) != 0)
    fatal("| cannot set the earlier run's \"%s\" aside as \"%s\": %s", from.c_str(), to.c_str(), strerror(errno));
}

void set_aside_checkpoints() {
  writer_only("setting the checkpoints aside");
  bool found = false;
  for (const char *name : checkpoint_files) found = found || access(name, F_OK) == 0;
  if (!found) return;
  // The first slot that neither file takes, else the oldest slot given up and the others moved down.
  int slot = 1;
  auto taken = [](int k) {
    for (const char *name : checkpoint_files)
      if (access(kept_name(name, k).c_str(), F_OK) == 0) return true;
    return false;
  };
  while (slot <= kept_checkpoints && taken(slot)) slot++;
  std::string removed;
  if (slot > kept_checkpoints) {
    slot = kept_checkpoints;
    for (const char *name : checkpoint_files) {
      const std::string oldest = kept_name(name, 1);
      if (unlink(oldest.c_str()) == 0) removed += (removed.empty() ? "\"" : ", \"") + oldest + "\"";
      for (int k = 2; k <= kept_checkpoints; k++)
        if (access(kept_name(name, k).c_str(), F_OK) == 0) move_file(kept_name(name, k), kept_name(name, k - 1));
    }
  }
  for (const char *name : checkpoint_files) {
    if (access(name, F_OK) != 0) continue;
    move_file(name, kept_name(name, slot));
    fprintf(stderr, "| a fresh run starts a new series: the earlier run's \"%s\" is kept as \"%s\"\n", name,
            kept_name(name, slot).c_str());
  }
  if (!removed.empty())
    fprintf(stderr, "| the checkpoints of the last %d runs are kept (.old the oldest, .old%d the newest): %s, the "
            "oldest, removed\n", kept_checkpoints, kept_checkpoints, removed.c_str());
}

// Longest point line: two indices of up to ten digits, twelve values of up to 14 characters, the
// separators and the line end.
constexpr size_t line_room = 10 + 2 + 10 + 12 * (2 + 14) + 1;

// Format row x of the state into part r of the block; eno_text is eno formatted once.
static void format_row(text_block &block, int x, int r, const char *eno_text, size_t eno_length) {
  char *const start = block.part(size_t(r));
  char *p = start;
  char prefix[16];
  char *prefix_end = put_d(prefix, x);
  prefix_end = put_s(prefix_end, "  ");
  const size_t prefix_length = size_t(prefix_end - prefix);
  for (int y = 0; y <= ny1; y++) {
    const double columns[11] = {pe[x][y],  ne[x][y],   ne1[x][y],  ne2[x][y],  ni[x][y], ni1[x][y],
                                ni2[x][y], fne1[x][y], fne2[x][y], fni1[x][y], fni2[x][y]};
    memcpy(p, prefix, prefix_length);
    p = put_d(p + prefix_length, y);
    *p++ = ' ';
    *p++ = ' ';
    memcpy(p, eno_text, eno_length);
    p += eno_length;
    for (double value : columns) {
      *p++ = ' ';
      *p++ = ' ';
      p = put_e6(p, value);
    }
    *p++ = '\n';
  }
  block.length[size_t(r)] = size_t(p - start);
}

// Write the state at simulation time `time` to "restart.dat": every process formats its rows, the
// writing process writes them in order.
void writerestart(double time) {
  writer out;
  if (writing_process()) {
    writer_temporary(out, restart_temp);
    char *p = writer_room(out);
    p = put_e6(p, time);  // "%5e": the width never pads a six-decimal exponent form
    p = put_s(p, "  \n");
    out.pos = p;
  }

  // eno is the same on every line: format it once.
  char eno_text[32];
  const size_t eno_length = size_t(put_e6(eno_text, eno) - eno_text);
  auto format = [&](int first, int count, text_block &block) {
    block.room = line_room * size_t(ny);
    block.length.assign(size_t(count), 0);
    block.text.resize(block.room * size_t(count));
#pragma omp parallel for schedule(static)
    for (int r = 0; r < count; r++) format_row(block, first + r, r, eno_text, eno_length);
  };
  auto write = [&](const text_block &block) {
    for (size_t r = 0; r < block.length.size(); r++) writer_put(out, block.part(r), block.length[r]);
  };
  // Blocks of up to 16 rows, and of about 16 MB at most.
  const int block_rows = std::max(1, std::min(16, int((size_t(16) << 20) / (line_room * size_t(ny)))));
  stream_rows_to_writer(block_rows, format, write);
  if (!writing_process()) return;
  writer_close(out);
  rename_file(restart_temp, restart_name);
}
