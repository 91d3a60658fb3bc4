// The netCDF files of a job, "tavo.nc" and "restart.nc": every process writes and reads the rows of
// its own slab.
//
// With MPI (a job that mpirun or srun started) the files are created and opened by every process
// at once through netCDF's parallel interface, which Debian's netCDF builds on PnetCDF for the
// classic formats (64-bit offsets, and CDF-5 for variables beyond 4 GiB); a program started alone
// uses the same library's serial interface and no MPI. The data are written in independent mode:
// each process writes its rows when it gets there, and the record count in the header is written
// only by nc_sync and nc_close. In collective mode PnetCDF writes the record count at the end of
// every write that adds a record, so a process killed between the variables of one frame would
// leave a header counting a frame half written (tried: the count included a frame whose second
// variable and time were zeros); in independent mode it counted only the frames before the last
// sync, as the serial library does.
//
// A field's rows lie in memory with the padded row stride of the fields (common/state.hpp); they
// travel through a buffer of whole rows of at most a mebibyte (one row when a row is longer), so
// that the library sees contiguous rows and no copy of the slab is made.
#include <netcdf.h>
#include <netcdf_par.h>

#include <algorithm>
#include <vector>

#include "io/io.hpp"
#include "parallel/processes.hpp"

int nc_create_job(const char *name, int format, int *file) {
  if (!mpi_job()) return nc_create(name, NC_CLOBBER | format, file);
  return nc_create_par(name, NC_CLOBBER | format, MPI_COMM_WORLD, MPI_INFO_NULL, file);
}

int nc_open_job(const char *name, int mode, int *file) {
  if (!mpi_job()) return nc_open(name, mode, file);
  return nc_open_par(name, mode, MPI_COMM_WORLD, MPI_INFO_NULL, file);
}

int nc_no_fill(int file) {
  // PnetCDF never pre-fills, and refuses to be told so in data mode.
  if (mpi_job()) return NC_NOERR;
  int old_mode = 0;
  return nc_set_fill(file, NC_NOFILL, &old_mode);
}

int nc_independent(int file) {
  if (!mpi_job()) return NC_NOERR;
  return nc_var_par_access(file, NC_GLOBAL, NC_INDEPENDENT);
}

// Rows of a chunk: whole rows of at most a mebibyte of values (at least one row).
static int chunk_rows() { return std::max(1, (1 << 20) / (8 * std::max(ny, 1))); }

// The start and count of rows [first, first + count) in record `record` (none when negative).
static void where(long record, int first, int count, size_t *start, size_t *counts) {
  int dims = 0;
  if (record >= 0) start[dims] = static_cast<size_t>(record), counts[dims++] = 1;
  start[dims] = static_cast<size_t>(first), counts[dims++] = static_cast<size_t>(count);
  start[dims] = 0, counts[dims] = static_cast<size_t>(ny);
}

// The rows of this process's slab in chunks of record `record`: `move` gets the first row, the row
// count, the buffer of the chunk (of type T) and the chunk's start and count in the variable, and
// returns the status of the library.
template <typename T, typename Move>
static int by_chunks(long record, Move move) {
  const int rows = chunk_rows(), end = slab_first + slab_rows;
  std::vector<T> buffer(static_cast<size_t>(std::min(rows, slab_rows)) * ny);
  for (int first = slab_first; first < end; first += rows) {
    const int count = std::min(rows, end - first);
    size_t start[3], counts[3];
    where(record, first, count, start, counts);
    if (const int status = move(first, count, buffer.data(), start, counts); status != NC_NOERR) return status;
  }
  return NC_NOERR;
}

int nc_put_slab(int file, int var, long record, array2d field) {
  return by_chunks<double>(record, [&](int first, int count, double *buffer, size_t *start, size_t *counts) {
    for (int r = 0; r < count; r++) std::copy(field[first + r], field[first + r] + ny, buffer + size_t(r) * ny);
    return nc_put_vara_double(file, var, start, counts, buffer);
  });
}

int nc_put_slab_float(int file, int var, long record, array2d field) {
  return by_chunks<float>(record, [&](int first, int count, float *buffer, size_t *start, size_t *counts) {
    for (int r = 0; r < count; r++) {
      const double *row = field[first + r];
      float *out = buffer + size_t(r) * ny;
      for (int y = 0; y < ny; y++) out[y] = static_cast<float>(row[y]);
    }
    return nc_put_vara_float(file, var, start, counts, buffer);
  });
}

int nc_get_slab(int file, int var, long record, array2d field) {
  return by_chunks<double>(record, [&](int first, int count, double *buffer, size_t *start, size_t *counts) {
    const int status = nc_get_vara_double(file, var, start, counts, buffer);
    if (status == NC_NOERR)
      for (int r = 0; r < count; r++) std::copy(buffer + size_t(r) * ny, buffer + size_t(r + 1) * ny, field[first + r]);
    return status;
  });
}

int nc_copy_slab_float(int from_file, int from_var, int to_file, int to_var, long record) {
  return by_chunks<float>(record, [&](int, int, float *buffer, size_t *start, size_t *counts) {
    const int status = nc_get_vara_float(from_file, from_var, start, counts, buffer);
    return status == NC_NOERR ? nc_put_vara_float(to_file, to_var, start, counts, buffer) : status;
  });
}
