// Cuts and radial profiles: "cutx.dat" along x through the row y = nyh, "cuty.dat" along y
// through the column x = nxh, and "xprof.dat" with the y-averages of pe, ne, ni, lap_pe and of
// the Reynolds-stress-like product Dx pe * Dy pe. Positions are written in length units
// (index / hy). Every file holds the state of the latest call only. Every process forms the values
// of its rows (the cut along y: the process of row nxh), the writing process writes the files.
#include <vector>

#include "common/numfmt.hpp"
#include "common/writer.hpp"
#include "diagnostics/writers.hpp"
#include "parallel/processes.hpp"

// Append one line "%f  %.6e   %.6e   %.6e   %.6e   %.6e\n": position, then five values.
static void put_line(writer &w, double position, const double *value) {
  char *p = writer_room(w);
  p = put_f6(p, position);
  p = put_s(p, "  ");
  p = put_e6(p, value[0]);
  for (int i = 1; i < 5; i++) {
    p = put_s(p, "   ");
    p = put_e6(p, value[i]);
  }
  *p++ = '\n';
  w.pos = p;
}

// Rewrite the file `name` with n lines of five values each (line i at values + 5 i, position i/hy).
static void write_lines_on_writer(const char *name, int n, const double *values) {
  writer_only(name);
  writer w;
  writer_replace(w, name);
  for (int i = 0; i < n; i++) put_line(w, static_cast<double>(i) / hy, values + 5 * size_t(i));
  writer_close(w);
}

// f: the fields of the diagnostics call, lap_pe made by the same call.
void write_profiles(const output_fields &f) {
  const array2d ne = f.ne, ni = f.ni, pe = f.pe, gni = f.gni, lap_pe = f.lap_pe;
  const int first = slab_first, end = slab_first + slab_rows;
  exchange_halos({pe});  // rows x-1, x+1 of the product
  std::vector<double> cut_x(5 * size_t(nx), 0.0), cut_y(5 * size_t(ny), 0.0), profile(5 * size_t(nx), 0.0);
  for (int x = first; x < end; x++) {
    const double value[5] = {ne[x][nyh], ni[x][nyh], pe[x][nyh], lap_pe[x][nyh], gni[x][nyh]};
    for (int i = 0; i < 5; i++) cut_x[5 * size_t(x) + i] = value[i];
  }
  if (steps_row(nxh))
    for (int y = 0; y <= ny1; y++) {
      const double value[5] = {ne[nxh][y], ni[nxh][y], pe[nxh][y], lap_pe[nxh][y], gni[nxh][y]};
      for (int i = 0; i < 5; i++) cut_y[5 * size_t(y) + i] = value[i];
    }
  // the product ((pe[x+1] - pe[x-1]) q)(pe[y+1] - pe[y-1]) with q = hy^2/4 is Dx pe * Dy pe
  const double q = (hy * 0.25) * hy;
  for (int x = first; x < end; x++) {
    double *sum = &profile[5 * size_t(x)];
    for (int y = 0; y <= ny1; y++) {
      const int yp = y == ny1 ? 0 : y + 1;
      const int ym = y == 0 ? ny1 : y - 1;
      sum[0] += pe[x][y];
      sum[1] += ne[x][y];
      sum[2] += ni[x][y];
      sum[3] += lap_pe[x][y];
      sum[4] += ((pe[x + 1][y] - pe[x - 1][y]) * q) * (pe[x][yp] - pe[x][ym]);
    }
    for (int i = 0; i < 5; i++) sum[i] /= ny;
  }
  share_rows(cut_x.data(), 5);
  broadcast_from_row(nxh, cut_y.data(), 5 * long(ny));
  share_rows(profile.data(), 5);
  if (!writing_process()) return;
  write_lines_on_writer("cutx.dat", nx, cut_x.data());
  write_lines_on_writer("cuty.dat", ny, cut_y.data());
  write_lines_on_writer("xprof.dat", nx, profile.data());
}
