// FFTW wisdom kept between runs, so that a run of a grid measured before plans in a moment.
//
// Measured plans (b_plan) cost the planner's trials at every start: seconds on large grids, most of
// a short run. The wisdom FFTW gathers while planning is stored per machine in the user's cache
// directory ($XDG_CACHE_HOME/tavo, else ~/.cache/tavo), one file per grid and thread count,
// imported before the step's plans are made and stored again after them. The file's first line is
// its key: "tavo wisdom", FFTW's version, nx, ny, the thread count and the planner flags. A file
// whose key is not this run's (another FFTW version, or a file of another kind) and a file FFTW
// cannot import are passed over with a "|" note on standard error; the run then plans from
// nothing and stores fresh wisdom. The file is written under a temporary name of this process and
// renamed onto its name once complete, so concurrent runs (a scan) never read half a file. A cache
// that cannot be written costs only the note. TAVO_WISDOM=0 in the environment turns it all off.
// Estimated plans (b_plan not 1) neither read nor store wisdom: their choice stays the same in
// every run. A run started by mpirun or srun keeps its own file ("-<N>p" at the end of the name, the
// N processes in the key; FFTW cannot read wisdom that names its MPI planners in a process without
// them): process 0 reads it and hands the wisdom to the others before the plans are made (they must
// plan alike), and gathers theirs before it stores it.
#include <fftw3-mpi.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "common/files.hpp"
#include "parallel/processes.hpp"
#include "scheme/scheme.hpp"

constexpr size_t wisdom_limit = size_t(16) << 20;  // bytes a wisdom file may hold

std::string wisdom_path() {
  const std::string dir = cache_dir();
  if (dir.empty()) return "";
  const std::string processes = mpi_job() ? "-" + std::to_string(process_count) + "p" : "";
  return dir + "/wisdom-" + std::to_string(nx) + "x" + std::to_string(ny) + "-" + std::to_string(npar) + "t" + processes;
}

// The key line of this run's wisdom (with its line end).
static std::string wisdom_key() {
  return std::string("tavo wisdom ") + fftw_version + " " + std::to_string(nx) + " " + std::to_string(ny) + " " +
         std::to_string(npar) + (mpi_job() ? " " + std::to_string(process_count) + "p" : "") + " measure\n";
}

// The wisdom text of the file at path (after its key line), or "" with a note when it cannot serve.
static std::string stored_wisdom(const std::string &path) {
  if (access(path.c_str(), F_OK) != 0) return "";
  std::string text;
  if (const char *problem = read_small_file(path.c_str(), "the FFTW wisdom", wisdom_limit, text)) {
    fprintf(stderr, "%s: planning without it\n", problem);
    return "";
  }
  const std::string key = wisdom_key();
  if (text.compare(0, key.size(), key) != 0) {
    fprintf(stderr, "| FFTW wisdom \"%s\" was not stored for this FFTW version, grid and thread count: planning "
            "without it\n", path.c_str());
    return "";
  }
  return text.substr(key.size());
}

// Process 0's part of load_wisdom: the import of the stored file.
static void import_wisdom() {
  const std::string path = wisdom_path();
  if (path.empty() || process_rank != 0) return;
  const std::string wisdom = stored_wisdom(path);
  if (wisdom.empty()) return;
  if (!fftw_import_wisdom_from_string(wisdom.c_str())) {
    fftw_forget_wisdom();  // nothing of a damaged file stays
    fprintf(stderr, "| FFTW wisdom \"%s\" is damaged: planning without it\n", path.c_str());
  }
}

void load_wisdom() {
  import_wisdom();
  if (process_count > 1) fftw_mpi_broadcast_wisdom(MPI_COMM_WORLD);
}

// The lines of text in sorted order: FFTW exports the same wisdom in an order of its own.
static std::vector<std::string> sorted_lines(const std::string &text) {
  std::vector<std::string> lines;
  for (size_t at = 0; at < text.size();) {
    const size_t end = std::min(text.find('\n', at), text.size());
    lines.push_back(text.substr(at, end - at));
    at = end + 1;
  }
  std::sort(lines.begin(), lines.end());
  return lines;
}

void store_wisdom() {
  if (process_count > 1) fftw_mpi_gather_wisdom(MPI_COMM_WORLD);
  const std::string path = wisdom_path();
  if (path.empty() || process_rank != 0) return;
  char *exported = fftw_export_wisdom_to_string();
  if (!exported) return;
  const std::string text = wisdom_key() + exported;
  free(exported);
  std::string old;
  if (access(path.c_str(), F_OK) == 0 && !read_small_file(path.c_str(), "the FFTW wisdom", wisdom_limit, old) &&
      sorted_lines(old) == sorted_lines(text))
    return;  // already stored
  if (!store_cache_file(path, text))
    fprintf(stderr, "| cannot store the FFTW wisdom in \"%s\": %s; the next run plans from nothing\n", path.c_str(),
            strerror(errno));
}
