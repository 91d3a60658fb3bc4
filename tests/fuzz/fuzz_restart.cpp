// libFuzzer target: arbitrary bytes as the restart file "restart.dat" of a 4 x 3 run, through the
// restart reader of the program and the field solve that follows it (checks in fuzz_checks.hpp).
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "fuzz/fuzz_checks.hpp"

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  omp_set_num_threads(1);
  fuzz_checks::use_restart_grid();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  const std::string fault = fuzz_checks::check_restart(data, size);
  if (!fault.empty()) {
    fprintf(stderr, "| restart reader: %s\n", fault.c_str());
    abort();
  }
  return 0;
}
