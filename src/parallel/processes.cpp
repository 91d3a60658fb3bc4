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

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <string>

#include "common/files.hpp"

int process_rank = 0, process_count = 1;
int slab_first = 0, slab_rows = 0, ky_first = 0, ky_rows = 0;
long transform_elements = 0;
bool spectrum_transposed = false;

static std::vector<int> slab_firsts, slab_counts;  // every process's slab, on every process
static int own_output = -1;                        // a copy of standard output for a stop's line
static bool mpi_started = false;                   // started by a launcher: MPI is running
static MPI_Comm node = MPI_COMM_NULL;              // the processes of this process's node

bool mpi_job() { return mpi_started; }

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
  if (finalized) return;
  if (node != MPI_COMM_NULL) MPI_Comm_free(&node);
  MPI_Finalize();
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
  MPI_Comm_split_type(MPI_COMM_WORLD, MPI_COMM_TYPE_SHARED, process_rank, MPI_INFO_NULL, &node);
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

// FFTW's default blocks: the first processes hold ceil(gridx / N) rows each.
int largest_slab(int gridx) { return (gridx + process_count - 1) / process_count; }

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

// The periodic images of the grid's rows in the halo rows of a field that holds the whole grid.
static void wrap_halos(array2d f) {
  const size_t bytes = sizeof(double) * static_cast<size_t>(ny);
  for (int r : {-2, -1, nx, nx + 1}) memcpy(f[r], f[((r % nx) + nx) % nx], bytes);
}

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


void writer_only(const char *what) {
  if (writing_process()) return;
  fatal("| %s runs only on the writing process (process 0), not on process %d", what, process_rank);
}

int processes_on_node() {
  int size = 1;
  if (node != MPI_COMM_NULL) MPI_Comm_size(node, &size);
  return size;
}

double sum_on_node(double value) {
  double sum = value;
  if (node != MPI_COMM_NULL) MPI_Allreduce(&value, &sum, 1, MPI_DOUBLE, MPI_SUM, node);
  return sum;
}

int row_owner(int x) {
  int owner = 0;
  for (int r = 0; r < process_count; r++)
    if (x >= slab_firsts[r] && x < slab_firsts[r] + slab_counts[r]) owner = r;
  return owner;
}

void all_processes_ready() {
  if (process_count > 1) MPI_Barrier(MPI_COMM_WORLD);
}

int largest_of_all(int value) {
  if (process_count == 1) return value;
  int largest = value;
  MPI_Allreduce(&value, &largest, 1, MPI_INT, MPI_MAX, MPI_COMM_WORLD);
  return largest;
}

void largest_of_all(double *values, int count) {
  if (process_count > 1) MPI_Allreduce(MPI_IN_PLACE, values, count, MPI_DOUBLE, MPI_MAX, MPI_COMM_WORLD);
}

double largest_of_all(double value) {
  largest_of_all(&value, 1);
  return value;
}

void sum_over_processes(double *values, int count) {
  if (process_count == 1 || count <= 0) return;
  // Every process's values to every process, then added in the order of the processes: an
  // all-reduce may add them in an order that depends on the process (and so differ in the last bit).
  std::vector<double> all(static_cast<size_t>(count) * process_count);
  MPI_Allgather(values, count, MPI_DOUBLE, all.data(), count, MPI_DOUBLE, MPI_COMM_WORLD);
  for (int k = 0; k < count; k++) {
    double sum = 0.0;
    for (int r = 0; r < process_count; r++) sum += all[static_cast<size_t>(r) * count + k];
    values[k] = sum;
  }
}

void broadcast_from_row(int x, double *values, long count) {
  if (process_count > 1) MPI_Bcast(values, static_cast<int>(count), MPI_DOUBLE, row_owner(x), MPI_COMM_WORLD);
}

void share_rows(double *values, int per_row) {
  if (process_count == 1) return;
  std::vector<int> counts(process_count), displacements(process_count);
  for (int r = 0; r < process_count; r++) {
    counts[r] = slab_counts[r] * per_row;
    displacements[r] = slab_firsts[r] * per_row;
  }
  MPI_Allgatherv(MPI_IN_PLACE, 0, MPI_DATATYPE_NULL, values, counts.data(), displacements.data(), MPI_DOUBLE,
                 MPI_COMM_WORLD);
}

void gather_traces(double *trace, long samples) {
  if (process_count == 1 || samples <= 0) return;
  // The probes of lattice row i lie on grid row ((2i+1) nx)/16; its process steps them.
  for (int i = 0; i < 8; i++) {
    const int owner = row_owner(((2 * i + 1) * nx) / 16);
    if (owner == 0) continue;
    double *block = trace + static_cast<size_t>(8 * i) * static_cast<size_t>(samples);
    const int count = static_cast<int>(8 * samples);
    if (process_rank == 0) MPI_Recv(block, count, MPI_DOUBLE, owner, i, MPI_COMM_WORLD, MPI_STATUS_IGNORE);
    else if (process_rank == owner) MPI_Send(block, count, MPI_DOUBLE, 0, i, MPI_COMM_WORLD);
  }
}

void column_blocks(array2d field, int block, const std::function<void(int, int, const double *)> &use) {
  if (process_count == 1) {
    std::vector<double> columns(static_cast<size_t>(block) * nx);
    for (int first = 0; first < ny; first += block) {
      const int count = std::min(block, ny - first);
      for (int x = 0; x < nx; x++)
        for (int c = 0; c < count; c++) columns[static_cast<size_t>(c) * nx + x] = field[x][first + c];
      use(first, count, columns.data());
    }
    return;
  }
  const ptrdiff_t n[2] = {nx, ny};
  ptrdiff_t rows = 0, first_row = 0, columns = 0, first_column = 0;
  const ptrdiff_t size = fftw_mpi_local_size_many_transposed(2, n, 1, FFTW_MPI_DEFAULT_BLOCK, FFTW_MPI_DEFAULT_BLOCK,
                                                             MPI_COMM_WORLD, &rows, &first_row, &columns, &first_column);
  if (rows != slab_rows || first_row != slab_first)
    fatal("| FFTW's transpose lays out rows %td .. %td on process %d, its slab is %d .. %d", first_row,
          first_row + rows - 1, process_rank, slab_first, slab_first + slab_rows - 1);
  double *in = reserved(fftw_alloc_real(static_cast<size_t>(size)), 8.0 * size, "the transpose of a field");
  double *out = reserved(fftw_alloc_real(static_cast<size_t>(size)), 8.0 * size, "the transpose of a field");
  for (int x = slab_first; x < slab_first + slab_rows; x++)
    memcpy(in + static_cast<size_t>(x - slab_first) * ny, field[x], sizeof(double) * ny);
  fftw_plan plan = fftw_mpi_plan_many_transpose(nx, ny, 1, FFTW_MPI_DEFAULT_BLOCK, FFTW_MPI_DEFAULT_BLOCK, in, out,
                                                MPI_COMM_WORLD, FFTW_ESTIMATE);
  if (!plan) fatal("| FFTW cannot plan the transpose of a %d x %d field", nx, ny);
  fftw_execute(plan);
  fftw_destroy_plan(plan);
  for (ptrdiff_t c = 0; c < columns; c += block)
    use(static_cast<int>(first_column + c), static_cast<int>(std::min<ptrdiff_t>(block, columns - c)),
        out + static_cast<size_t>(c) * nx);
  fftw_free(in);
  fftw_free(out);
}

// The messages of a block of text: its lengths (one per part), then its text, in messages of at
// most 1 GiB (an MPI count is an int).
enum { tag_lengths = 1000, tag_text };
constexpr size_t text_piece = size_t(1) << 30;

static void send_text(const char *text, size_t bytes, std::vector<MPI_Request> &requests) {
  for (size_t at = 0; at < bytes; at += text_piece) {
    requests.emplace_back();
    MPI_Isend(text + at, static_cast<int>(std::min(text_piece, bytes - at)), MPI_CHAR, 0, tag_text, MPI_COMM_WORLD,
              &requests.back());
  }
}

static void receive_text(char *text, size_t bytes, int from) {
  for (size_t at = 0; at < bytes; at += text_piece)
    MPI_Recv(text + at, static_cast<int>(std::min(text_piece, bytes - at)), MPI_CHAR, from, tag_text, MPI_COMM_WORLD,
             MPI_STATUS_IGNORE);
}


void stream_rows_to_writer(int block_rows, const std::function<void(int, int, text_block &)> &format,
                           const std::function<void(const text_block &)> &write) {
  const int end = slab_first + slab_rows;
  text_block block;
  if (writing_process()) {
    for (int first = slab_first; first < end; first += block_rows) {
      format(first, std::min(block_rows, end - first), block);
      write(block);
    }
    // The blocks of the other processes, in the order of the rows: the room and the lengths, then
    // the text.
    std::vector<unsigned long> header;
    for (int r = 1; r < process_count; r++)
      for (int first = slab_firsts[r]; first < slab_firsts[r] + slab_counts[r]; first += block_rows) {
        MPI_Status status;
        MPI_Probe(r, tag_lengths, MPI_COMM_WORLD, &status);
        int count = 0;
        MPI_Get_count(&status, MPI_UNSIGNED_LONG, &count);
        header.resize(size_t(count));
        MPI_Recv(header.data(), count, MPI_UNSIGNED_LONG, r, tag_lengths, MPI_COMM_WORLD, MPI_STATUS_IGNORE);
        block.room = header[0];
        block.length.assign(header.begin() + 1, header.end());
        block.text.resize(block.room * block.length.size());
        receive_text(block.text.data(), block.text.size(), r);
        write(block);
      }
    return;
  }
  // The blocks of this process travel while it formats the next ones: up to 64 MB of text (and at
  // least two blocks) wait for the writer, each in its own buffer, the oldest first.
  struct travelling {
    text_block block;
    std::vector<unsigned long> header;
    std::vector<MPI_Request> requests;
  };
  std::deque<travelling> in_flight;
  std::vector<text_block> spare;
  size_t bytes_in_flight = 0;
  for (int first = slab_first; first < end; first += block_rows) {
    in_flight.emplace_back();
    travelling &t = in_flight.back();
    if (!spare.empty()) t.block = std::move(spare.back()), spare.pop_back();
    format(first, std::min(block_rows, end - first), t.block);
    const size_t bytes = t.block.room * t.block.length.size();
    t.header.assign(1, t.block.room);
    t.header.insert(t.header.end(), t.block.length.begin(), t.block.length.end());
    t.requests.assign(1, MPI_REQUEST_NULL);
    MPI_Isend(t.header.data(), static_cast<int>(t.header.size()), MPI_UNSIGNED_LONG, 0, tag_lengths, MPI_COMM_WORLD,
              &t.requests[0]);
    send_text(t.block.text.data(), bytes, t.requests);
    bytes_in_flight += bytes;
    while (in_flight.size() >= 2 && bytes_in_flight > (size_t(64) << 20)) {
      travelling &oldest = in_flight.front();
      MPI_Waitall(static_cast<int>(oldest.requests.size()), oldest.requests.data(), MPI_STATUSES_IGNORE);
      bytes_in_flight -= oldest.block.room * oldest.block.length.size();
      spare.push_back(std::move(oldest.block));
      in_flight.pop_front();
    }
  }
  for (travelling &t : in_flight)
    MPI_Waitall(static_cast<int>(t.requests.size()), t.requests.data(), MPI_STATUSES_IGNORE);
}
