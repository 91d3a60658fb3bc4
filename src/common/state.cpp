// Definitions of the global grid state and run constants (zero, and the fields empty, at program
// start; allocate_fields gives the fields and profiles their storage).
#include "common/state.hpp"

double chat, taui, xlwl, delinv, diff, incon, sigma, amp, vorfree, ly, dt;
bool b_mhw, b_plan;
int nx, ny, itstp, itmax, ntrace, ipade, ihype, npar;
int nframe, nckpt, iseed;
double cfl;

double hy, wsrc, aspect, clin, hysq, hyd, xyz;
int maxtrace, nxh, nyh, nx1, ny1;
bool printtraces;

array2d ne, ni, pe, pi, gni, ww;
array2d ne1, ne2, ni1, ni2;
array2d fne1, fne2, fni1, fni2;
array2d hyve, hyvi, vis_e, vis_i, dis_e, dis_i;
double *cvfis, *cpoti, *cvort, *clap, *chyv;
array2d lap_pe;

double *pkxavg, *pkyavg, *pkyavgn, *pkyavgw, *pkyavge;
double *xmask, *neprof, *peprof;

double dtt, ddtt, eno, enwo, vde_avg, vorset, dr;
int jnull_old;

const field_record field_table[] = {
    {&ne, "ne", role_state, true},       {&ni, "ni", role_state, true},       {&pe, "pe", role_state, true},
    {&pi, "pi", role_state, true},       {&gni, "gni", role_state, true},     {&ww, "ww", role_state},
    {&ne1, "ne1", role_state, true},     {&ne2, "ne2", role_state, true},     {&ni1, "ni1", role_state, true},
    {&ni2, "ni2", role_state, true},     {&fne1, "fne1", role_state, true},   {&fne2, "fne2", role_state, true},
    {&fni1, "fni1", role_state, true},   {&fni2, "fni2", role_state, true},   {&hyve, "hyve", role_state},
    {&hyvi, "hyvi", role_state},         {&vis_e, "vis_e", role_state},       {&vis_i, "vis_i", role_state},
    {&dis_e, "dis_e", role_work, true},  {&dis_i, "dis_i", role_work, true},  {&lap_pe, "lap_pe", role_work}};
const int nfield_records = sizeof field_table / sizeof field_table[0];
