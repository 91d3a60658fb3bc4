"""A small scan made by scripts/scan, opened with open_scan; a scan of values the program refuses."""
import json
import os
import subprocess
import sys

import numpy as np
import pytest

from conftest import TOP, small_parameters
import tavo

SCAN = os.path.join(TOP, "scripts", "scan")


@pytest.fixture(scope="module")
def scan(tavo_exe, tmp_path_factory):
    top = tmp_path_factory.mktemp("scan")
    (top / "base").mkdir()
    (top / "base" / "tavo.inp").write_text(small_parameters(itmax=200, nframe=0))
    done = subprocess.run([sys.executable, SCAN, "-j", "2", "--tavo", tavo_exe, str(top / "base"), str(top / "out"),
                           "chat=0.5,1", "iseed=1..2"], capture_output=True, text=True, timeout=600)
    assert done.returncode == 0, done.stdout + done.stderr
    return top / "out"


def test_the_scanned_values_are_dimensions_with_every_quantity_and_its_error(scan):
    ds = tavo.open_scan(scan)
    assert ds["flux"].dims == ("chat", "iseed")
    assert list(ds["chat"].values) == [0.5, 1.0] and list(ds["iseed"].values) == [1, 2]
    for name in ("flux", "enn", "E_K"):
        assert np.all(np.isfinite(ds[name].values)) and np.all(ds[name + "_error"].values > 0), name
    with open(scan / "chat_1_iseed_2" / "summary.json") as f:
        summary = json.load(f)
    assert ds["flux"].sel(chat=1.0, iseed=2) == summary["quantities"]["flux"]["mean"]
    assert summary["parameters"]["chat"] == 1.0 and summary["parameters"]["iseed"] == 2
    assert ds.attrs["missing"] == []


def test_points_record_their_values_as_numbers(scan):
    with open(scan / "chat_0.5_iseed_1" / "point.json") as f:
        assert json.load(f) == {"chat": 0.5, "iseed": 1}


def test_a_point_without_summary_is_missing(scan, tmp_path):
    import shutil
    copy = tmp_path / "out"
    shutil.copytree(scan, copy)
    os.remove(copy / "chat_0.5_iseed_2" / "summary.json")
    ds = tavo.open_scan(copy)
    assert np.isnan(ds["flux"].sel(chat=0.5, iseed=2)) and np.isfinite(ds["flux"].sel(chat=0.5, iseed=1))
    assert ds.attrs["missing"] == ["chat_0.5_iseed_2"]


def test_a_scan_of_values_the_program_refuses_makes_nothing(tavo_exe, tmp_path):
    (tmp_path / "base").mkdir()
    (tmp_path / "base" / "tavo.inp").write_text(small_parameters())
    done = subprocess.run([sys.executable, SCAN, "--tavo", tavo_exe, str(tmp_path / "base"), str(tmp_path / "out"),
                           "dt=0.01,0"], capture_output=True, text=True, timeout=60)
    assert done.returncode == 1
    assert done.stderr.startswith("| point dt_0: dt = 0 (value 12)"), done.stderr
    assert not (tmp_path / "out").exists()
