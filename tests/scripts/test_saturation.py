"""Saturation decided, not assumed: synthetic series with known answers through
python/tavo/saturation.py, and real short runs of the program through scripts/analyse (a run
that has not saturated, a run that blows up late).

    python3 -m pytest tests/scripts/test_saturation.py      (TAVO: the program, for the runs)
"""
import json
import os
import shutil
import subprocess
import sys

import numpy as np
import pytest

TOP = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
sys.path.insert(0, os.path.join(TOP, "python"))
from tavo import saturation  # noqa: E402
from tavo.parameters import with_values  # noqa: E402


def ar1(rng, n, phi, mean, sigma):
    """AR(1) around mean with stationary standard deviation sigma; tau_int = (1+phi)/(2(1-phi))."""
    noise = rng.normal(0.0, sigma * np.sqrt(1 - phi * phi), n)
    x = np.empty(n)
    x[0] = rng.normal(0.0, sigma)
    for i in range(1, n):
        x[i] = phi * x[i - 1] + noise[i]
    return x + mean


def decide(flux, energy, t=None):
    t = np.arange(1, len(flux) + 1, dtype=float) if t is None else t
    return saturation.decide_window(t, {"E": energy, "flux": flux}, ["E", "flux"])


# name, flux, energy, saturated, (lowest, highest) start index, true mean of the flux window
def cases():
    rng = np.random.default_rng(2024)
    n = 600
    stationary = ar1(rng, n, 0.8, 0.6, 0.05), ar1(rng, n, 0.8, 4.0, 0.2)
    growth = np.exp(np.linspace(np.log(1e-6), 0, 100))
    overshoot = 1 + 1.5 * np.exp(-np.arange(60) / 15.0)  # overshoot decaying after the growth
    grown = (np.concatenate([0.6 * growth, 0.6 * overshoot, ar1(rng, n - 160, 0.8, 0.6, 0.05)]),
             np.concatenate([4.0 * growth, 4.0 * overshoot, ar1(rng, n - 160, 0.8, 4.0, 0.2)]))
    drift = 1.0 - 0.4 * np.arange(n) / n  # falls by 40 % and never settles, like an unsaturated flux
    drifting = drift * ar1(rng, n, 0.8, 0.6, 0.05), drift * ar1(rng, n, 0.8, 4.0, 0.2)
    outlier = stationary[0].copy(), stationary[1].copy()
    outlier[0][450] += 10 * 0.05  # a ten-sigma spike in the window
    return [("stationary from the start", *stationary, True, (0, 60), 0.6),
            ("growth and overshoot, then stationary", *grown, True, (160, 260), 0.6),
            ("a slow drift that never settles", *drifting, False, None, None),
            ("a single outlier", *outlier, True, (0, 60), 0.6)]


@pytest.mark.parametrize("name, flux, energy, saturated, starts, true_mean", cases(), ids=[c[0] for c in cases()])
def test_synthetic_series(name, flux, energy, saturated, starts, true_mean):
    decision = decide(flux, energy)
    assert decision["saturated"] == saturated, decision["reason"]
    assert (decision["reason"] == "") == saturated
    if starts:
        assert starts[0] <= decision["first"] <= starts[1]
        assert decision["last"] == len(flux)
        mean, error, _, _ = saturation.mean_and_error(flux[decision["first"]:])
        assert abs(mean - true_mean) < 3 * error
    else:
        assert "still falls" in decision["reason"] or "not settled" in decision["reason"], decision["reason"]


def test_the_window_ends_before_a_blow_up():
    rng = np.random.default_rng(5)
    flux, energy = ar1(rng, 400, 0.8, 0.6, 0.05), ar1(rng, 400, 0.8, 4.0, 0.2)
    t = np.arange(1, 401, dtype=float)
    # a late blow-up: 4 -> 16 (within the bound e^5 of one time unit) -> 1e86 -> inf
    energy[380:383] = [16.0, 1e86, np.inf]
    flux[383:] = np.nan
    flux[100] = -flux[99] * 1e3  # the flux may change sign and size: only its finiteness counts
    assert saturation.first_runaway(t, energy) == 381
    assert saturation.first_runaway(t, flux, grows=False) == 383
    decision = decide(flux, energy, t)
    assert decision["end_of_good"] == 381 and decision["last"] == 381
    # a growth by e^5 per time unit is the bound; the growth of a linear phase stays far below
    assert saturation.first_runaway(t[:3], np.array([1.0, np.exp(4.9), np.exp(4.9 * 2)])) == 3
    assert saturation.first_runaway(t[:2], np.array([1.0, np.exp(5.1)])) == 1
    assert saturation.first_runaway(t[:3] / 10, np.array([1.0, np.exp(0.51), 1.0])) == 1


def test_too_short_a_window_is_not_saturated():
    rng = np.random.default_rng(9)
    decision = decide(ar1(rng, 60, 0.95, 0.6, 0.05), ar1(rng, 60, 0.95, 4.0, 0.2))
    assert not decision["saturated"] and decision["reason"]


def test_ensemble_error_combines_the_spread_and_the_runs_errors():
    mean, spread, error = saturation.ensemble([0.60, 0.61], [0.025, 0.022])
    assert mean == pytest.approx(0.605)
    assert spread == pytest.approx(0.01 / np.sqrt(2))
    assert error == pytest.approx(np.sqrt(spread ** 2 / 2 + (0.025 ** 2 + 0.022 ** 2) / 4))
    assert error > 0.0165  # not the spread's 0.005 alone
    mean, spread, error = saturation.ensemble([0.7], [0.03])
    assert (mean, spread, error) == (0.7, None, pytest.approx(0.03))
    # many members that differ only by their own noise: the combined error is about sqrt(2) times
    # the error of the mean, never below it
    rng = np.random.default_rng(1)
    means = rng.normal(1.0, 0.1, 400)
    _, _, error = saturation.ensemble(means, np.full(400, 0.1))
    assert error == pytest.approx(np.sqrt(2) * 0.1 / 20, rel=0.1)


# ---- real short runs ----

TAVO = os.environ.get("TAVO", os.path.join(TOP, "build", "tavo"))


def run_tavo(directory, **values):
    """A cold-ion Hasegawa-Wakatani run, 32 x 32, to t = 20 (the values by name, through the
    package's parameter writer on the default example's file)."""
    base = dict(nx=32, ny=32, ly=41.8879, dt=0.02, itstp=50, itmax=1000, ntrace=0, nframe=0, nckpt=10,
                chat=-1.0, taui=0.0, delta=1.0, diff=2e-3, ihype=2, ipade=0, vorfree=0,
                incon=1, sigma=1.0, amp=0.5, iseed=0, b_plan=0, npar=1)
    base.update(values)
    with open(os.path.join(TOP, "examples", "default", "tavo.inp")) as f:
        text = with_values(f.read(), base)
    with open(os.path.join(directory, "tavo.inp"), "w") as f:
        f.write(text)
    return subprocess.run([TAVO], cwd=directory, capture_output=True, text=True, timeout=300)


def analyse(directory, *args):
    return subprocess.run([sys.executable, os.path.join(TOP, "scripts", "analyse"), directory, "--no-plot", *args],
                          capture_output=True, text=True, timeout=300)


@pytest.fixture
def workdir(tmp_path):
    if not os.access(TAVO, os.X_OK):
        pytest.skip(f"no program {TAVO}")
    return str(tmp_path)


def test_a_run_still_in_its_growth_is_not_saturated(workdir):
    # C = 1 from a weak bath, to t = 20: the drift waves are still growing
    done = run_tavo(workdir, amp=1e-3, dt=0.02, itstp=25, itmax=1000)
    assert done.returncode == 0, done.stdout + done.stderr
    done = analyse(workdir)
    assert done.returncode == 0, done.stderr
    summary = json.load(open(os.path.join(workdir, "summary.json")))
    assert summary["saturated"] is False
    assert summary["reason"]
    # The verdict, on standard output and in the summary: too short, with the time to run to.
    assert summary["verdict"].startswith("not saturated: the run is too short for its initial transient (the ")
    assert "by t = 20): run to t ≳ " in summary["verdict"] and summary["verdict"].endswith("continue it (incon 2)")
    assert f"| {summary['verdict']}\n" in done.stdout
    # a window by hand is taken and said to be, and still tested
    done = analyse(workdir, "--tmin", "10")
    assert done.returncode == 0, done.stderr
    summary = json.load(open(os.path.join(workdir, "summary.json")))
    assert summary["window"]["method"].startswith("given by hand")
    assert summary["window"]["t_start"] == pytest.approx(10.0)
    assert summary["saturated"] is False


def test_a_late_blow_up_is_stopped_and_never_averaged(workdir):
    # warm ions, C = 0.1 with dt above the coupling's limit (0.09): grows from the bath for 16
    # time units, then runs away within two outputs
    blow_up = dict(chat=0.1, taui=1.0, diff=5e-4, ly=64.0, nx=64, ny=64, dt=0.1, itstp=10, itmax=3000, nckpt=1,
                   nframe=1)
    done = run_tavo(workdir, **blow_up)
    assert done.returncode == 1, done.stdout + done.stderr
    assert "\n|TAVO CRASHED!  enn=" in done.stdout
    assert "| the energy ran away: E_K + enn grew from " in done.stderr
    # the advice is a dt a user can take: the rates of the last good output
    cause = [line for line in done.stderr.splitlines() if line.startswith("| likely cause: ")]
    assert len(cause) == 1 and "the parallel coupling" in cause[0], done.stderr
    assert float(cause[0].split("dt below ")[1].split()[0]) == pytest.approx(0.09)
    # the series end with the last good output, which the checkpoint holds: finite, no blow-up
    eng = np.loadtxt(os.path.join(workdir, "eng.dat"))
    assert np.all(np.isfinite(eng)) and eng[-1, 4] < 100
    restart = open(os.path.join(workdir, "restart.dat")).read().split()
    assert float(restart[0]) == pytest.approx(eng[-1, 0])
    assert np.all(np.isfinite(np.array(restart[3:], dtype=float)))
    assert np.max(np.abs(np.array(restart[3:], dtype=float))) < 1e3
    # the field history ends with the same output, every value finite
    import netCDF4
    with netCDF4.Dataset(os.path.join(workdir, "tavo.nc")) as ds:
        assert float(ds["time"][-1]) == pytest.approx(eng[-1, 0])
        written = np.ma.filled(ds["series_time"][:].astype(float), np.nan)
        written = np.isfinite(written)  # the entries the run wrote; the rest stays at the fill value
        assert float(ds["series_time"][:][written][-1]) == pytest.approx(eng[-1, 0])
        energy = np.ma.filled(ds["E"][:].astype(float), np.nan)[written]
        assert np.all(np.isfinite(energy)) and np.all(np.isfinite(ds["ne"][-1]))
    # analyse takes no blow-up record: a finite summary
    done = analyse(workdir)
    assert done.returncode == 0, done.stderr
    summary = json.loads(open(os.path.join(workdir, "summary.json")).read(), parse_constant=lambda c: 1 / 0)
    assert all(np.isfinite(q["mean"]) and np.isfinite(q["error"]) for q in summary["quantities"].values())
    assert summary["window"]["t_end"] == pytest.approx(eng[-1, 0])


def test_analyse_refuses_a_window_over_a_blow_up(workdir):
    # the series of an older run that wrote its blow-up: a window by hand over it is refused, the
    # automatic window ends before it
    t = np.arange(1, 101, dtype=float)
    energy = np.full(100, 4.0) + 0.1 * np.sin(t)
    energy[95:] = [1e3, 1e86, np.inf, np.inf, np.nan]
    np.savetxt(os.path.join(workdir, "eng.dat"), np.column_stack([t, energy / 2, energy / 2, 0.01 * energy,
                                                                   energy, np.full(100, 0.1)]))
    np.savetxt(os.path.join(workdir, "fne.dat"), np.column_stack([t, 0.6 + 0.05 * np.cos(t)]))
    done = analyse(workdir, "--tmin", "50")
    assert done.returncode == 1
    assert done.stderr.startswith("| analyse: the window t = 50 … 100 holds records of a blow-up from t = 96 on")
    assert not os.path.exists(os.path.join(workdir, "summary.json"))
    done = analyse(workdir)
    assert done.returncode == 0, done.stderr
    assert "| note: the records from t = 96 on belong to a blow-up" in done.stderr
    summary = json.load(open(os.path.join(workdir, "summary.json")))
    assert summary["window"]["t_end"] == 95


@pytest.mark.skipif(shutil.which("ffmpeg") is None, reason="ffmpeg is not installed")
def test_movie_ends_before_frames_that_are_not_finite(tmp_path):
    import xarray as xr
    from tavo.runs import _spectral_laplacian

    def history(field):
        # A history of four frames whose vorticity is the Laplacian of phi, as the program's
        vorticity = np.array([_spectral_laplacian(f, 2.0) for f in field])
        coords = {"time": [1.0, 2.0, 3.0, 4.0], "x": np.arange(8) * 0.5, "y": np.arange(6) * 0.5}
        fields = {name: (("time", "x", "y"), values) for name, values in
                  (("ne", field), ("ni", field), ("phi", field), ("vorticity", vorticity))}
        xr.Dataset(fields, coords=coords).to_netcdf(tmp_path / "tavo.nc", format="NETCDF3_64BIT")

    field = np.random.default_rng(3).normal(size=(4, 8, 6))
    field[2, 3, 3] = np.inf
    history(field)
    done = subprocess.run([sys.executable, os.path.join(TOP, "scripts", "movie"), str(tmp_path)],
                          capture_output=True, text=True, timeout=300)
    assert done.returncode == 0, done.stderr
    assert "| movie: the frames from t = 3 on are not finite (a blow-up): the film ends before them" in done.stderr
    assert "| movie of 2 frames" in done.stdout
    field[0, 0, 0] = np.nan
    history(field)
    done = subprocess.run([sys.executable, os.path.join(TOP, "scripts", "movie"), str(tmp_path)],
                          capture_output=True, text=True, timeout=300)
    assert done.returncode == 1 and done.stderr.startswith("| movie: the first frame (t = 1) is not finite")
