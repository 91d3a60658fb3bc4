// The sanitizer build's settings for OpenMPI (compiled only with TAVO_SANITIZE).
//
// MPI_Finalize leaves some of OpenMPI's allocations unreferenced, in components (shared objects) that
// it unloads, so that LeakSanitizer reports them at the exit of every job that mpirun started, some
// with nameless stack frames. The suppressions name OpenMPI's libraries for what they can; the
// tests run their mpirun jobs without the leak report (ASAN_OPTIONS=detect_leaks=0). A program
// started alone does not start MPI, and its leaks are reported in full.
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
#endif
