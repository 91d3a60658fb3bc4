// The run constants derived from the nineteen values (signs, truncation toward zero, the probe
// sample count from the values as read, the exact-one plan switch), initpar on a parameter file
// written in every marker form, the start-up refusals of the program (each bad input ends with
// status 1 and one "|" line naming the value or word, before any file is created or emptied) and
// its warnings on standard error.
#include <gtest/gtest.h>

#include <omp.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "common/state.hpp"
#include "driver/driver.hpp"
#include "parallel/processes.hpp"
#include "setup/setup.hpp"
#include "support/dirs.hpp"
#include "support/run_setup.hpp"

namespace {

const std::string banner = std::string(41, '_') + "\n| TAVO start...\n";

// Run constants of test_values() with one value replaced.
void set_with(int which, double value) {
  values19 v = test_values();
  v[which] = value;
  set_run_constants(v.data());
}

TEST(RunConstants, SignsOfCouplingAndIonTemperature) {
  struct coupling_case {
    double value;
    double chat;
    bool mhw;
  };
  for (const coupling_case &c : {coupling_case{0.5, 0.5, true}, coupling_case{-0.5, 0.5, false},
                                 coupling_case{0.0, 0.0, true}, coupling_case{-3e-7, 3e-7, false}}) {
    set_with(v_chat, c.value);
    EXPECT_EQ(chat, c.chat) << "value 1 = " << c.value;
    EXPECT_EQ(b_mhw, c.mhw) << "value 1 = " << c.value;
    // Without coupling the centred y difference of the time step is switched off.
    double want_hyd = c.value == 0 ? 0.0 : hy * 0.5;
    EXPECT_EQ(hyd, want_hyd) << "value 1 = " << c.value;
  }
  struct temperature_case {
    double value;
    double taui;
    double xlwl;
  };
  for (const temperature_case &c : {temperature_case{1.5, 1.5, 1.0}, temperature_case{-1.5, 1.5, 0.0},
                                    temperature_case{0.0, 0.0, 1.0}}) {
    set_with(v_taui, c.value);
    EXPECT_EQ(taui, c.taui) << "value 2 = " << c.value;
    EXPECT_EQ(xlwl, c.xlwl) << "value 2 = " << c.value;
  }
}

TEST(RunConstants, IntegersTruncateTowardZero) {
  values19 v = test_values();
  v[v_nx] = 256.99;
  v[v_ny] = 7.9;
  v[v_itstp] = 2.7;
  v[v_itmax] = 10.9;
  v[v_ntrace] = 3.99;
  v[v_ipade] = 0.99;
  v[v_ihype] = -1.9;
  v[v_npar] = 1.5;
  set_run_constants(v.data());
  EXPECT_EQ(nx, 256);
  EXPECT_EQ(nxh, 128);
  EXPECT_EQ(nx1, 255);
  EXPECT_EQ(ny, 7);
  EXPECT_EQ(nyh, 3);
  EXPECT_EQ(ny1, 6);
  EXPECT_EQ(itstp, 2);
  EXPECT_EQ(itmax, 10);
  EXPECT_EQ(ntrace, 3);
  EXPECT_EQ(ipade, 0);
  EXPECT_EQ(ihype, -1);
  EXPECT_EQ(npar, 1);
  set_with(v_nx, 5);
  EXPECT_EQ(nxh, 2);
  EXPECT_EQ(nx1, 4);
}

TEST(RunConstants, ProbeSampleCountUsesValuesAsRead) {
  struct trace_case {
    double itmax_value, ntrace_value;
    int ntrace, maxtrace;
    bool print;
  };
  const trace_case cases[] = {
      {1000, 3, 3, 333, true},   {1000, 2.5, 2, 400, true},  // 1000/2.5, not 1000/2
      {1000, 0, 0, 1, false},    {1000, 0.5, 0, 1, false},   // truncated ntrace 0
      {1000, -4, -4, -250, false}, {999.9, 3, 3, 333, true}, {10, 4, 4, 2, true},
  };
  for (const trace_case &c : cases) {
    values19 v = test_values();
    v[v_itmax] = c.itmax_value;
    v[v_ntrace] = c.ntrace_value;
    set_run_constants(v.data());
    EXPECT_EQ(ntrace, c.ntrace) << "values 14, 15 = " << c.itmax_value << ", " << c.ntrace_value;
    EXPECT_EQ(maxtrace, c.maxtrace) << "values 14, 15 = " << c.itmax_value << ", " << c.ntrace_value;
    EXPECT_EQ(printtraces, c.print) << "values 14, 15 = " << c.itmax_value << ", " << c.ntrace_value;
  }
}

TEST(RunConstants, PlanSwitchOnlyForExactlyOne) {
  struct plan_case {
    double value;
    bool plan;
  };
  for (const plan_case &c : {plan_case{1.0, true}, plan_case{2.0, false}, plan_case{0.0, false},
                             plan_case{0.9999999, false}, plan_case{1.0000001, false}, plan_case{-1.0, false}}) {
    set_with(v_bplan, c.value);
    EXPECT_EQ(b_plan, c.plan) << "value 18 = " << c.value;
  }
}

TEST(RunConstants, DerivedGeometryAndValuesAsRead) {
  values19 v = test_values();
  v[v_delta] = -4;
  v[v_diff] = 0.003;
  v[v_incon] = 3;
  v[v_sigma] = 0.5;
  v[v_amp] = 0.25;
  v[v_vorfree] = 2;
  v[v_ly] = 4;
  v[v_nx] = 12;
  v[v_ny] = 8;
  v[v_dt] = 0.02;
  set_run_constants(v.data());
  EXPECT_EQ(delinv, -0.25);
  EXPECT_EQ(diff, 0.003);
  EXPECT_EQ(incon, 3.0);
  EXPECT_EQ(sigma, 0.5);
  EXPECT_EQ(amp, 0.25);
  EXPECT_EQ(vorfree, 2.0);
  EXPECT_EQ(ly, 4.0);
  EXPECT_EQ(dt, 0.02);
  EXPECT_EQ(hy, 2.0);
  EXPECT_EQ(wsrc, 1.0);
  EXPECT_EQ(aspect, 1.5);
  EXPECT_EQ(clin, 1.0);
  EXPECT_DOUBLE_EQ(hysq, 4.0 / 12.0);
  EXPECT_DOUBLE_EQ(xyz, 1.0 / 96.0);
}

// Every line of a parameter file in a different marker form, comments and units between them,
// a 300-character comment token and a twentieth value that must be ignored.
const char *const mixed_parameter_file =
    "drift wave run: names, comments and units may stand anywhere\n"
    "chat=  0.5   coupling\n"
    "taui = -1.0\n"
    "delta= 2\n"
    "diff = 0.001 nu\n"
    "incon = 0 blob\n"
    "sigma = 1.5 amp = 0.3\n"
    "vorfree\n=\n0\n"
    "ly = 6.0 length\n"
    "nx=256 8\n"
    "ny =\n   6\n"
    "dt = 0.01 itstp = 1 itmax = 1000\n"
    "ntrace = 2.5\n"
    "ipade = 0 ihype = 2 b_plan = 1.0\n"
    "npar = 1\n"
    "extra = 99\n";

TEST(Initpar, ReadsEveryMarkerFormAndTouchesNoFile) {
  char old_dir[4096];
  ASSERT_NE(getcwd(old_dir, sizeof old_dir), nullptr);
  std::string dir = make_temp_dir();
  write_text(dir + "/tavo.inp", std::string(mixed_parameter_file) + std::string(300, 'c') + "\n");
  for (const char *name : series_files) write_text(dir + "/" + name, "earlier run\n");

  ASSERT_EQ(chdir(dir.c_str()), 0);
  set_up_run();
  ASSERT_EQ(chdir(old_dir), 0);

  EXPECT_EQ(chat, 0.5);
  EXPECT_TRUE(b_mhw);
  EXPECT_EQ(taui, 1.0);
  EXPECT_EQ(xlwl, 0.0);
  EXPECT_EQ(delinv, 0.5);
  EXPECT_EQ(vorfree, 0.0);
  EXPECT_EQ(nx, 8);
  EXPECT_EQ(ny, 6);
  EXPECT_EQ(hy, 1.0);
  EXPECT_EQ(itmax, 1000);
  EXPECT_EQ(ntrace, 2);
  EXPECT_EQ(maxtrace, 400);
  EXPECT_EQ(ihype, 2);
  EXPECT_TRUE(b_plan);
  EXPECT_EQ(npar, 1);
  EXPECT_EQ(omp_get_max_threads(), 1);
  // The time series are emptied by the driver once every start-up check has passed.
  for (const char *name : series_files) EXPECT_EQ(read_text(dir + "/" + name), "earlier run\n") << name;
  // Running spectrum means: made for this grid, entries 0 .. nxh (nyh), all zero.
  for (int k = 0; k <= nxh; k++) EXPECT_EQ(pkxavg[k], 0.0) << "pkxavg[" << k << "]";
  for (int k = 0; k <= nyh; k++) {
    EXPECT_EQ(pkyavg[k], 0.0) << "pkyavg[" << k << "]";
    EXPECT_EQ(pkyavgn[k], 0.0) << "pkyavgn[" << k << "]";
    EXPECT_EQ(pkyavgw[k], 0.0) << "pkyavgw[" << k << "]";
    EXPECT_EQ(pkyavge[k], 0.0) << "pkyavge[" << k << "]";
  }
  // The tables are built last, for this grid: clap at (kx, ky) = (1, 0) (row 1, column 0 of the
  // half spectrum of one process) is -kx^2/(nx ny), kx = 2 pi hy / nx.
  double kx = 2 * M_PI * hy / nx;
  EXPECT_NEAR(clap[spectrum_columns()], -kx * kx / 48, 1e-15);
  remove_test_dir(dir);
}

// Remove the last line "name = ..." for the value named name from a parameter file.
std::string without_line(const std::string &text, const std::string &name) {
  size_t at = text.find("\n" + name + " = ");
  size_t end = text.find('\n', at + 1);
  return text.substr(0, at + 1) + text.substr(end + 1);
}

// The thread limit the program will see when started from this process: OMP_NUM_THREADS when set,
// else the processor count (not this process's own limit, which earlier tests may have lowered).
static int program_max_threads() {
  const char *env = getenv("OMP_NUM_THREADS");
  if (env && atoi(env) > 0) return atoi(env);
  return omp_get_num_procs();
}

TEST(InitparRun, BadInputStopsBeforeAnyFileIsTouched) {
  values19 good = test_values();
  good[v_itmax] = 0;
  const std::string complete = parameter_file(good);
  auto with = [&](int which, double value) {
    values19 v = good;
    v[which] = value;
    return parameter_file(v);
  };
  auto with_text = [&](const std::string &name, const std::string &value) {
    std::string text = complete;
    size_t at = text.find("\n" + name + " = ") + 1;
    size_t end = text.find('\n', at);
    return text.substr(0, at) + name + " = " + value + text.substr(end);
  };
  // The file with the line of value name replaced by line.
  auto with_line = [&](const std::string &name, const std::string &line) {
    std::string text = complete;
    size_t at = text.find("\n" + name + " = ") + 1;
    size_t end = text.find('\n', at);
    return text.substr(0, at) + line + text.substr(end);
  };
  auto with_grid = [&](double gridx, double gridy) {
    values19 v = good;
    v[v_nx] = gridx;
    v[v_ny] = gridy;
    return parameter_file(v);
  };
  const int maxthreads = program_max_threads();
  char npar_message[128];
  snprintf(npar_message, sizeof npar_message, "| npar = %d > %d max. available threads ... exiting\n",
           maxthreads + 1, maxthreads);

  values19 many_samples = good;
  many_samples[v_itmax] = 2147483647.0;  // the largest int: a terabyte of probe samples
  many_samples[v_ntrace] = 1;
  const std::string oversized = complete + std::string(size_t(1) << 20, 'c') + "\n";

  struct bad_case {
    const char *what;
    std::string text;                 // contents of "tavo.inp"
    int kind;                         // 0 file, 1 no file, 2 a directory, 3 a FIFO, 4 a link to /dev/zero
    std::vector<std::string> naming;  // the message line must contain each of these
  };
  const std::vector<bad_case> cases = {
      {"no parameter file", "", 1, {"tavo.inp"}},
      {"parameter file is a directory", "", 2, {"tavo.inp", "directory"}},
      {"empty parameter file", "", 0, {"tavo.inp", " 0 "}},
      {"eighteen values", without_line(complete, "npar"), 0, {"18"}},
      {"eighteen values and a final marker", without_line(complete, "npar") + "npar =\n", 0, {"18"}},
      {"nx zero", with(v_nx, 0), 0, {"nx = 0"}},
      {"grid beyond the machine's memory", with_grid(40000, 40000), 0, {"nx = 40000, ny = 40000", " bytes"}},
      {"grid of more points than an int counts", with_grid(50000, 50000), 0, {"nx = 50000, ny = 50000", "points"}},
      {"nx beyond an int", with(v_nx, 3e9), 0, {"nx = 3e+09"}},
      {"ny truncated to zero", with(v_ny, 0.5), 0, {"ny = 0.5"}},
      {"ny negative", with(v_ny, -3), 0, {"ny = -3"}},
      {"nx not a number", with_text("nx", "nan"), 0, {"nx = nan"}},
      {"npar zero", with(v_npar, 0), 0, {"npar = 0"}},
      {"itstp zero", with(v_itstp, 0), 0, {"itstp = 0"}},
      {"itmax negative", with(v_itmax, -1), 0, {"itmax = -1"}},
      {"ipade two", with(v_ipade, 2), 0, {"ipade = 2"}},
      {"ipade negative", with(v_ipade, -1), 0, {"ipade = -1"}},
      {"ly zero", with(v_ly, 0), 0, {"ly = 0"}},
      {"ly negative", with(v_ly, -6.5), 0, {"ly = -6.5"}},
      {"ly not a number", with_text("ly", "nan"), 0, {"ly = nan"}},
      {"value 3 zero", with(v_delta, 0), 0, {"delta = 0"}},
      // A step of no length, a step backwards, and steps that are no number.
      {"dt zero", with(v_dt, 0), 0, {"dt = 0 (value 12)", "> 0"}},
      {"dt negative", with(v_dt, -0.01), 0, {"dt = -0.01 (value 12)", "> 0"}},
      {"dt not a number", with_text("dt", "nan"), 0, {"dt = nan (value 12)", "finite"}},
      {"dt infinite", with_text("dt", "inf"), 0, {"dt = inf (value 12)", "finite"}},
      {"ly infinite", with_text("ly", "inf"), 0, {"ly = inf (value 9)"}},
      {"chat infinite", with_text("chat", "-inf"), 0, {"chat = -inf (value 1)"}},
      {"itmax beyond an int", with(v_itmax, 3e9), 0, {"itmax = 3e+09 (value 14)", "at most 2147483647"}},
      {"nframe not whole", complete + "nframe = 1.5\n", 0, {"nframe = 1.5 (value 20)", "whole"}},
      {"nckpt negative", complete + "nframe = 1\nnckpt = -1\n", 0, {"nckpt = -1 (value 21)"}},
      {"iseed not a number", complete + "nframe = 1\nnckpt = 1\niseed = nan\n", 0, {"iseed = nan (value 22)"}},
      // A value written into its marker: the message shows the fix.
      {"value inside its marker", with_line("dt", "dt=0.01"), 0, {"value 12 ", "\"dt=0.01\"", "write dt = 0.01"}},
      {"values inside their markers", with_line("nx", "nx=16").replace(with_line("nx", "nx=16").find("ny = "), 5, "ny="),
       0, {"value 10 ", "write nx = 16"}},
      {"more threads than available", with(v_npar, maxthreads + 1), 0, {npar_message}},
      {"decimal comma", with_text("dt", "0,01"), 0, {"value 12 ", "\"0,01\""}},
      {"thousands separator", with_text("itmax", "1,000"), 0, {"value 14 ", "\"1,000\""}},
      {"letters after the number", with_text("nx", "256abc"), 0, {"value 10 ", "\"256abc\""}},
      {"an '=' in a comment", with_text("ihype", "2   # k^4 (p=2)"), 0, {"value 18 ", "\"b_plan\""}},
      {"probe samples beyond memory", parameter_file(many_samples), 0, {"cannot reserve the probe traces"}},
      {"parameter file above 1 MB", oversized, 0, {"tavo.inp", std::to_string(oversized.size()) + " bytes"}},
      {"parameter file a FIFO without writer", "", 3, {"tavo.inp", " 0 values"}},
      {"parameter file a link to /dev/zero", "", 4, {"tavo.inp", "more than the 1048576 bytes"}},
  };
  const std::vector<std::string> kept = {"eng.dat", "eng-transfer.dat", "fne.dat",    "gamma.dat",
                                         "traces.dat", "time.dat",     "zfx.dat",    "restart.dat",
                                         "n2d.dat",    "cutx.dat",     "pky_p.dat"};
  for (const bad_case &c : cases) {
    SCOPED_TRACE(c.what);
    std::string dir = make_temp_dir();
    if (c.kind == 0) write_text(dir + "/tavo.inp", c.text);
    if (c.kind == 2) {
      ASSERT_EQ(mkdir((dir + "/tavo.inp").c_str(), 0755), 0);
    }
    if (c.kind == 3) {
      ASSERT_EQ(mkfifo((dir + "/tavo.inp").c_str(), 0644), 0);
    }
    if (c.kind == 4) {
      ASSERT_EQ(symlink("/dev/zero", (dir + "/tavo.inp").c_str()), 0);
    }
    for (const std::string &name : kept) write_text(dir + "/" + name, "kept: " + name + "\n");
    std::set<std::string> before = entries(dir);

    std::string output;
    int status = run_tavo(dir, &output);
    EXPECT_EQ(status, 1) << output;
    // The banner, the thread line when the refusal comes after the thread set-up, then exactly one
    // message line.
    ASSERT_EQ(output.compare(0, banner.size(), banner), 0) << output;
    std::string message = output.substr(banner.size());
    if (message.rfind("| parallel threads ", 0) == 0) message = message.substr(message.find('\n') + 1);
    EXPECT_EQ(message.rfind("| ", 0), 0u) << "message: " << message;
    EXPECT_EQ(message.find('\n'), message.size() - 1) << "message: " << message;
    for (const std::string &part : c.naming) EXPECT_NE(message.find(part), std::string::npos) << "message: " << message << "lacks: " << part;

    std::set<std::string> after = entries(dir);
    after.erase("stdout.txt");
    after.erase("stderr.txt");
    EXPECT_EQ(after, before) << "files were created";
    for (const std::string &name : kept) EXPECT_EQ(read_text(dir + "/" + name), "kept: " + name + "\n") << name;
    remove_test_dir(dir);
  }
}

// Runs that go ahead with a warning on standard error: values beyond the known ones (an '=' in
// the comment of the last value), and a run too short for one output interval.
TEST(InitparRun, WarningsOnStandardError) {
  values19 v = test_values();
  v[v_itmax] = 0;
  const std::string extra = parameter_file(v) + "nframe = 1 nckpt = 10 iseed = 0 cfl = 0   # seed (0=fixed) of the bath\n";
  v[v_itmax] = 1;
  v[v_itstp] = 2;
  struct warning_case {
    const char *what;
    std::string text;
    std::string warning;
  };
  const warning_case cases[] = {
      {"an extra value", extra, "| \"tavo.inp\" holds 24 values, 1 more than the 23 the program knows: value 24, "
                                "\"of\", and any later are ignored"},
      {"no complete interval", parameter_file(v), "| itmax = 1 is below itstp = 2: no step will run"},
  };
  for (const warning_case &c : cases) {
    SCOPED_TRACE(c.what);
    std::string dir = make_temp_dir(), output;
    write_text(dir + "/tavo.inp", c.text);
    EXPECT_EQ(run_tavo(dir, &output), 0) << output;
    const std::string errors = read_text(dir + "/stderr.txt");
    EXPECT_EQ(errors.rfind(c.warning, 0), 0u) << errors;
    EXPECT_EQ(std::count(errors.begin(), errors.end(), '\n'), 1) << errors;
    remove_test_dir(dir);
  }
}

TEST(InitparRun, AllAvailableThreadsAreAccepted) {
  const int maxthreads = program_max_threads();
  values19 v = test_values();
  v[v_nx] = v[v_ny] = 8;
  v[v_itmax] = 0;
  v[v_npar] = maxthreads;
  std::string dir = make_temp_dir();
  std::string output;
  EXPECT_EQ(run_in(dir, v, &output), 0) << output;
  // "| parallel threads " + one "%d/" per thread of the team in any order + " of %d active."
  const std::string head = "| parallel threads ";
  size_t at = output.find("\n" + head);
  ASSERT_NE(at, std::string::npos) << output;
  const std::string line = output.substr(at + 1, output.find('\n', at + 1) - at - 1);
  std::multiset<int> numbers;
  const char *cursor = line.c_str() + head.size();
  while (*cursor >= '0' && *cursor <= '9') {
    char *after;
    numbers.insert(static_cast<int>(strtol(cursor, &after, 10)));
    ASSERT_EQ(*after, '/') << line;
    cursor = after + 1;
  }
  EXPECT_EQ(std::string(cursor), " of " + std::to_string(maxthreads) + " active.") << line;
  std::multiset<int> want;
  for (int k = 0; k < maxthreads; k++) want.insert(k);
  EXPECT_EQ(numbers, want) << line;
  remove_test_dir(dir);
}

}  // namespace
