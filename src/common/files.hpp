// Fatal stops and checked output files.
//
// Every fatal condition prints one line beginning with "|" and ends the process with status 1.
// Output files are opened, written and closed through these helpers so that a failed open, a
// failed write (a full disk) or a failed close is never taken for success.
#pragma once

#include <cstdio>

// Print a message line (the format gives the leading "|", the helper adds the line end) and exit(1).
[[noreturn]] void fatal(const char *format, ...) __attribute__((format(printf, 1, 2)));

// Open a file; stop with a message naming it when that fails.
FILE *open_file(const char *name, const char *mode);

// Close a file written with open_file; stop with a message naming it when any write or the close failed.
void close_file(FILE *file, const char *name);

// Move a completed temporary file onto its final name; stop with a message when that fails.
void rename_file(const char *from, const char *to);
