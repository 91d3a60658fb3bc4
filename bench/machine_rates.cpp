// The rates of this machine that the communication model (comm_model.py) takes as inputs: the
// memory bandwidth of one process copying arrays far larger than its caches (every process copying
// at once), between two MPI processes the latency of a small message (half a ping-pong of 8 bytes)
// and the bandwidth of large ones (ping-pongs of 16 MB), and the rate at which one process writes a
// large file (256 MB in blocks of 1 MB, closed, in $TMPDIR or /tmp: the writing process's share of
// an output). Not part of the build:
//   mpicxx -O2 -std=c++17 -DOMPI_SKIP_MPICXX bench/machine_rates.cpp -o /tmp/machine_rates
//   mpirun -np 2 --bind-to none /tmp/machine_rates          (as root: OMPI_ALLOW_RUN_AS_ROOT=1 ...)
// Every rate is the median of 9 repetitions (the file: 3); process 0 prints them.
#include <mpi.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

// The median of the values.
static double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

int main(int argc, char **argv) {
  MPI_Init(&argc, &argv);
  int rank = 0, size = 1;
  MPI_Comm_rank(MPI_COMM_WORLD, &rank);
  MPI_Comm_size(MPI_COMM_WORLD, &size);
  const int repeats = 9;

  // Copy bandwidth: read 256 MB and write 256 MB, counted as 512 MB moved (both processes at once).
  const size_t count = size_t(32) << 20;
  std::vector<double> from(count, 1.0), to(count, 0.0), copy_rates;
  for (int r = 0; r < repeats; r++) {
    MPI_Barrier(MPI_COMM_WORLD);
    const double start = MPI_Wtime();
    memcpy(to.data(), from.data(), count * sizeof(double));
    copy_rates.push_back(2.0 * count * sizeof(double) / (MPI_Wtime() - start));
    from[r] = to[count - 1 - r];  // keep the copies
  }

  // Ping-pong between processes 0 and 1.
  std::vector<double> latencies, bandwidths;
  std::vector<char> message(size_t(16) << 20);
  for (int r = 0; r < repeats && size >= 2; r++)
    for (const size_t bytes : {size_t(8), message.size()}) {
      const int rounds = bytes == 8 ? 1000 : 10;
      MPI_Barrier(MPI_COMM_WORLD);
      const double start = MPI_Wtime();
      for (int k = 0; k < rounds; k++) {
        if (rank == 0) {
          MPI_Send(message.data(), int(bytes), MPI_CHAR, 1, 0, MPI_COMM_WORLD);
          MPI_Recv(message.data(), int(bytes), MPI_CHAR, 1, 0, MPI_COMM_WORLD, MPI_STATUS_IGNORE);
        } else if (rank == 1) {
          MPI_Recv(message.data(), int(bytes), MPI_CHAR, 0, 0, MPI_COMM_WORLD, MPI_STATUS_IGNORE);
          MPI_Send(message.data(), int(bytes), MPI_CHAR, 0, 0, MPI_COMM_WORLD);
        }
      }
      const double one_way = (MPI_Wtime() - start) / (2.0 * rounds);
      if (bytes == 8) latencies.push_back(one_way);
      else bandwidths.push_back(double(bytes) / one_way);
    }

  // Writing a file: 256 MB of text-like bytes in blocks of 1 MB, the time to its close.
  std::vector<double> write_rates;
  const char *tmp = getenv("TMPDIR");
  const std::string path = std::string(tmp && tmp[0] ? tmp : "/tmp") + "/machine_rates." + std::to_string(rank);
  std::vector<char> block(size_t(1) << 20, '7');
  for (int r = 0; r < 3 && rank == 0; r++) {
    const double start = MPI_Wtime();
    FILE *file = fopen(path.c_str(), "w");
    if (!file) break;
    for (int b = 0; b < 256; b++) fwrite(block.data(), 1, block.size(), file);
    fclose(file);
    write_rates.push_back(256.0 * block.size() / (MPI_Wtime() - start));
    remove(path.c_str());
  }

  if (rank == 0) {
    if (!write_rates.empty()) printf("| file write: %.2f GB/s (256 MB, one process)\n", median(write_rates) / 1e9);
    printf("| memory copy: %.2f GB/s per process (%d processes copying at once)\n", median(copy_rates) / 1e9, size);
    if (size >= 2) {
      printf("| MPI latency: %.2f us (8 bytes, one way)\n", median(latencies) * 1e6);
      printf("| MPI bandwidth: %.2f GB/s (16 MB messages, one way)\n", median(bandwidths) / 1e9);
    }
  }
  MPI_Finalize();
  return 0;
}
