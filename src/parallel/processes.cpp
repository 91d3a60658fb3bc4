// The processes of a run: MPI's start and end, the slab layout and the exchanges of rows.
//
// Halo exchange: every process sends its first two rows to the process before it and its last two
// to the process after it (periodic in x), all four messages of every field posted at once and
// waited for together. A slab has at least two rows, so the two halo rows on each side come from
// one neighbour. With one process the halos are the grid's own rows, copied.
#include "parallel/processes.hpp"

#include <fftw3-mpi.h>
#include <mpi.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "common/files.hpp"

int process_rank = 0, process_count = 1;
int slab_first = 0, slab_rows = 0, ky_first = 0, ky_rows = 0;
long transform_elements = 0;
bool spectrum_transposed = false;

static std::vector<int> slab_firsts, slab_counts;  // every process's slab, on every process
static int own_output = -1;                        // a copy of standard output for a stop's line
static bool mpi_started = false;                   // started by a launcher: MPI is running

bool mpi_job() { return mpi_started; }

int held_first() { return process_rank == 0 ? 0 : slab_first; }
int held_rows() { return process_rank == 0 ? nx : slab_rows; }

// Started by a launcher (OpenMPI's mpirun, a PMI or PMIx one such as srun) rather than alone.
static bool launched() {
  for (const char *name : {"OMPI_COMM_WORLD_SIZE", "PMI_SIZE", "PMIX_RANK"})
    if (getenv(name)) return true;
  return false;
}

static void finish_mpi() {
  if (!mpi_started) return;
  int finalized = 0;
  MPI_Finalized(&finalized);
  // (FFTW's own clean-up, fftw_cleanup_threads, came before the end; it leaves nothing for
  // fftw_mpi_cleanup.)
  if (!finalized) MPI_Finalize();
}

// The stop hook of a fatal stop (common/files.hpp): the line once, every process of the job ended.
static void stop_job(const char *line) {
  report_stop(line);
  stop_all_processes(1);
}

void start_processes(int &argc, char **&argv) {
  install_stop_hook(stop_job);
  if (const int ith = fftw_init_threads(); ith == 0) {
    char line[80];
    snprintf(line, sizeof line, "| ith=%d : thread init failed... exiting", ith);
    report_stop(line);
    stop_all_processes(1);
  }
  // Alone, the program is the job of one process without starting MPI: nothing is exchanged,
  // and OpenMPI's start (a few tenths of a second, seconds under the sanitizer) stays out of
  // every small run.
  if (!launched()) return;
  int provided = 0;
  // Only the thread that runs main calls MPI; the OpenMP threads never do.
  MPI_Init_thread(&argc, &argv, MPI_THREAD_FUNNELED, &provided);
  mpi_started = true;
  MPI_Comm_rank(MPI_COMM_WORLD, &process_rank);
  MPI_Comm_size(MPI_COMM_WORLD, &process_count);
  atexit(finish_mpi);
  fftw_mpi_init();
  if (process_rank != 0) {
    own_output = dup(STDOUT_FILENO);
    if (!freopen("/dev/null", "w", stdout) || !freopen("/dev/null", "w", stderr)) own_output = -1;
  }
}

// Whether FFTW's default blocks (ceil(n/N) each, the last ones what is left) give each of N
// processes at least `least` of n items.
static bool blocks_hold(int n, int processes, int least) {
  const int block = (n + processes - 1) / processes;
  return n - (processes - 1) * block >= least && block >= least;
}

const char *plan_slabs() {
  static char message[300];
  spectrum_transposed = process_count > 1;
  if (process_count == 1) {
    // What FFTW's layout gives one process: everything.
    slab_first = ky_first = 0;
    slab_rows = nx;
    ky_rows = ny / 2 + 1;
    transform_elements = static_cast<long>(nx) * (ny / 2 + 1);
    slab_firsts.assign(1, 0);
    slab_counts.assign(1, nx);
    return nullptr;
  }
  ptrdiff_t rows = 0, first = 0, kys = 0, ky0 = 0;
  transform_elements = fftw_mpi_local_size_2d_transposed(nx, ny / 2 + 1, MPI_COMM_WORLD, &rows, &first, &kys, &ky0);
  slab_first = static_cast<int>(first);
  slab_rows = static_cast<int>(rows);
  ky_first = static_cast<int>(ky0);
  ky_rows = static_cast<int>(kys);
  slab_firsts.assign(process_count, 0);
  slab_counts.assign(process_count, 0);
  MPI_Allgather(&slab_first, 1, MPI_INT, slab_firsts.data(), 1, MPI_INT, MPI_COMM_WORLD);
  MPI_Allgather(&slab_rows, 1, MPI_INT, slab_counts.data(), 1, MPI_INT, MPI_COMM_WORLD);
  int fewest_ky = ky_rows;
  MPI_Allreduce(&ky_rows, &fewest_ky, 1, MPI_INT, MPI_MIN, MPI_COMM_WORLD);
  int fewest = slab_rows;
  for (int r = 0; r < process_count; r++) fewest = slab_counts[r] < fewest ? slab_counts[r] : fewest;
  if (fewest >= 2 && fewest_ky >= 1) return nullptr;
  // The most processes this grid can have (one always can).
  int most = process_count - 1;
  while (most > 1 && !(blocks_hold(nx, most, 2) && blocks_hold(ny / 2 + 1, most, 1))) most--;
  if (fewest < 2)
    snprintf(message, sizeof message,
             "| nx = %d, ny = %d (values 10, 11) on %d processes: FFTW's slabs give a process %d rows, fewer than the "
             "two its neighbours' stencils reach; use at most %d processes for this grid", nx, ny, process_count, fewest,
             most);
  else
    snprintf(message, sizeof message,
             "| nx = %d, ny = %d (values 10, 11) on %d processes: FFTW's layout leaves a process none of the half "
             "spectrum's %d columns; use at most %d processes for this grid", nx, ny, process_count, ny / 2 + 1, most);
  return message;
}

void report_slabs() {
  if (process_count == 1 || process_rank != 0) return;
  std::string rows;
  for (int r = 0; r < process_count; r++) rows += (r ? ", " : "") + std::to_string(slab_counts[r]);
  fprintf(stderr, "| %d processes of %d threads, slabs of %s rows\n", process_count, npar, rows.c_str());
}

void end_processes(int status) {
  fflush(stdout);
  fflush(stderr);
  exit(status);  // finish_mpi runs at exit
}

void stop_all_processes(int status) {
  fflush(stdout);
  fflush(stderr);
  if (process_count > 1) MPI_Abort(MPI_COMM_WORLD, status);
  exit(status);
}

void report_stop(const char *line) {
  if (process_rank == 0) {
    fputs(line, stdout);
    fputc('\n', stdout);
    fflush(stdout);
    return;
  }
  sleep(3);  // a stop of every process is process 0's to report (it ends the job before this)
  if (own_output >= 0) dprintf(own_output, "%s\n", line);
}

// Rows a..a+count-1 of a field, as one message: from the first row's start to the last row's end.
static int row_span(array2d f, int count) { return static_cast<int>((count - 1) * f.stride + ny); }

void exchange_halos(std::initializer_list<array2d> fields) {
  const int end = slab_first + slab_rows;
  if (process_count == 1) {
    for (array2d f : fields) wrap_halos(f);
    return;
  }
  const int before = (process_rank + process_count - 1) % process_count;
  const int after = (process_rank + 1) % process_count;
  std::vector<MPI_Request> requests;
  requests.reserve(4 * fields.size());
  int tag = 0;
  for (array2d f : fields) {
    MPI_Request r[4];
    const int span = row_span(f, 2);
    // tag: the field and the direction, so that two neighbours that are one process match up
    MPI_Irecv(f[slab_first - 2], span, MPI_DOUBLE, before, tag + 1, MPI_COMM_WORLD, &r[0]);
    MPI_Irecv(f[end], span, MPI_DOUBLE, after, tag, MPI_COMM_WORLD, &r[1]);
    MPI_Isend(f[slab_first], span, MPI_DOUBLE, before, tag, MPI_COMM_WORLD, &r[2]);
    MPI_Isend(f[end - 2], span, MPI_DOUBLE, after, tag + 1, MPI_COMM_WORLD, &r[3]);
    requests.insert(requests.end(), r, r + 4);
    tag += 2;
  }
  MPI_Waitall(static_cast<int>(requests.size()), requests.data(), MPI_STATUSES_IGNORE);
}

void wrap_halos(array2d f) {
  const size_t bytes = sizeof(double) * static_cast<size_t>(ny);
  for (int r : {-2, -1, nx, nx + 1}) memcpy(f[r], f[((r % nx) + nx) % nx], bytes);
}

// Every checkpointed field: rows of the other slabs to process 0, or from it.
static void move_state(bool to_first) {
  if (process_count == 1) return;
  std::vector<MPI_Request> requests;
  for (int k = 0; k < nfield_records; k++) {
    if (!field_table[k].checkpointed) continue;
    const array2d f = *field_table[k].field;
    if (process_rank == 0) {
      for (int r = 1; r < process_count; r++) {
        requests.emplace_back();
        double *rows = f[slab_firsts[r]];
        const int span = row_span(f, slab_counts[r]);
        if (to_first) MPI_Irecv(rows, span, MPI_DOUBLE, r, k, MPI_COMM_WORLD, &requests.back());
        else MPI_Isend(rows, span, MPI_DOUBLE, r, k, MPI_COMM_WORLD, &requests.back());
      }
    } else {
      requests.emplace_back();
      double *rows = f[slab_first];
      const int span = row_span(f, slab_rows);
      if (to_first) MPI_Isend(rows, span, MPI_DOUBLE, 0, k, MPI_COMM_WORLD, &requests.back());
      else MPI_Irecv(rows, span, MPI_DOUBLE, 0, k, MPI_COMM_WORLD, &requests.back());
    }
  }
  MPI_Waitall(static_cast<int>(requests.size()), requests.data(), MPI_STATUSES_IGNORE);
}

void gather_state() { move_state(true); }
void scatter_state() { move_state(false); }

void all_processes_ready() {
  if (process_count > 1) MPI_Barrier(MPI_COMM_WORLD);
}

int largest_of_all(int value) {
  if (process_count == 1) return value;
  int largest = value;
  MPI_Allreduce(&value, &largest, 1, MPI_INT, MPI_MAX, MPI_COMM_WORLD);
  return largest;
}

void broadcast(double *values, long count) {
  if (process_count > 1) MPI_Bcast(values, static_cast<int>(count), MPI_DOUBLE, 0, MPI_COMM_WORLD);
}

void broadcast(long *values, long count) {
  if (process_count > 1) MPI_Bcast(values, static_cast<int>(count), MPI_LONG, 0, MPI_COMM_WORLD);
}

void gather_traces(double *trace, long samples) {
  if (process_count == 1 || samples <= 0) return;
  // The probes of lattice row i lie on grid row ((2i+1) nx)/16; its process steps them.
  for (int i = 0; i < 8; i++) {
    const int x = ((2 * i + 1) * nx) / 16;
    int owner = 0;
    for (int r = 0; r < process_count; r++)
      if (x >= slab_firsts[r] && x < slab_firsts[r] + slab_counts[r]) owner = r;
    if (owner == 0) continue;
    double *block = trace + static_cast<size_t>(8 * i) * static_cast<size_t>(samples);
    const int count = static_cast<int>(8 * samples);
    if (process_rank == 0) MPI_Recv(block, count, MPI_DOUBLE, owner, i, MPI_COMM_WORLD, MPI_STATUS_IGNORE);
    else if (process_rank == owner) MPI_Send(block, count, MPI_DOUBLE, 0, i, MPI_COMM_WORLD);
  }
}
