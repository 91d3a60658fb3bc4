// The buffered file writer of the large text outputs.
//
// The writer collects a file's text in a 1 MiB memory buffer and hands it to the file in large
// blocks. Usage for one record (the put_* formatters are common/numfmt.hpp):
//     char *p = writer_room(w);   // at least writer_slack bytes free from here
//     p = put_e6(p, v); *p++ = '\n';
//     w.pos = p;
// Failed opens, writes and closes end the run with one "|" line naming the file (common/files).
// Files rewritten at every call go through writer_replace, so a run stopped in the middle of one
// (killed, disk full) leaves the previous complete file under the final name.
#pragma once

#include <cstddef>
#include <cstdio>

#include "common/numfmt.hpp"

constexpr size_t writer_size = size_t(1) << 20;  // bytes of one writer's buffer
constexpr size_t writer_slack = 8192;            // room guaranteed by writer_room for one record

// A file being written through a memory buffer.
struct writer {
  FILE *file;              // open file
  const char *name;        // its name, for error messages
  char *buffer;            // writer_size bytes
  char *pos;               // end of the text collected so far
  const char *final_name;  // name the complete file is moved onto; nullptr when written in place
  char temporary[64];      // final_name + ".tmp", the name written meanwhile
};

// Open name with mode (through open_file) and give w a fresh buffer.
void writer_open(writer &w, const char *name, const char *mode);

// Open name as a temporary file (open_temporary: a fatal stop removes it until it is renamed) and
// give w a fresh buffer.
void writer_temporary(writer &w, const char *name);

// Write a new version of name under the temporary name + ".tmp" (mode "w"); writer_close moves it
// onto name once it is complete, so name always holds a whole file, the old or the new one.
void writer_replace(writer &w, const char *name);

// Write the collected text to the file and empty the buffer; stops the run on a failed write.
void writer_flush(writer &w);

// Write n bytes from data (any size), after the collected text.
void writer_put(writer &w, const char *data, size_t n);

// Flush, release the buffer and close the file (through close_file, which checks the close); a
// file opened by writer_replace is then renamed onto its final name.
void writer_close(writer &w);

// Current end of the text, with at least writer_slack bytes of room behind it.
inline char *writer_room(writer &w) {
  if (size_t(w.pos - w.buffer) > writer_size - writer_slack) writer_flush(w);
  return w.pos;
}
