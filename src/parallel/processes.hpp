// One run across processes: the slabs of rows each process steps, and what they exchange.
//
// The program always runs as an MPI job; started alone it is a job of one process. The grid's
// rows (x) are split into slabs as FFTW's MPI transforms lay them out, and every process steps its
// own slab with npar threads. With several processes the half spectrum of the step's transforms is
// held transposed: each process holds a block of ky rows with all nx kx values, so that the
// products of the field solves need no communication (see scheme/transforms.cpp).
//
// Process 0 holds every field for the whole grid; the other processes hold their slab. Process 0
// alone touches files: it reads the start state or the restart file, writes every output and
// checkpoint, and its fields are brought up to date (gather_state) before each of them; the
// others take their rows of the start state from it (scatter_state). With one process the slab is
// the whole grid and gathering and scattering do nothing.
//
// Every field has two halo rows on each side of the rows it holds (allocate_fields.cpp): rows
// first-2, first-1 and end, end+1 of the slab [first, end), filled by exchange_halos with the
// neighbouring processes' rows (with one process: the periodic images of the grid's own rows).
#pragma once

#include <vector>

#include "common/state.hpp"

// This process's number (0 .. process_count-1) and the number of processes of the run.
extern int process_rank, process_count;

// The rows [slab_first, slab_first + slab_rows) this process steps, the ky values
// [ky_first, ky_first + ky_rows) of the half spectrum it holds, and the complex elements FFTW asks
// for one transform's data here (at least slab_rows (ny/2+1) and ky_rows nx).
extern int slab_first, slab_rows, ky_first, ky_rows;
extern long transform_elements;

// The layout of the half spectrum this process holds: spectrum_rows() rows of spectrum_columns()
// elements. Transposed (several processes): row j holds ky = ky_first + j, column kx. Alone: row
// kx, column ky, as FFTW's serial transforms lay it out; FFTW's transposition of a whole spectrum
// within one process runs its threads badly (a 512 x 512 transform with two threads took 2.9 ms
// transposed against 0.33 ms not, bench/README.md).
extern bool spectrum_transposed;
inline int spectrum_rows() { return spectrum_transposed ? ky_rows : nx; }
inline int spectrum_columns() { return spectrum_transposed ? nx : ny / 2 + 1; }

// The rows whose storage this process holds: the whole grid on process 0, the slab elsewhere.
int held_first();
int held_rows();

// Start FFTW's threads and, for a program started by mpirun or srun (a launcher's environment),
// MPI and FFTW's MPI interface (one thread of each process calls MPI). A program started alone is
// the job of one process: it needs nothing of MPI and does not start it. Processes other than 0
// write nothing on their standard output and error, except their own stop's line. Installs the
// stop hook through which a fatal stop (common/files.hpp) ends the job.
void start_processes(int &argc, char **&argv);

// Whether MPI runs (the program was started by mpirun or srun, for any number of processes).
bool mpi_job();

// The slabs of an nx by ny grid for this job (FFTW's layout): sets the variables above. Returns the
// "|" line (without line end) refusing the layout: a process with fewer than two rows (the halos
// reach two rows) or no ky row to hold; nullptr when it is sound. Every process gets the same answer.
const char *plan_slabs();

// A run of several processes names them and their slabs on standard error (process 0):
// "| 3 processes of 2 threads, slabs of 17, 17, 16 rows". Nothing for one process.
void report_slabs();

// End the job with `status`: a clean end of every process (all call it) finishes MPI; a stop of
// one process (a failure, a refusal) ends every process of the job.
[[noreturn]] void end_processes(int status);
[[noreturn]] void stop_all_processes(int status);

// Write a stop's "|" line: process 0 writes it at once; another process waits a little first, so
// that a stop that every process meets is reported once (process 0's ends the job before).
void report_stop(const char *line);

// Wait until every process has come here.
void all_processes_ready();

// Fill the two halo rows on each side of every field of the list from the neighbouring slabs.
void exchange_halos(std::initializer_list<array2d> fields);

// The periodic images of a whole-grid field's rows into its halo rows (process 0's full fields).
void wrap_halos(array2d field);

// Bring process 0's fields of the checkpoint (every field the next step reads) up to date from the
// other slabs; hand every process its rows of them from process 0.
void gather_state();
void scatter_state();

// The largest of every process's `value` (a stop signal, a flag), the same on every process.
int largest_of_all(int value);

// Whether this process steps row x (with one process: every row).
inline bool steps_row(int x) { return x >= slab_first && x < slab_first + slab_rows; }

// Process 0's values to every process.
void broadcast(double *values, long count);
void broadcast(long *values, long count);

// The probe traces of the rows other processes step, into process 0's stores (`samples` doubles
// per probe, probes on 8 rows of 8 as record_probes stores them).
void gather_traces(double *trace, long samples);
