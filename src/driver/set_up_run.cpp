// The start of a run before its first file: the parameters and run constants (initpar, which
// refuses the values and, among them, a grid the memory cannot hold), the slabs and fields of the
// grid, the threads and the coefficient tables. Every refusal here comes before the run touches
// any file; the driver empties or trims the time series once the rest of the start-up has passed
// its checks.
#include <omp.h>

#include <cstdio>

#include "common/files.hpp"
#include "common/state.hpp"
#include "driver/driver.hpp"
#include "setup/setup.hpp"

void set_up_run() {
  // Steps 1-5: banner, the values of the parameter file and the run constants.
  initpar(grid_problem);

  // Steps 6-7: threads of the shared-memory runtime (FFTW's started with the processes).
  int maxthreads = omp_get_max_threads();
  if (npar > maxthreads) fatal("| npar = %d > %d max. available threads ... exiting", npar, maxthreads);
  omp_set_num_threads(npar);
  if (const char *problem = threads_problem(npar)) fatal("%s", problem);

  // Step 7a: the slabs of the processes and the fields of this grid, first touched by the threads
  // that update them (a layout that cannot work and a grid the memory cannot hold stop here, before
  // any file is touched).
  allocate_grid();

  // Step 8: thread report.
  printf("| parallel threads ");
  int team = 0;
#pragma omp parallel
  {
#pragma omp single nowait
    team = omp_get_num_threads();
#pragma omp critical(thread_report)
    printf("%d/", omp_get_thread_num());
  }
  printf(" of %d active.\n", team);

  // Step 11: running spectrum means start from zero in every run.
  for (int k = 1; k <= nxh && nx > 1; k++) pkxavg[k] = 0;
  for (int k = 1; k <= nyh && ny > 1; k++) pkyavg[k] = pkyavgn[k] = pkyavgw[k] = pkyavge[k] = 0;

  // Step 12: coefficient tables.
  build_tables();
}
