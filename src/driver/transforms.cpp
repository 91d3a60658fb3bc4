// The driver's persistent transform plans and spectral buffers, made once per run.
#include <cstdio>
#include <cstdlib>

#include <omp.h>

#include "driver/driver.hpp"

cplx *fw_in, *fw_out, *bw_in, *bw_out;
fftw_plan plan_fw, plan_bw;

void make_transforms() {
  free_transforms();
  const size_t count = static_cast<size_t>(nx) * ny;
  fw_in = fftw_alloc_complex(count);
  fw_out = fftw_alloc_complex(count);
  bw_in = fftw_alloc_complex(count);
  bw_out = fftw_alloc_complex(count);
  fftw_plan_with_nthreads(npar);
  // Measured planning may overwrite the buffers; nothing in them is needed yet.
  const unsigned flags = b_plan ? FFTW_MEASURE : FFTW_ESTIMATE;
  plan_fw = fftw_plan_dft_2d(nx, ny, fw_in, fw_out, FFTW_FORWARD, flags);
  plan_bw = fftw_plan_dft_2d(nx, ny, bw_in, bw_out, FFTW_BACKWARD, flags);
  // The wisdom lets every one-shot solve reuse these plans' measurements; kept for the whole run.
  wisdom_sf = fftw_export_wisdom_to_string();
  make_sweep_rows(omp_get_max_threads());
}

void free_transforms() {
  if (plan_fw) fftw_destroy_plan(plan_fw);
  if (plan_bw) fftw_destroy_plan(plan_bw);
  fftw_free(fw_in);
  fftw_free(fw_out);
  fftw_free(bw_in);
  fftw_free(bw_out);
  free(wisdom_sf);
  plan_fw = plan_bw = nullptr;
  fw_in = fw_out = bw_in = bw_out = nullptr;
  wisdom_sf = nullptr;
  free_sweep_rows();
}
