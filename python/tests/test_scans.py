"""A small scan made by scripts/scan, opened with open_scan; a scan of values the program refuses."""
import json
import os
import subprocess
import sys

import numpy as np
import pytest

from conftest import TOP, small_parameters
import tavo
import tavo.scans

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
    assert bool(ds["saturated"].sel(chat=1.0, iseed=2)) == summary["saturated"]
    assert str(ds["reason"].sel(chat=1.0, iseed=2).values) == summary.get("reason", "")
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


def record(tmp_path, groups, points):
    out = tmp_path / "out"
    out.mkdir()
    names = [n for g in groups for n in g]
    (out / "scan.json").write_text(json.dumps({"base_text": small_parameters(), "parameters": names, "groups": groups,
                                               "points": [{"dir": d, "values": v} for d, v in points]}))
    for d, _ in points:
        (out / d).mkdir()
        (out / d / "summary.json").write_text(json.dumps(
            {"saturated": True, "quantities": {q: {"mean": float(len(d)), "error": 0.1}
                                               for q in ("flux", "enn", "E_K", "E", "EZ_over_EK")}}))
    return out


def test_paired_lists_are_one_dimension_with_their_partners_along_it(tmp_path):
    out = record(tmp_path, [["chat", "dt"], ["iseed"]],
                 [(f"chat_{c}_dt_{t}_iseed_{s}", {"chat": c, "dt": t, "iseed": s})
                  for c, t in (("2", "0.005"), ("0.5", "0.01")) for s in ("1", "2")])
    ds = tavo.open_scan(out)
    assert ds["flux"].dims == ("chat", "iseed")
    assert list(ds["chat"].values) == [0.5, 2.0] and list(ds["dt"].values) == [0.01, 0.005]
    assert ds["dt"].dims == ("chat",)
    seeds = tavo.scans.ensemble(ds)
    assert seeds["flux"].dims == ("chat",) and list(seeds["seeds"].values) == [2, 2]


def test_a_record_of_two_points_of_one_run_is_refused(tmp_path):
    out = record(tmp_path, [["chat"]], [("chat_0.5", {"chat": "0.5"}), ("chat_5e-1", {"chat": "5e-1"})])
    with pytest.raises(tavo.scans.ScanError, match="the points chat=0.5 and chat=5e-1 are the same run"):
        tavo.open_scan(out)


@pytest.mark.parametrize("value, error, text", [
    (0.9137, 0.0174, "0.914(17)"), (3.1628, 0.0598, "3.16(6)"), (0.52, 0.0996, "0.52(10)"),
    (0.523, 0.0296, "0.52(3)"), (123.4, 12.3, "123(12)"), (12345.0, 340.0, "12300(300)"),
    (-1.5e-7, 2.3e-9, "-1.500(23)e-7"), (2.0e6, 3.0e4, "2.00(3)e6"), (0.605, 0.0, "0.605"),
    (float("nan"), 0.1, "–")])
def test_values_with_their_errors_as_a_paper_writes_them(value, error, text):
    from tavo.scans.tables import with_error
    assert with_error(value, error) == text


def test_units_in_proper_notation():
    from tavo.scans.tables import units
    assert units("n0 c_s rho_s^2/L_perp^2") == "n₀ cₛ ρₛ²/L⊥²"
    assert units("n0 c_s rho_s^2/L_perp^2", tex=True) == r"n_0\,c_s\,\rho_s^{2}/L_\perp^{2}"
    assert units("rho_s^2p c_s/L_perp") == "ρₛ²ᵖ cₛ/L⊥" and units("1") == ""
