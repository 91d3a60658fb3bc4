// libFuzzer target: arbitrary bytes as the parameter file "tavo.inp", through the reader, the value
// checks, the run constants and the coefficient tables of the program (checks in fuzz_checks.hpp).
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "fuzz/fuzz_checks.hpp"

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  omp_set_num_threads(1);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  const std::string fault = fuzz_checks::check_parameters(data, size);
  if (!fault.empty()) {
    fprintf(stderr, "| parameter reader: %s\n", fault.c_str());
    abort();
  }
  return 0;
}
