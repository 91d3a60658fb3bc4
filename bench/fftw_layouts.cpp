// One r2c transform of an n x n grid through FFTW's interfaces: the MPI plan with the transposed
// and the plain output layout, and the serial plan; milliseconds per transform, the mean of 50
// (process 0 prints). Not part of the build:
//   mpicxx -O2 -fopenmp bench/fftw_layouts.cpp -o /tmp/fftw_layouts -lfftw3_mpi -lfftw3_omp -lfftw3
//   /tmp/fftw_layouts 512 2                                   one process, 2 threads
//   mpirun --oversubscribe --bind-to none -np 2 /tmp/fftw_layouts 1024 1
#include <fftw3-mpi.h>
#include <mpi.h>

#include <cstdio>
#include <cstdlib>

int main(int argc, char **argv) {
  int provided;
  MPI_Init_thread(&argc, &argv, MPI_THREAD_FUNNELED, &provided);
  fftw_init_threads();
  fftw_mpi_init();
  const int n = argc > 1 ? atoi(argv[1]) : 512, threads = argc > 2 ? atoi(argv[2]) : 1;
  int rank;
  MPI_Comm_rank(MPI_COMM_WORLD, &rank);
  fftw_plan_with_nthreads(threads);
  ptrdiff_t rows, first, kys, ky0;
  const ptrdiff_t local = fftw_mpi_local_size_2d_transposed(n, n / 2 + 1, MPI_COMM_WORLD, &rows, &first, &kys, &ky0);
  double *real = fftw_alloc_real(2 * local);
  fftw_complex *spectrum = fftw_alloc_complex(local);
  auto time = [&](fftw_plan plan, const char *name) {
    for (ptrdiff_t i = 0; i < 2 * local; i++) real[i] = (i % 7) * 0.1;
    fftw_execute(plan);
    const double start = MPI_Wtime();
    for (int k = 0; k < 50; k++) fftw_execute(plan);
    if (rank == 0) printf("%-26s %.3f ms\n", name, (MPI_Wtime() - start) / 50 * 1e3);
    fftw_destroy_plan(plan);
  };
  time(fftw_mpi_plan_dft_r2c_2d(n, n, real, spectrum, MPI_COMM_WORLD, FFTW_MEASURE | FFTW_MPI_TRANSPOSED_OUT),
       "MPI, transposed output");
  time(fftw_mpi_plan_dft_r2c_2d(n, n, real, spectrum, MPI_COMM_WORLD, FFTW_MEASURE), "MPI, plain output");
  int size;
  MPI_Comm_size(MPI_COMM_WORLD, &size);
  if (size == 1) time(fftw_plan_dft_r2c_2d(n, n, real, spectrum, FFTW_MEASURE), "serial");
  fftw_free(real);
  fftw_free(spectrum);
  fftw_mpi_cleanup();
  MPI_Finalize();
  return 0;
}
