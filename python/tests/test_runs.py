"""open_run on a small real run: with and without the field history, unfinished, with and
without summary.json."""
import json
import os
import subprocess
import sys

import numpy as np

from conftest import TOP
from tavo.parameters import read_parameters
from tavo.runs import SERIES
import tavo


def test_a_run_with_its_history(small_run):
    with tavo.open_run(small_run) as ds:
        assert ds.sizes["x"] == 32 and ds.sizes["y"] == 32 and ds.sizes["time"] == 6  # frames at 0, 2, ... 10
        assert set(ds["ne"].dims) == {"time", "x", "y"}
        assert ds.sizes["series_time"] == 10
        # The package's series table is the history's: names, units, long names.
        for _, _, name, long_name, units in SERIES:
            assert ds[name].attrs["units"] == units and ds[name].attrs["long_name"] == long_name, name
            assert np.all(np.isfinite(ds[name].values)), name
        assert ds.attrs["nx"] == 32 and isinstance(ds.attrs["nx"], int)
        assert ds.attrs["dt"] == 0.02 and ds.attrs["nckpt"] == 0
        assert "summary" not in ds.attrs
        assert ds.sizes["gamma_time"] == 8  # gamma.dat starts at the third output


def test_without_history_the_text_series_give_the_same(small_run, run_copy):
    os.remove(run_copy / "tavo.nc")
    with tavo.open_run(small_run) as full:
        text = tavo.open_run(run_copy)
        np.testing.assert_allclose(text["series_time"].values, full["series_time"].values, rtol=1e-9)
        for _, _, name, _, units in SERIES:
            np.testing.assert_allclose(text[name].values, full[name].values, rtol=2e-6, atol=1e-300)
            assert text[name].attrs["units"] == units
        assert text.attrs["nx"] == 32 and "ne" not in text


def test_the_nan_padding_of_an_unfinished_run_is_dropped(run_copy):
    # A killed run leaves the entries it never wrote as the _FillValue NaN.
    import netCDF4
    with netCDF4.Dataset(run_copy / "tavo.nc", "a") as nc:
        for name in ["series_time"] + [s[2] for s in SERIES]:
            nc[name][7:] = np.nan
    with tavo.open_run(run_copy) as ds:
        assert ds.sizes["series_time"] == 7
        assert np.all(np.isfinite(ds["flux"].values))


def test_the_summary_and_its_parameters(run_copy):
    done = subprocess.run([sys.executable, os.path.join(TOP, "scripts", "analyse"), str(run_copy), "--no-plot"],
                          capture_output=True, text=True, timeout=300)
    assert done.returncode == 0, done.stdout + done.stderr
    with open(run_copy / "summary.json") as f:
        summary = json.load(f)
    assert summary["parameters"] == read_parameters(run_copy)
    assert isinstance(summary["parameters"]["itmax"], int)
    with tavo.open_run(run_copy) as ds:
        assert ds.attrs["summary"]["quantities"]["flux"]["mean"] == summary["quantities"]["flux"]["mean"]
