// The test program's main: the tests run as a job of one process, as the program started alone.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "parallel/processes.hpp"

extern char **environ;

int main(int argc, char **argv) {
  testing::InitGoogleTest(&argc, argv);
  start_processes(argc, argv);
  // OpenMPI's start put its settings of this job into the environment; the programs the tests
  // start (build/tavo alone, or under mpirun) start jobs of their own, so they do not inherit them.
  std::vector<std::string> names;
  for (char **entry = environ; *entry; entry++) {
    const std::string e = *entry;
    if (e.rfind("OMPI_", 0) == 0 || e.rfind("PMIX_", 0) == 0 || e.rfind("ORTE_", 0) == 0)
      names.push_back(e.substr(0, e.find('=')));
  }
  for (const std::string &name : names) unsetenv(name.c_str());
  return RUN_ALL_TESTS();
}
