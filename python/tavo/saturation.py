"""Saturation decided, not assumed: the end of the initial transient, the tests a window must pass,
means with errors from the integrated autocorrelation time, and the error of an ensemble mean.
Pure functions on numpy arrays; tavo.analysis and `scripts/scan collect` use them. The method, with
the measurements behind its thresholds, is described in docs/analysis.md; here, what the code
needs beyond it:

- errors: sqrt(2 tau_int var / n) with tau_int = 1/2 + sum_{s=1..M} rho(s) in Sokal's window (the
  smallest M >= 5 tau_int(M)); tau_int carries the error tau_int sqrt(2 (2M + 1) / n);
- runaway records: not finite in any series, or the energy grown from the record before by more
  than exp(RUNAWAY_RATE dt) with RUNAWAY_RATE = 5 (the program's runaway bound with the drive's
  rate g = 1: stricter than the program for warm ions, still far above any physical growth), and
  every record after it;
- the transient: MSER, the start d that minimises sum((x - mean)^2)/(n - d)^2 of what remains,
  searched in the first half of the series (later starts let the rule chase the noise of a short
  tail); a start in the last PINNED_SHARE of that range counts as pinned;
- the tests in the order of TESTS, on the energy, the flux and, when the energy is positive, its
  logarithm (in which a growth that ends in a burst still shows as a drift), with Z = 3 errors and
  MIN_TAU_WINDOWS = 20; the reason given is that of the earliest test that failed in any series.
"""
import numpy as np

RUNAWAY_RATE = 5.0
MIN_TAU_WINDOWS = 20.0
Z = 3.0
PINNED_SHARE = 0.9
LABELS = {"E": "energy E", "flux": "flux", "log E": "logarithm of the energy E"}


def autocorrelation(x):
    """Normalised autocorrelation rho(s), s = 0 .. n-1, of a series (through a zero-padded FFT)."""
    x = np.asarray(x, dtype=float) - np.mean(x)
    n = len(x)
    f = np.fft.rfft(x, 2 * n)
    acf = np.fft.irfft(f * np.conj(f))[:n]
    return acf / acf[0] if acf[0] > 0 else np.zeros(n)


def integrated_time(x, c=5.0):
    """(tau_int in samples, its error, window M) with Sokal's self-consistent window."""
    n = len(x)
    rho = autocorrelation(x)
    tau = 0.5
    m = 0
    for m in range(1, n):
        tau += rho[m]
        if m >= c * tau:
            break
    tau = max(tau, 0.5)
    return tau, tau * np.sqrt(2.0 * (2 * m + 1) / n), m


def mean_and_error(x):
    """Mean, its standard error through tau_int, tau_int (samples) and its error."""
    x = np.asarray(x, dtype=float)
    n = len(x)
    tau, tau_error, _ = integrated_time(x)
    return float(np.mean(x)), float(np.sqrt(2.0 * tau * np.var(x) / n)), float(tau), float(tau_error)


def first_runaway(t, x, grows=True):
    """Index of the first runaway record of the series x(t) (see the head), len(x) when none; only
    non-finite records count unless `grows` (the test of the growth is for a positive energy)."""
    x = np.asarray(x, dtype=float)
    t = np.asarray(t, dtype=float)
    bad = ~np.isfinite(x)
    if not grows:
        found = np.flatnonzero(bad)
        return int(found[0]) if len(found) else len(x)
    with np.errstate(divide="ignore", invalid="ignore", over="ignore"):
        limit = np.abs(x[:-1]) * np.exp(np.minimum(RUNAWAY_RATE * np.abs(np.diff(t)), 700.0))
        jump = np.abs(x[1:]) > limit
    bad[1:] |= jump & (np.abs(x[:-1]) > 0)
    found = np.flatnonzero(bad)
    return int(found[0]) if len(found) else len(x)


def mser_start(x):
    """(start, last): the index where the stationary part of x begins by MSER and the last start
    that was searched."""
    x = np.asarray(x, dtype=float)
    n = len(x)
    last = min(n // 2, n - 10)
    if last <= 0:
        return 0, 0
    # sum((rest - mean)^2) of every tail x[d:] from cumulative sums taken from the end
    tail = x[::-1]
    count = np.arange(1, n + 1)
    s1 = np.cumsum(tail)[::-1]
    s2 = np.cumsum(tail * tail)[::-1]
    count = count[::-1]
    spread = np.maximum(s2 - s1 * s1 / count, 0.0)
    value = spread[: last + 1] / count[: last + 1] ** 2
    return int(np.argmin(value)), last


def drift(t, x, tau):
    """(drift across the window of a straight-line fit, its error) with the sample count
    reduced by 2 tau (samples)."""
    t = np.asarray(t, dtype=float)
    x = np.asarray(x, dtype=float)
    n = len(x)
    tc = t - t.mean()
    sxx = np.sum(tc * tc)
    if n < 3 or sxx == 0:
        return 0.0, np.inf
    slope = np.sum(tc * (x - x.mean())) / sxx
    residual = x - x.mean() - slope * tc
    variance = np.sum(residual * residual) / (n - 2)
    error = np.sqrt(variance / sxx * max(2.0 * tau, 1.0))
    length = t[-1] - t[0]
    return float(slope * length), float(error * length)


# The tests by rank, as decide_window reports the one that failed.
TESTS = ("constant", "start", "halves", "drift", "length")


def window_tests(t, x, name, pinned=False):
    """The tests 0 and 2-4 of the head (1 is `pinned`) on the window x(t) of one series; returns
    (passed, reason, details, rank): the rank of the failed test in TESTS (-1 when all passed)."""
    t = np.asarray(t, dtype=float)
    x = np.asarray(x, dtype=float)
    name = LABELS.get(name, name)
    n = len(x)
    mean, error, tau, _ = mean_and_error(x)
    half = n // 2
    m1, e1, _, _ = mean_and_error(x[:half]) if half >= 2 else (mean, np.inf, tau, 0)
    m2, e2, _, _ = mean_and_error(x[half:]) if n - half >= 2 else (mean, np.inf, tau, 0)
    change, change_error = drift(t, x, tau)
    details = {"halves": [m1, m2], "halves_error": float(np.hypot(e1, e2)), "drift": change,
               "drift_error": change_error, "tau_windows": n / tau}
    if n and np.all(x == x[0]):
        what = "zero" if x[0] == 0 else f"{x[0]:.6g}"
        return False, (f"the {name} is {what} in all {n} outputs of the window: nothing fluctuates, there is no "
                       "turbulent state to average"), details, 0
    if pinned:
        return False, f"the {name} has not settled: its best start is at the end of the searched range", details, 1
    trend = "rises" if m2 > m1 else "falls"
    if abs(m2 - m1) > Z * np.hypot(e1, e2):
        return False, (f"the {name} still {trend} ({m1:.3g} → {m2:.3g} between the halves, "
                       f"{abs(m2 - m1) / np.hypot(e1, e2):.2g} combined errors)"), details, 2
    if abs(change) > Z * change_error:
        trend = "rises" if change > 0 else "falls"
        return False, (f"the {name} still {trend} (a drift of {change:.3g} ± {change_error:.2g} across the "
                       f"window)"), details, 3
    if n < MIN_TAU_WINDOWS * tau:
        return False, (f"the window holds {n / tau:.3g} autocorrelation times of the {name}, "
                       f"fewer than {MIN_TAU_WINDOWS:g}"), details, 4
    return True, "", details, -1


def decide_window(t, series, tested, first=None, last=None, energy="E"):
    """Choose and test a window.

    t: times; series: name -> values (same length as t); tested: the names whose window start
    and tests decide. first/last: indices of a window given by hand (None: automatic start and
    the end of the good records). The window always ends before the first runaway record: not
    finite in any series, or a growth of the series `energy` beyond the bound. Returns a dict:
    first, last (exclusive), end_of_good (the first runaway index), saturated, reason, failed (the
    name in TESTS of the test the reason belongs to, "" when saturated), tests (name -> details)."""
    t = np.asarray(t, dtype=float)
    good = min([first_runaway(t, np.asarray(v, dtype=float), grows=(name == energy)) for name, v in series.items()]
               + [len(t)])
    pinned = {}
    if first is None:
        starts = {}
        for name in tested:
            start, searched = mser_start(np.asarray(series[name], dtype=float)[:good])
            starts[name] = start
            pinned[name] = searched > 0 and start >= PINNED_SHARE * searched and start > 0
        first = max(starts.values()) if starts else 0
    end = good if last is None else min(last, good)
    result = {"first": int(first), "last": int(end), "end_of_good": int(good), "saturated": False,
              "reason": "", "failed": "", "tests": {}}
    if end - first < 4:
        result["reason"] = f"the window holds {max(end - first, 0)} outputs; at least 4 are needed"
        result["failed"] = "length"
        return result
    reasons = []
    windows = {name: np.asarray(series[name], dtype=float)[first:end] for name in tested}
    if energy in windows and np.all(windows[energy] > 0) and not np.all(windows[energy] == windows[energy][0]):
        windows["log " + energy] = np.log(windows[energy])
    for name, x in windows.items():
        passed, reason, details, rank = window_tests(t[first:end], x, name, pinned.get(name, False))
        result["tests"][name] = details
        if not passed:
            reasons.append((rank, reason))
    # The reason of the earliest test that failed in any series: a drift says more than a length.
    result["saturated"] = not reasons
    if reasons:
        rank, result["reason"] = min(reasons)
        result["failed"] = TESTS[rank]
    return result


def ensemble(means, errors):
    """Mean, spread (sample standard deviation, None for one member) and combined error of the
    mean over m members with their own errors e_i:
        error^2 = spread^2 / m + sum(e_i^2) / m^2
    The spread alone is unreliable for a few members (two seeds can agree by chance); the
    second term is the error of the mean if the members differed by their own noise only."""
    means = np.asarray(means, dtype=float)
    errors = np.asarray(errors, dtype=float)
    m = len(means)
    mean = float(np.mean(means))
    spread = float(np.std(means, ddof=1)) if m > 1 else None
    own = float(np.sum(errors ** 2)) / m ** 2
    error = float(np.sqrt((spread ** 2 / m if spread is not None else 0.0) + own))
    return mean, spread, error
