#!/usr/bin/python3
"""The analysis and movie scripts: error bars and correlation times recovered from synthetic
series of known statistics, the saturated-phase window, Parseval's identity of the spectra, and a
small run of the program whose field history opens with xarray, is analysed and filmed.

    tests/scripts/test_analyse.py TAVO_EXECUTABLE
"""
import importlib.machinery
import importlib.util
import json
import os
import shutil
import subprocess
import sys
import tempfile
import unittest

import numpy as np

TOP = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
TAVO = None


def load_script(name):
    path = os.path.join(TOP, "scripts", name)
    loader = importlib.machinery.SourceFileLoader(name, path)
    found = importlib.util.spec_from_loader(name, loader)
    module = importlib.util.module_from_spec(found)
    loader.exec_module(module)
    return module


analyse = load_script("analyse")


def ar1(rng, n, phi, mean, sigma=1.0):
    """An AR(1) series x[i+1] - mean = phi (x[i] - mean) + noise, started in its stationary law;
    its integrated autocorrelation time is (1 + phi) / (2 (1 - phi)) samples."""
    noise = rng.normal(0.0, sigma, n)
    x = np.empty(n)
    x[0] = noise[0] / np.sqrt(1 - phi * phi)
    for i in range(1, n):
        x[i] = phi * x[i - 1] + noise[i]
    return x + mean


class ErrorBars(unittest.TestCase):
    def test_mean_and_correlation_time_of_a_known_series(self):
        rng = np.random.default_rng(7)
        for phi in (0.0, 0.8, 0.95):
            tau_true = (1 + phi) / (2 * (1 - phi))
            mean, error, tau, tau_error = analyse.saturation.mean_and_error(ar1(rng, 40000, phi, 3.0))
            with self.subTest(phi=phi):
                self.assertLess(abs(mean - 3.0), 3 * error, f"mean {mean} ± {error}")
                self.assertLess(abs(tau - tau_true), 3 * tau_error, f"tau {tau} ± {tau_error}, true {tau_true}")
                # the stated error is that of an AR(1) mean: sqrt(2 tau var / n), var = 1/(1-phi^2)
                want = np.sqrt(2 * tau_true / (1 - phi * phi) / 40000)
                self.assertLess(abs(error / want - 1), 0.15, f"error {error}, expected {want}")

    def test_stated_error_is_the_spread_of_independent_means(self):
        rng = np.random.default_rng(11)
        results = [analyse.saturation.mean_and_error(ar1(rng, 2000, 0.9, -1.0)) for _ in range(300)]
        means = np.array([r[0] for r in results])
        stated = np.mean([r[1] for r in results])
        # 300 means give their spread to about 4 % (1/sqrt(2*300)); the estimator's bias for a
        # window of 5 tau_int is a few per cent
        self.assertLess(abs(stated / np.std(means) - 1), 0.15, f"stated {stated}, spread {np.std(means)}")


class Window(unittest.TestCase):
    def test_saturated_phase_starts_after_the_growth(self):
        rng = np.random.default_rng(3)
        growth = 1e-6 * np.exp(np.arange(60) * np.log(1e6) / 60)  # e-fold to saturation at index 60
        for phi in (0.0, 0.7):
            series = np.concatenate([growth, ar1(rng, 140, phi, 1.0, 0.05)])
            start, _ = analyse.saturation.mser_start(series)
            with self.subTest(phi=phi):
                self.assertGreaterEqual(start, 55)
                self.assertLessEqual(start, 80)


class Spectra(unittest.TestCase):
    def test_parseval_and_a_single_mode(self):
        rng = np.random.default_rng(5)
        for nx, ny, hy in ((32, 32, 0.5), (48, 16, 2.0)):
            field = rng.normal(size=(nx, ny))
            k, sums, ksums = analyse.shell_spectra(field, hy)
            with self.subTest(nx=nx, ny=ny):
                self.assertAlmostEqual(np.sum(sums) / np.mean(field ** 2), 1.0, places=12)
                self.assertEqual(len(k), len(sums))
            # a cos of amplitude A along y: all of A^2/2 sits in the shell of its wavenumber, and
            # the kinetic-energy spectrum is k^2 times it (the grid average of (dy f)^2)
            ly = ny / hy
            ky = 2 * np.pi * 3 / ly
            y = np.arange(ny) / hy
            mode = 0.7 * np.cos(ky * y)[None, :] * np.ones((nx, 1))
            k, sums, ksums = analyse.shell_spectra(mode, hy)
            shell = int(np.argmax(sums))
            self.assertAlmostEqual(k[shell], ky, places=12)
            self.assertAlmostEqual(sums[shell], 0.7 ** 2 / 2, places=12)
            self.assertAlmostEqual(ksums[shell], ky ** 2 * 0.7 ** 2 / 2, places=12)


class SmallRun(unittest.TestCase):
    """A 32 x 32 bath run of 30 outputs with a frame at every second output."""

    @classmethod
    def setUpClass(cls):
        cls.dir = tempfile.mkdtemp(prefix="tavo-analyse-")
        # The default example's physics on a small grid.
        sys.path.insert(0, os.path.join(TOP, "python"))
        from tavo.parameters import with_values
        with open(os.path.join(TOP, "examples", "default", "tavo.inp")) as base:
            text = with_values(base.read(), dict(diff=5e-3, ly=16.0, nx=32, ny=32, dt=0.02, itstp=10, itmax=300,
                                                 ntrace=0, b_plan=0, npar=1, nframe=2, nckpt=0))
        with open(os.path.join(cls.dir, "tavo.inp"), "w") as out:
            out.write(text)
        cls.run_result = subprocess.run([TAVO], cwd=cls.dir, capture_output=True, text=True, timeout=300)

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.dir, ignore_errors=True)

    def test_history_opens_with_xarray_and_describes_itself(self):
        import xarray as xr
        self.assertEqual(self.run_result.returncode, 0, self.run_result.stdout + self.run_result.stderr)
        with xr.open_dataset(os.path.join(self.dir, "tavo.nc")) as ds:
            self.assertEqual(dict(ds["ne"].sizes), {"time": 16, "x": 32, "y": 32})
            for name in list(ds.data_vars) + list(ds.coords):
                self.assertIn("units", ds[name].attrs, name)
                self.assertIn("long_name", ds[name].attrs, name)
            self.assertEqual(ds.attrs["program"], "tavo")
            self.assertEqual(ds.attrs["nframe"], 2)
            self.assertEqual(ds.attrs["ly"], 16.0)
            np.testing.assert_allclose(ds["x"].values[1], 0.5)
            eng = np.loadtxt(os.path.join(self.dir, "eng.dat"))
            np.testing.assert_allclose(ds["E"].values, eng[:, 4], rtol=1e-6)

    def test_analysis_writes_the_summary(self):
        done = subprocess.run([sys.executable, os.path.join(TOP, "scripts", "analyse"), self.dir],
                              capture_output=True, text=True, timeout=300)
        self.assertEqual(done.returncode, 0, done.stdout + done.stderr)
        with open(os.path.join(self.dir, "summary.json")) as f:
            summary = json.load(f)
        self.assertEqual(summary["program"], "tavo")
        self.assertEqual(set(summary["window"]), {"t_start", "t_end", "method"})
        self.assertEqual(set(summary["quantities"]), {"flux", "enn", "E_K", "E", "EZ_over_EK"})
        eng = np.loadtxt(os.path.join(self.dir, "eng.dat"))
        inside = (eng[:, 0] >= summary["window"]["t_start"]) & (eng[:, 0] <= summary["window"]["t_end"])
        self.assertAlmostEqual(summary["quantities"]["E_K"]["mean"] / np.mean(eng[inside, 2]), 1.0, places=12)
        for q in summary["quantities"].values():
            self.assertGreater(q["error"], 0.0)
            self.assertEqual(set(q) >= {"mean", "error", "long_name", "units"}, True)
        for name, p in summary["spectra"]["parseval"].items():
            self.assertAlmostEqual(p["sum_spectrum"] / p["grid_mean_square"], 1.0, places=6, msg=name)
        self.assertTrue(os.path.isfile(os.path.join(self.dir, "plots", "spectra_time_averaged.png")))

    def test_analysis_refuses_what_it_cannot_use(self):
        empty = tempfile.mkdtemp(prefix="tavo-analyse-empty-")
        try:
            for args in ([os.path.join(empty, "missing")], [empty], [self.dir, "--tmin", "1e9"]):
                done = subprocess.run([sys.executable, os.path.join(TOP, "scripts", "analyse")] + args,
                                      capture_output=True, text=True, timeout=300)
                with self.subTest(args=args):
                    self.assertEqual(done.returncode, 1)
                    self.assertTrue(done.stderr.startswith("| analyse: "), done.stderr)
        finally:
            shutil.rmtree(empty, ignore_errors=True)

    def test_movie_has_a_picture_per_frame(self):
        done = subprocess.run([sys.executable, os.path.join(TOP, "scripts", "movie"), self.dir, "--fps", "5"],
                              capture_output=True, text=True, timeout=300)
        self.assertEqual(done.returncode, 0, done.stdout + done.stderr)
        probe = subprocess.run(["ffprobe", "-v", "error", "-count_frames", "-select_streams", "v:0", "-show_entries",
                                "stream=nb_read_frames", "-of", "csv=p=0", os.path.join(self.dir, "movie.mp4")],
                               capture_output=True, text=True, timeout=120)
        self.assertEqual(probe.stdout.strip(), "16")


if __name__ == "__main__":
    if len(sys.argv) < 2:
        sys.exit("usage: tests/scripts/test_analyse.py TAVO_EXECUTABLE")
    TAVO = os.path.abspath(sys.argv.pop(1))
    unittest.main(verbosity=2)
