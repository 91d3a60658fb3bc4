// Definitions of the global grid state and run constants (zero, and the fields empty, at program
// start; allocate_fields gives the fields and profiles their storage).
#include "common/state.hpp"

double chat, taui, xlwl, delinv, diff, incon, sigma, amp, vorfree, ly, dt;
bool b_mhw, b_plan;
int nx, ny, itstp, itmax, ntrace, ipade, ihype, npar;
int nframe, nckpt, iseed;

double hy, wsrc, aspect, clin, hysq, hyd, xyz;
int maxtrace, nxh, nyh, nx1, ny1;
bool printtraces;

array2d ne, ni, pe, pi, gni, ww;
array2d ne0, ne1, ne2, ni0, ni1, ni2;
array2d fne0, fne1, fne2, fni0, fni1, fni2;
array2d hyve, hyvi, vis_e, vis_i, dis_e, dis_i;
array2d cvfis, cpoti, cvort, clap, chyv;
array2d lap_pe;

double *pkxavg, *pkyavg, *pkyavgn, *pkyavgw, *pkyavge;
double *xmask, *neprof, *peprof;

double dtt, ddtt, eno, enwo, vde_avg, vorset, dr;
char *wisdom_sf;
int jnull_old;
