// The one-shot solves plan with FFTW_ESTIMATE after importing the driver's wisdom; when the driver
// measured its plans, that wisdom covers the solve's transforms, so the solve runs the measured
// algorithm instead of an estimated one. FFTW_WISDOM_ONLY makes the planner return no plan unless
// wisdom for exactly that problem is known: it must return one here.
#include <gtest/gtest.h>

#include "operators/operators.hpp"
#include "support/run_setup.hpp"

TEST(PoissonWisdom, MeasuredDriverPlansCoverTheOneShotTransforms) {
  for (int threads : {1, 2}) {
    SCOPED_TRACE(threads);
    fftw_forget_wisdom();
    values19 v = test_values();
    v[v_nx] = 48;
    v[v_ny] = 40;
    v[v_bplan] = 1;
    v[v_npar] = threads;
    setup_run(v);
    ASSERT_NE(wisdom_sf, nullptr);

    // The solve's own buffers and call sequence: forget, import, plan from wisdom alone.
    fftw_forget_wisdom();
    const size_t count = static_cast<size_t>(nx) * ny;
    cplx *in = fftw_alloc_complex(count), *out = fftw_alloc_complex(count);
    fftw_plan_with_nthreads(npar);
    ASSERT_NE(fftw_import_wisdom_from_string(wisdom_sf), 0);
    fftw_plan forward = fftw_plan_dft_2d(nx, ny, in, out, FFTW_FORWARD, FFTW_ESTIMATE | FFTW_WISDOM_ONLY);
    fftw_plan backward = fftw_plan_dft_2d(nx, ny, in, out, FFTW_BACKWARD, FFTW_ESTIMATE | FFTW_WISDOM_ONLY);
    EXPECT_NE(forward, nullptr) << "no wisdom for the forward transform of the one-shot solve";
    EXPECT_NE(backward, nullptr) << "no wisdom for the backward transform of the one-shot solve";
    if (forward) fftw_destroy_plan(forward);
    if (backward) fftw_destroy_plan(backward);
    fftw_free(in);
    fftw_free(out);
  }
}
