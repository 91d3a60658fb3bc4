// Fatal stops and the temporary files they remove (stops.cpp), checked output files (files.cpp),
// small input files read whole (read_file.cpp), the run's directory lock (run_lock.cpp) and the
// cache directory that runs keep for later runs (cache.cpp).
//
// Every fatal condition prints one line beginning with "|" and ends the process with status 1.
// Output files are opened, written and closed through these helpers so that a failed open, a
// failed write (a full disk) or a failed close is never taken for success, and so that a stop
// leaves no temporary file behind.
#pragma once

#include <cstddef>
#include <cstdio>
#include <string>

// Format a message line (the format gives the leading "|"), remove the temporary files not yet
// renamed (open_temporary) and end the run with status 1 through the stop hook.
[[noreturn]] void fatal(const char *format, ...) __attribute__((format(printf, 1, 2)));

// How a fatal stop reports its line (without line end) and ends the run with status 1. The
// process layer installs its own at start-up (start_processes: the line once, every process of the
// job ended); until then, and should a hook return, the line goes to standard output with its line
// end and the process exits with status 1.
typedef void (*stop_hook)(const char *line);
void install_stop_hook(stop_hook hook);

// Stop with a "|" line: `bytes` bytes for `what` could not be reserved.
[[noreturn]] void out_of_memory(double bytes, const char *what);
// The storage an allocation returned, checked: stops with a "|" line when it is null.
template <typename T>
T *reserved(T *storage, double bytes, const char *what) {
  if (!storage) out_of_memory(bytes, what);
  return storage;
}
// Open a file; stop with a message naming it when that fails.
FILE *open_file(const char *name, const char *mode);

// Open a temporary file for writing (mode "w"), the new version of a file that rename_file moves
// onto its final name once it is complete. Until then a fatal stop removes it.
FILE *open_temporary(const char *name);

// List a temporary file that another library writes (the netCDF history), so that a fatal stop
// removes it until rename_file moves it onto its final name.
void list_temporary(const char *name);

// Remove the temporary files not yet renamed, with nothing but unlink: what a signal handler may
// do before it ends the process at once.
void remove_temporaries_at_once();

// Close a file written with open_file; stop with a message naming it when any write or the close failed.
void close_file(FILE *file, const char *name);

// Move a completed temporary file onto its final name; stop with a message when that fails.
void rename_file(const char *from, const char *to);

// Read the whole file name (what: how messages call it, e.g. "the parameter file") into text, in
// one pass, refusing more than limit bytes. Works the same on regular files, pipes (a FIFO without
// a writer reads as empty rather than waiting for one) and devices. Returns nullptr, or the "|"
// message line (without line end) of the failure; the text stays valid until the next call.
const char *read_small_file(const char *name, const char *what, size_t limit, std::string &text);

// Hold the lock of the working directory ("tavo.lock", created when missing) until the process
// ends: one run per directory. The kernel drops the lock when the process dies, however it dies,
// so no stale lock survives a killed run. Stops with a "|" line when another process holds it.
void hold_run_lock();

// The name of the lock file.
extern const char *const lock_name;

// The cache directory of tavo: $XDG_CACHE_HOME/tavo, else ~/.cache/tavo; "" when none can be named
// or the cache is off (TAVO_WISDOM=0 in the environment).
std::string cache_dir();

// Write text into the cache file path (its directories made as needed) through a temporary file of
// this process, renamed onto path when complete. false, with errno saying why, when that fails; a
// failure stops nothing.
bool store_cache_file(const std::string &path, const std::string &text);
