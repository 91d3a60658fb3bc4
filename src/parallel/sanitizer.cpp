// The sanitizer build's settings for OpenMPI (compiled only with TAVO_SANITIZE).
//
// MPI_Finalize leaves some of OpenMPI's allocations unreferenced, in components (shared objects) that
// it unloads, so that LeakSanitizer reports them at every exit with nameless stack frames. A job of
// one process under mpirun therefore ends without MPI_Finalize in this build (finishes_mpi); its
// MPI memory is then still referenced at exit, not a leak. The suppressions name OpenMPI's
// libraries for what remains. Leaks of the program's own code are still reported; jobs of several
// processes run their tests without the leak report (ASAN_OPTIONS=detect_leaks=0).
#ifdef TAVO_SANITIZE
// Without the summary of the suppressions used, which would follow every run's own lines.
extern "C" const char *__lsan_default_options() { return "print_suppressions=0"; }

extern "C" const char *__lsan_default_suppressions() {
  return "leak:libmpi.so\n"
         "leak:libopen-pal.so\n"
         "leak:libopen-rte.so\n"
         "leak:libpmix.so\n"
         "leak:libhwloc.so\n"
         "leak:libevent\n"
         "leak:mca_\n"
         "leak:__vasprintf_internal\n";
}

bool finishes_mpi(int processes) { return processes > 1; }
#else
bool finishes_mpi(int) { return true; }
#endif
