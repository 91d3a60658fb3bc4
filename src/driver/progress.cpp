// The progress of a long run, once per output on standard error (standard output keeps only the
// console lines of the run): wall time since the stepping began, steps per second so far and the
// time the remaining steps take at that rate.
#include <cmath>
#include <cstdio>

#include "common/state.hpp"
#include "driver/driver.hpp"

// Seconds as h:mm:ss.
static void clock_text(double seconds, char *text, size_t size) {
  const long s = std::lround(seconds);
  snprintf(text, size, "%ld:%02ld:%02ld", s / 3600, s / 60 % 60, s % 60);
}

void report_progress(long steps, long total, double elapsed, double done, double t, double dt_now) {
  if (steps <= 0 || !(elapsed > 0)) return;
  const double rate = steps / elapsed;
  char spent[32], left[32];
  clock_text(elapsed, spent, sizeof spent);
  if (cfl > 0) {
    clock_text(done > 0 ? elapsed * (1 - done) / done : 0.0, left, sizeof left);
    fprintf(stderr, "| progress: t = %.6g, step %ld, dt = %.4g, %s elapsed, %.1f steps/s, about %s to the end\n", t,
            steps, dt_now, spent, rate, left);
    return;
  }
  clock_text((total - steps) / rate, left, sizeof left);
  fprintf(stderr, "| progress: step %ld of %ld, %s elapsed, %.1f steps/s, about %s to the end\n", steps, total, spent,
          rate, left);
}
