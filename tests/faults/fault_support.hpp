// Support of the fault tests: runs of the program as a child process that a test can kill or
// starve of file space, and checks that a result file is whole (complete lines in its layout).
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

#include "support/run_setup.hpp"

// A 64 x 64 blob breaking up into drift-wave turbulence: four intervals of five steps, probe
// samples every two steps, one thread. Its snapshots, profiles and restart file are larger than
// the smallest pipe buffer (4096 bytes), so a reader of a pipe can hold the program inside them.
values19 fault_values();

// Start build's tavo in dir (standard output into dir/stdout.txt, standard error into
// dir/stderr.txt, both names after the given prefix). A file_limit above 0 caps the size of every
// file the program writes (RLIMIT_FSIZE): a write beyond it writes what fits and then fails, as on
// a disk that fills up.
pid_t start_tavo(const std::string &dir, long file_limit = 0, const std::string &console_prefix = "");

// Wait for the child; its exit status, or -(signal number) when a signal ended it.
int finish_tavo(pid_t pid);

// Run tavo in dir on the parameters v to its end; exit status as finish_tavo, console into output.
int run_values(const std::string &dir, const values19 &v, std::string *output, long file_limit = 0);

// Every result file a run of the values v writes, by its final name.
std::vector<std::string> result_files(const values19 &v);

// "" when the file name in dir is whole for a run of the values v: it exists, ends with a line
// end, and every line has the fields of its layout (and, for the files rewritten at every call,
// the number of lines of the grid); else what is wrong.
std::string whole_file_fault(const std::string &dir, const std::string &name, const values19 &v);

// The faults of every result file of the run in dir (empty when all are whole).
std::vector<std::string> whole_files_faults(const std::string &dir, const values19 &v);

// The names in dir that end with the suffix.
std::vector<std::string> names_ending(const std::string &dir, const std::string &suffix);

// The number of progress lines ("|t=") in a console text.
int progress_lines(const std::string &console);

// Remove dir and everything in it.
void remove_dir(const std::string &dir);
