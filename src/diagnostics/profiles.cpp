// Cuts and radial profiles: "cutx.dat" along x through the row y = nyh, "cuty.dat" along y
// through the column x = nxh, and "xprof.dat" with the y-averages of pe, ne, ni, lap_pe and of
// the Reynolds-stress-like product Dx pe * Dy pe. Positions are written in length units
// (index / hy). Every file holds the state of the latest call only.
#include "common/numfmt.hpp"
#include "common/writer.hpp"
#include "diagnostics/writers.hpp"

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

// f: the fields of the diagnostics call, lap_pe made by the same call.
void write_profiles(const output_fields &f) {
  const array2d ne = f.ne, ni = f.ni, pe = f.pe, gni = f.gni, lap_pe = f.lap_pe;
  writer w;
  writer_replace(w, "cutx.dat");
  for (int x = 0; x <= nx1; x++) {
    const double value[5] = {ne[x][nyh], ni[x][nyh], pe[x][nyh], lap_pe[x][nyh], gni[x][nyh]};
    put_line(w, static_cast<double>(x) / hy, value);
  }
  writer_close(w);

  writer_replace(w, "cuty.dat");
  for (int y = 0; y <= ny1; y++) {
    const double value[5] = {ne[nxh][y], ni[nxh][y], pe[nxh][y], lap_pe[nxh][y], gni[nxh][y]};
    put_line(w, static_cast<double>(y) / hy, value);
  }
  writer_close(w);

  // the product ((pe[x+1] - pe[x-1]) q)(pe[y+1] - pe[y-1]) with q = hy^2/4 is Dx pe * Dy pe
  writer_replace(w, "xprof.dat");
  const double q = (hy * 0.25) * hy;
  for (int x = 0; x <= nx1; x++) {
    const int xp = x == nx1 ? 0 : x + 1;
    const int xm = x == 0 ? nx1 : x - 1;
    double sum[5] = {0, 0, 0, 0, 0};
    for (int y = 0; y <= ny1; y++) {
      const int yp = y == ny1 ? 0 : y + 1;
      const int ym = y == 0 ? ny1 : y - 1;
      sum[0] += pe[x][y];
      sum[1] += ne[x][y];
      sum[2] += ni[x][y];
      sum[3] += lap_pe[x][y];
      sum[4] += ((pe[xp][y] - pe[xm][y]) * q) * (pe[x][yp] - pe[x][ym]);
    }
    for (int i = 0; i < 5; i++) sum[i] /= ny;
    put_line(w, static_cast<double>(x) / hy, sum);
  }
  writer_close(w);
}
