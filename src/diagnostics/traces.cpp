// Probe traces and their frequency spectra.
//
// 64 probes on an 8 by 8 lattice spread evenly over the grid, x = ((2i+1) nx)/16 and
// y = ((2j+1) ny)/16, probe p = 8i + j, sample ne and pe; sample t of probe p sits at
// p*maxtrace + t. At the end of a run every trace u_t, t = 0 .. N-1 (N = maxtrace), is tapered
// with the window w[t] = 1 - (exp(-((N-t)/s)^2) + exp(-(t/s)^2)), s = N/10, transformed with an
// unnormalised real-to-complex FFT, and |Re X_k| is summed over the 64 probes; "ptt_n.dat" and
// "ptt_p.dat" hold k 2 pi/(itmax dt) and the sum / (64 N) for k = 1 .. N/2 - 1, "traces.dat" the
// windowed trace of probe 1.
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "common/files.hpp"
#include "common/numfmt.hpp"
#include "common/writer.hpp"
#include "diagnostics/diagnostics.hpp"
#include "parallel/processes.hpp"

// trace_n, trace_p: the two stores; sample: 0 .. maxtrace-1 (others are ignored).
void record_probes(double *trace_n, double *trace_p, int sample) {
  if (sample < 0 || sample >= maxtrace) return;
  for (int i = 0; i < 8; i++) {
    const int x = ((2 * i + 1) * nx) / 16;
    if (!steps_row(x)) continue;  // another process's row: gather_traces brings its samples
    for (int j = 0; j < 8; j++) {
      const int y = ((2 * j + 1) * ny) / 16;
      const size_t at = size_t(8 * i + j) * size_t(maxtrace) + size_t(sample);
      trace_n[at] = ne[x][y];
      trace_p[at] = pe[x][y];
    }
  }
}

// Sum of |Re X_k| over the probes of one store into sum (k = 0 .. n/2) and its file: trace the
// store, window the taper, in/out/plan the transform of length n.
static void probe_spectrum(const char *name, const double *trace, const double *window, double *in, cplx *out,
                           fftw_plan plan, double *sum) {
  const int n = maxtrace;
  for (int k = 0; k <= n / 2; k++) sum[k] = 0.0;
  for (int p = 0; p < nprobes; p++) {
    const double *u = trace + size_t(p) * size_t(n);
    for (int t = 0; t < n; t++) in[t] = u[t] * window[t];
    fftw_execute(plan);
    for (int k = 0; k <= n / 2; k++) sum[k] += std::fabs(out[k][0]);
  }
  writer w;
  writer_replace(w, name);
  if (n > 3) {
    const double divisor = static_cast<double>(nprobes * n);
    const double period = static_cast<double>(itmax) * dt;
    for (int k = 1; k <= n / 2 - 1; k++) {
      char *p = writer_room(w);
      p = put_e6(p, static_cast<double>(k) * (2.0 * M_PI) / period);
      p = put_s(p, "  ");
      p = put_e6(p, sum[k] / divisor);
      *p++ = '\n';
      w.pos = p;
    }
  }
  writer_close(w);
}

// t0: start time of the run; trace_n, trace_p: the stores filled by record_probes.
void trace_analysis(double t0, const double *trace_n, const double *trace_p) {
  writer_only("the probe analysis");
  const int n = maxtrace;
  if (n <= 0) {
    printf("| no probe samples (ntrace > itmax): frequency spectra skipped\n");
    fflush(stdout);
    return;
  }
  printf("|\n| computing sum over %d frequency spectra ... \n", nprobes);
  fflush(stdout);

  double *window = static_cast<double *>(fftw_malloc(sizeof(double) * size_t(n)));
  double *sum = static_cast<double *>(fftw_malloc(sizeof(double) * size_t(n / 2 + 1)));
  double *in = fftw_alloc_real(size_t(n));
  cplx *out = fftw_alloc_complex(size_t(n / 2 + 1));
  if (!window || !sum || !in || !out) fatal("| no memory for the analysis of %d probe samples", n);
  fftw_plan plan = fftw_plan_dft_r2c_1d(n, in, out, FFTW_ESTIMATE);

  const double s = static_cast<double>(n) / 10.0;
  for (int t = 0; t < n; t++) {
    const double late = (n - t) / s, early = t / s;
    window[t] = 1.0 - (std::exp(-(late * late)) + std::exp(-(early * early)));
  }

  // the windowed trace of probe 1 (the second probe)
  writer w;
  writer_replace(w, "traces.dat");
  for (int t = 0; t < n; t++) {
    char *p = writer_room(w);
    p = put_e6(p, t0 + static_cast<double>(ntrace * t) * dt);
    p = put_s(p, "  ");
    p = put_e6(p, window[t] * trace_n[size_t(n) + t]);
    p = put_s(p, "  ");
    p = put_e6(p, window[t] * trace_p[size_t(n) + t]);
    p = put_s(p, "  ");
    p = put_e6(p, window[t]);
    p = put_s(p, " \n");
    w.pos = p;
  }
  writer_close(w);

  probe_spectrum("ptt_n.dat", trace_n, window, in, out, plan, sum);
  probe_spectrum("ptt_p.dat", trace_p, window, in, out, plan, sum);

  fftw_destroy_plan(plan);
  fftw_free(window);
  fftw_free(sum);
  fftw_free(in);
  fftw_free(out);
}
