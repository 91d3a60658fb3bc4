// The test program's main: started alone it is the job of one process, as the program started
// alone; under mpirun (the slab tests) a job of several.
#include <gtest/gtest.h>

#include "parallel/processes.hpp"

int main(int argc, char **argv) {
  testing::InitGoogleTest(&argc, argv);
  start_processes(argc, argv);
  return RUN_ALL_TESTS();
}
