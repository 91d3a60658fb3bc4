// Probe traces: the 8 by 8 probe lattice, and the end-of-run analysis against a direct discrete
// Fourier transform of the windowed traces.
#include <complex>

#include "diagnostics/diag_fixture.hpp"

// nx = 16, ny = 32: probe p = 8 i + j sits at x = 2 i + 1, y = 4 j + 2.
TEST_F(DiagTest, ProbesSampleTheLattice) {
  values19 v = test_values();
  v[v_ny] = 32;
  v[v_itmax] = 30;
  v[v_ntrace] = 10;
  start(v);
  ASSERT_EQ(maxtrace, 3);
  for (int x = 0; x < nx; x++)
    for (int y = 0; y < ny; y++) {
      ne[x][y] = 1000 * x + y;
      pe[x][y] = -(1000 * x + y);
    }
  std::vector<double> trace_n(nprobes * 3, -1.0), trace_p(nprobes * 3, -1.0);
  record_probes(trace_n.data(), trace_p.data(), 2);
  const int probe[5] = {0, 1, 8, 9, 63};
  const double point[5] = {1002, 1006, 3002, 3006, 15030};
  for (int k = 0; k < 5; k++) {
    EXPECT_EQ(trace_n[probe[k] * 3 + 2], point[k]) << "probe " << probe[k];
    EXPECT_EQ(trace_p[probe[k] * 3 + 2], -point[k]) << "probe " << probe[k];
    EXPECT_EQ(trace_n[probe[k] * 3 + 1], -1.0) << "another sample was written";
  }
  // a sample number beyond the store is ignored
  std::vector<double> copy = trace_n;
  record_probes(trace_n.data(), trace_p.data(), 3);
  record_probes(trace_n.data(), trace_p.data(), -1);
  EXPECT_TRUE(trace_n == copy);
}

// itmax = 1000, ntrace = 10: N = 100 samples. Probe 1 holds twice the trace of the others, so the
// summed spectrum is 65/64 of one probe's |Re X_k| and "traces.dat" shows probe 1.
TEST_F(DiagTest, AnalysisOfTheTraces) {
  values19 v = test_values();
  v[v_itmax] = 1000;
  v[v_ntrace] = 10;
  v[v_dt] = 0.01;
  start(v);
  const int n = 100;
  ASSERT_EQ(maxtrace, n);
  std::vector<double> u(n), trace_n(nprobes * n), trace_p(nprobes * n);
  for (int t = 0; t < n; t++) u[t] = std::cos(2 * M_PI * 7 * t / n) + 0.3 * std::sin(2 * M_PI * 12 * t / n) + 0.1 * t / n;
  for (int p = 0; p < nprobes; p++)
    for (int t = 0; t < n; t++) {
      trace_n[p * n + t] = (p == 1 ? 2.0 : 1.0) * u[t];
      trace_p[p * n + t] = -3.0 * trace_n[p * n + t];
    }
  const double t0 = 5.0;
  testing::internal::CaptureStdout();
  trace_analysis(t0, trace_n.data(), trace_p.data());
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "|\n| computing sum over 64 frequency spectra ... \n");

  std::vector<double> window(n);
  const double sigma = n / 10.0;
  for (int t = 0; t < n; t++)
    window[t] = 1.0 - (std::exp(-std::pow((n - t) / sigma, 2)) + std::exp(-std::pow(t / sigma, 2)));

  const std::vector<std::string> lines = lines_of(read_text("traces.dat"));
  auto traces = read_table("traces.dat");
  ASSERT_EQ(traces.size(), size_t(n));
  for (int t = 0; t < n; t++) {
    EXPECT_EQ(lines[t].back(), ' ') << "traces.dat line " << t + 1 << " ends with a blank";
    EXPECT_TRUE(close_to(traces[t][0], t0 + 10 * t * 0.01, 1e-6)) << "time of sample " << t;
    EXPECT_TRUE(close_to(traces[t][1], window[t] * 2 * u[t], 2e-6, 1e-300)) << "sample " << t;
    EXPECT_TRUE(close_to(traces[t][2], window[t] * -6 * u[t], 2e-6, 1e-300)) << "sample " << t;
    EXPECT_TRUE(close_to(traces[t][3], window[t], 2e-6)) << "window " << t;
  }
  // w[0] is exactly 0; times the negative potential sample it is -0
  EXPECT_EQ(lines[0], "5.000000e+00  0.000000e+00  -0.000000e+00  0.000000e+00 ");
  EXPECT_TRUE(close_to(traces[50][3], 1 - 2 * std::exp(-25.0), 1e-7));

  // |Re X_k| of one windowed probe by a direct sum
  for (const char *name : {"ptt_n.dat", "ptt_p.dat"}) {
    const double scale = std::string(name) == "ptt_n.dat" ? 1.0 : 3.0;
    auto spectrum = read_table(name);
    ASSERT_EQ(spectrum.size(), 49u) << name;
    for (int k = 1; k <= 49; k++) {
      double re = 0;
      for (int t = 0; t < n; t++) re += window[t] * u[t] * std::cos(2 * M_PI * double(k) * t / n);
      const double want = scale * 65.0 / 64.0 * std::fabs(re) / n;
      EXPECT_TRUE(close_to(spectrum[k - 1][0], k * 2 * M_PI / (1000 * 0.01), 1e-6)) << name << " k = " << k;
      EXPECT_TRUE(close_to(spectrum[k - 1][1], want, 2e-6, 1e-14)) << name << " k = " << k;
    }
  }
}

// Three samples: "traces.dat" has three lines, the spectrum files exist but stay empty.
TEST_F(DiagTest, ShortTracesGiveEmptySpectra) {
  values19 v = test_values();
  v[v_itmax] = 30;
  v[v_ntrace] = 10;
  start(v);
  std::vector<double> trace(nprobes * 3, 1.0);
  testing::internal::CaptureStdout();
  trace_analysis(0.0, trace.data(), trace.data());
  testing::internal::GetCapturedStdout();
  EXPECT_EQ(lines_of(read_text("traces.dat")).size(), 3u);
  for (const char *name : {"ptt_n.dat", "ptt_p.dat"}) {
    EXPECT_TRUE(std::filesystem::exists(name)) << name;
    EXPECT_EQ(read_text(name), "") << name;
  }
}

// ntrace > itmax leaves no sample: one message line and no file.
TEST_F(DiagTest, NoSamplesSkipsTheAnalysis) {
  values19 v = test_values();
  v[v_itmax] = 5;
  v[v_ntrace] = 10;
  start(v);
  ASSERT_EQ(maxtrace, 0);
  testing::internal::CaptureStdout();
  trace_analysis(0.0, nullptr, nullptr);
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "| no probe samples (ntrace > itmax): frequency spectra skipped\n");
  EXPECT_TRUE(directory_content(dir).empty());
}
