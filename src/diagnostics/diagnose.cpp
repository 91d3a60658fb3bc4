// The diagnostics call: domain sums, energies, transport and transfer rates, and the time series.
//
// With Dx f = (hy/2)(f[x+1][y] - f[x-1][y]), Dy likewise along y (periodic neighbours), h = xyz/2:
//   enn = delinv h sum(ne^2 + taui ni^2)                 density energy
//   E_K = delinv^2 h sum((Dy pe)^2 + (Dx pe)^2)           kinetic energy
//   E_Z = delinv^2 h sum((hy (<pe>[x+1] - <pe>[x]))^2)    energy of the zonal (y-averaged) flow
//   W   = delinv^2 h sum(lap_pe^2)                        vorticity energy
//   Gamma = xyz delinv^2 sum(-ne Dy pe)                   radial particle flux
// and the drive, coupling and dissipation rates (xyz times their sums). The eight sums are taken
// in one parallel sweep over this process's rows; each thread sums its rows (a static share of
// them), the threads' partial sums are added in the order of the threads and the processes' sums in
// the order of the processes, so a run gives the same bits every time with the same processes and
// threads (a continued run writes the numbers of the run that did not stop), and every process has
// the same numbers. A collapsed or undefined density energy stops the run (every process at once)
// before any file of the call is touched. Every process runs the call; the files are the writing
// process's.
#include <omp.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "common/files.hpp"
#include "common/numfmt.hpp"
#include "common/writer.hpp"
#include "diagnostics/diagnostics.hpp"
#include "diagnostics/writers.hpp"
#include "parallel/processes.hpp"
#include "scheme/scheme.hpp"

// The eight sums of one call.
enum { s_n, s_k, s_z, s_w, s_f, s_g, s_c, s_d, nsums };

// Add the summands of the point (x, y) to sum; xm, xp, ym, yp are its periodic neighbours and
// zonal the squared zonal gradient of the row.
static inline void add_point(const output_fields &f, int x, int y, int xm, int xp, int ym, int yp,
                             double zonal, double *sum) {
  const array2d ne = f.ne, ni = f.ni, pe = f.pe, pi = f.pi, lap_pe = f.lap_pe, hyve = f.hyve, hyvi = f.hyvi;
  const double half_hy = hy * 0.5;
  const double dype = half_hy * (pe[x][yp] - pe[x][ym]);
  const double dxpe = half_hy * (pe[xp][y] - pe[xm][y]);
  const double dypi = half_hy * (pi[x][yp] - pi[x][ym]);
  const double n = ne[x][y], nion = ni[x][y], p = pe[x][y];
  // the coupling acts on deviations from the row averages when b_mhw is set
  const double c = b_mhw ? (p - n) - (peprof[x] - neprof[x]) : p - n;
  sum[s_n] += n * n + taui * nion * nion;
  sum[s_k] += dype * dype + dxpe * dxpe;
  sum[s_z] += zonal;
  sum[s_w] += lap_pe[x][y] * lap_pe[x][y];
  sum[s_f] += -n * dype;
  sum[s_g] += -n * dype - taui * nion * dypi;
  sum[s_c] += -chat * c * c;
  // the dissipation always uses the full difference pe - ne
  sum[s_d] += diff * ((p - n) * hyve[x][y] - (taui * nion + pi[x][y]) * hyvi[x][y]);
}

// The eight sums over the used grid into total (the halos of pe and pi exchanged).
static void domain_sums(const output_fields &f, double *total) {
  for (int s = 0; s < nsums; s++) total[s] = 0.0;
  std::vector<double> partial(size_t(omp_get_max_threads()) * nsums, 0.0);
  int threads = 1;
#pragma omp parallel
  {
    double sum[nsums] = {0, 0, 0, 0, 0, 0, 0, 0};
#pragma omp single nowait
    threads = omp_get_num_threads();
#pragma omp for schedule(static)
    for (int x = slab_first; x < slab_first + slab_rows; x++) {
      const int xp = x + 1, xm = x - 1;  // halo rows beyond the slab
      const double gradient = hy * (peprof[x == nx1 ? 0 : x + 1] - peprof[x]);
      const double zonal = gradient * gradient;
      // the two edge columns carry the periodic wrap; the interior runs without branches
      add_point(f, x, 0, xm, xp, ny1, ny1 > 0 ? 1 : 0, zonal, sum);
      for (int y = 1; y < ny1; y++) add_point(f, x, y, xm, xp, y - 1, y + 1, zonal, sum);
      if (ny1 > 0) add_point(f, x, ny1, xm, xp, ny1 - 1, 0, zonal, sum);
    }
    for (int s = 0; s < nsums; s++) partial[size_t(omp_get_thread_num()) * nsums + s] = sum[s];
  }
  for (int t = 0; t < threads; t++)
    for (int s = 0; s < nsums; s++) total[s] += partial[size_t(t) * nsums + s];
  sum_over_processes(total, nsums);
}

// Zero-crossing index along the row nxh of pe: the first y > 0 whose sign differs from that of
// y - 1 (0 and -0 count as positive, NaN as negative); 0 when there is none. The process of row nxh
// finds it, every process gets it.
static int zero_crossing(array2d pe) {
  double crossing = 0.0;
  if (steps_row(nxh))
    for (int y = 1; y <= ny1; y++) {
      const bool up = pe[nxh][y] >= 0.0, before = pe[nxh][y - 1] >= 0.0;
      if (up != before) {
        crossing = y;
        break;
      }
    }
  broadcast_from_row(nxh, &crossing, 1);
  return static_cast<int>(crossing);
}

// Append the zonal flow vz(x), the y-average of Dx pe, for t > 0, and an empty line every call:
// every process its rows (the halos of pe exchanged), the writer the file.
static void write_zonal_flow(double t, array2d pe) {
  std::vector<double> flow(size_t(nx), 0.0);
  if (t > 0) {
    const double factor = (hy * 0.5) / ny;
    for (int x = slab_first; x < slab_first + slab_rows; x++) {
      double sum = 0.0;
      for (int y = 0; y <= ny1; y++) sum += pe[x + 1][y] - pe[x - 1][y];
      flow[size_t(x)] = factor * sum;
    }
    share_rows(flow.data(), 1);
  }
  if (!writing_process()) return;
  writer w;
  writer_open(w, "zfx.dat", "a");
  for (int x = 0; x <= nx1 && t > 0; x++) {
    char *p = writer_room(w);
    p = put_f(p, t, 3);
    p = put_s(p, "  ");
    p = put_d(p, x);
    p = put_s(p, "  ");
    p = put_e6(p, flow[size_t(x)]);
    p = put_s(p, " \n");
    w.pos = p;
  }
  *writer_room(w) = '\n';
  w.pos++;
  writer_close(w);
}

// Append the lines of the call at time t (t > 0) to "eng.dat", "eng-transfer.dat" and "fne.dat".
static void write_series_on_writer(double t, const output_scalars &out) {
  writer_only("the time series");
  FILE *file = open_file("eng.dat", "a");
  if (t > 0)
    fprintf(file, "%.8f  %.6e  %.6e  %.6e  %.6e  %.6e\n", t, out.enn, out.enk, out.enz, out.energy, out.zonal_share);
  close_file(file, "eng.dat");
  file = open_file("eng-transfer.dat", "a");
  if (t > 0)
    fprintf(file, "%.8f  %.6e  %.6e  %.6e  %.6e\n", t, out.drive, out.coupling, out.dissipation, out.rate_sum);
  close_file(file, "eng-transfer.dat");
  file = open_file("fne.dat", "a");
  if (t > 0) fprintf(file, "%.8f  %.6e\n", t, out.flux);
  close_file(file, "fne.dat");
}

// The E x B rate and time of the last call that passed the crash stop, for the cause it names.
static double exb_good = 0.0, t_good = 0.0;

// 1e-12 in place of an exact zero, so that ratios and logarithms of the energies stay finite.
static double clamp(double v) { return v == 0.0 ? 1e-12 : v; }

output_fields state_output_fields() { return output_fields{ne, ni, pe, pi, gni, hyve, hyvi, lap_pe}; }

output_scalars diagnose(double t, double t0, int iout, int itmax, const output_fields &f) {
  const array2d ne = f.ne, pe = f.pe;
  // Step 1. Radial profiles, the y-averages of ne and pe: every process its rows, then every row
  // to every process.
#pragma omp parallel for schedule(static)
  for (int x = slab_first; x < slab_first + slab_rows; x++) {
    double sum_n = 0.0, sum_p = 0.0;
    for (int y = 0; y <= ny1; y++) {
      sum_n += ne[x][y];
      sum_p += pe[x][y];
    }
    neprof[x] = sum_n / ny;
    peprof[x] = sum_p / ny;
  }
  share_rows(neprof, 1);
  share_rows(peprof, 1);

  // Step 2. Vorticity field; the rows beyond the slab that the differences reach.
  spectral_solve(pe, clap, f.lap_pe);
  exchange_halos({f.pe, f.pi});

  // Steps 3-4. Domain sums and the values derived from them.
  double sum[nsums];
  domain_sums(f, sum);
  const double h = xyz * 0.5;
  const double d2 = delinv * delinv;
  const double enw = d2 * clamp(h * sum[s_w]);
  const double enn = delinv * (h * sum[s_n]);
  const double enk = d2 * clamp(h * sum[s_k]);
  const double enz = d2 * clamp(h * sum[s_z]);
  const double t_end = static_cast<double>(itmax) * dt + t0;

  // Step 5. Crash stop, before any file of this call is opened.
  if (std::isnan(enn) || enn < 1e-16) {
    printf("\n|t=%.3f (%.2f): enn=%.3e\n", t, t_end, enn);
    printf("|TAVO CRASHED!  enn=%.3e,   eno=%.3e\n", enn, eno);
    fflush(stdout);
    fputs(crash_cause(enn, exb_good, t_good).c_str(), stderr);
    fftw_cleanup_threads();
    stop_all_processes(1);
  }
  eno = enn;
  exb_good = exb_rate(pe);
  t_good = t;

  // Step 6. Energies, transfer rates and flux (the files are the writer's).
  output_scalars out;
  out.enn = enn;
  out.enk = enk;
  out.enz = enz;
  out.energy = enk + enn;
  out.zonal_share = enz / enk;
  out.drive = xyz * sum[s_g];
  out.coupling = xyz * sum[s_c];
  out.dissipation = xyz * sum[s_d];
  out.rate_sum = (out.drive + out.coupling) + out.dissipation;
  out.flux = xyz * delinv * delinv * sum[s_f];
  out.step = out.step_min = out.step_max = out.steps = std::nan("");
  if (writing_process()) write_series_on_writer(t, out);
  // Without any flow E_Z/E_K is 0/0: "eng.dat" keeps its column (both energies at their floor,
  // 1e-12, give 1), the history and the caller get NaN, undefined.
  if (sum[s_k] == 0.0) out.zonal_share = std::nan("");

  // Step 7. Phase speed of the single ky mode from the drift of a zero crossing along y; a
  // crossing that did not move towards smaller y counts as -1e-9.
  if (incon == 5) {
    const int j0 = zero_crossing(pe);
    double v = -1e-9;
    if (iout > 1) {
      v = (j0 - jnull_old) * (1.0 / hy) / ddtt;
      if (!(v < 0.0)) v = -1e-9;
    }
    jnull_old = j0;
    vde_avg = (iout * vde_avg + v) / (iout + 1);
  }

  // Step 8. Growth rate of the vorticity amplitude sqrt(W) over one interval.
  if (enwo == 1e-12) enwo = enw;
  const double gamma = (std::sqrt(enw) - std::sqrt(enwo)) / (std::sqrt(enwo) * ddtt);
  enwo = enw;
  if (writing_process()) {
    FILE *file = open_file("gamma.dat", "a");
    if (iout >= 2) fprintf(file, "%.3f  %.6e  %.6e\n", t, std::fabs(vde_avg * sigma), gamma);
    close_file(file, "gamma.dat");
  }

  // Step 9. Zonal flow.
  write_zonal_flow(t, pe);

  // Step 10. Profiles and cuts, snapshots, wavenumber spectra.
  write_profiles(f);
  write_snapshots(f);
  write_spectra(f, iout);

  // Step 11. Progress line.
  printf("|t=%.3f (%.3f): enn=%.3e\n", t, t_end, enn);
  fflush(stdout);
  return out;
}
