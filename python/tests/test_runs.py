"""open_run on a small real run: with and without the field history, every output file on its named
dimensions with units, a damaged history trimmed or left out with a note, the NaN padding of an
unfinished run, summary.json."""
import json
import os
import shutil

import numpy as np
import pytest

from tavo.analysis import write_summary
from tavo.parameters import read_parameters
from tavo.runs import FRAME_FIELDS, GAMMA, PROFILES, SERIES, SNAPSHOTS, SPECTRA, TRACES, ZONAL, RunError
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
        assert "summary" not in ds.attrs and ds.attrs["notes"] == []
        assert ds.sizes["gamma_time"] == 8  # gamma.dat starts at the third output
        assert ds.attrs["status"]["state"] == "finished" and ds.attrs["status"]["t"] == pytest.approx(2.0)


def test_every_output_file_on_named_dimensions_with_units(small_run):
    """Each variable on the dimension of its file; positions shared with the history, the
    spectra's axes as the files give them (k_x turned into the true k_x), the zonal flow one
    profile per output."""
    with tavo.open_run(small_run) as ds:
        dims = {"xprof.dat": ("x",), "pky_p.dat": ("ky",), "pky_n.dat": ("ky",), "pky_w.dat": ("ky",),
                "pky_e.dat": ("ky",), "pkx_p.dat": ("kx",), "gamma.dat": ("gamma_time",)}
        for file, _, name, long_name, units in GAMMA + PROFILES + SPECTRA:
            assert ds[name].dims == dims[file] and ds[name].attrs["units"] == units, name
            assert f"({file} column" in long_name
        for file, name, _, units in SNAPSHOTS:
            assert ds[name].dims == ("x", "y") and ds[name].attrs["units"] == units, name
        assert ds[ZONAL[1]].dims == ("zonal_time", "x") and ds.sizes["zonal_time"] == 10
        for name in ("x", "y", "ky", "kx", "series_time", "zonal_time", "time"):
            assert ds[name].attrs["units"], name
        # the last snapshot is the last frame (frames at every second output, ten outputs)
        assert np.allclose(ds["snapshot_ne"].values, ds["ne"].isel(time=-1).values, rtol=1e-5, atol=1e-9)
        xprof = np.loadtxt(os.path.join(small_run, "xprof.dat"))
        assert np.allclose(ds["x"].values, xprof[:, 0], atol=1e-6)
        zfx = np.loadtxt(os.path.join(small_run, "zfx.dat"))
        assert np.array_equal(ds["zonal_flow"].values.ravel(), zfx[:, 2])
        pkx = np.loadtxt(os.path.join(small_run, "pkx_p.dat"))
        assert np.allclose(ds["kx"].values, pkx[:, 0] * 32 / 32)
        assert ds["ky"].values[0] == pytest.approx(2 * np.pi / 16, rel=1e-6)  # 2 pi/ly
        assert not any(name in ds for _, _, name, _, _ in TRACES)  # ntrace 0: no probes


def test_without_history_the_text_series_give_the_same(small_run, run_copy):
    os.remove(run_copy / "tavo.nc")
    with tavo.open_run(small_run) as full:
        text = tavo.open_run(run_copy)
        np.testing.assert_allclose(text["series_time"].values, full["series_time"].values, rtol=1e-9)
        for _, _, name, _, units in SERIES:
            np.testing.assert_allclose(text[name].values, full[name].values, rtol=2e-6, atol=1e-300)
            assert text[name].attrs["units"] == units
        assert text.attrs["nx"] == 32 and "ne" not in text
        assert np.array_equal(text["x"].values, full["x"].values)


def test_the_nan_padding_of_an_unfinished_run_is_dropped(run_copy):
    # A killed run leaves the entries it never wrote as the _FillValue NaN; without the text files
    # the series come from the history.
    import netCDF4
    for name in ("eng.dat", "eng-transfer.dat", "fne.dat"):
        os.remove(run_copy / name)
    with netCDF4.Dataset(run_copy / "tavo.nc", "a") as nc:
        for name in ["series_time"] + [s[2] for s in SERIES]:
            nc[name][7:] = np.nan
    with tavo.open_run(run_copy) as ds:
        assert ds.sizes["series_time"] == 7
        assert np.all(np.isfinite(ds["flux"].values))


def history_record(run):
    """Bytes of one frame of the history and the offset where the frames begin."""
    size = os.path.getsize(run / "tavo.nc")
    record = 8 + 4 * 4 * 32 * 32
    return record, size - 6 * record


@pytest.mark.parametrize("cut, frames, says", [
    ("inside the header", None, '"tavo.nc" cannot be read'),
    ("in the middle", 3, '"tavo.nc" is cut short: its size holds at most 3 of the 6 frames'),
    ("inside the last frame", 5, '"tavo.nc" is cut short: its size holds at most 5 of the 6 frames'),
    ("a few bytes before its end", 5, 'the last frame of "tavo.nc" (t = 2) is damaged'),
])
def test_a_history_cut_short_is_trimmed_with_a_note(run_copy, cut, frames, says):
    record, begin = history_record(run_copy)
    size = {"inside the header": 500, "in the middle": begin + 3 * record + record // 3,
            "inside the last frame": begin + 5 * record + record // 2,
            "a few bytes before its end": begin + 6 * record - 8}[cut]
    os.truncate(run_copy / "tavo.nc", size)
    with tavo.open_run(run_copy) as ds:
        assert any(says in line for line in ds.attrs["notes"]), ds.attrs["notes"]
        assert ds.sizes.get("time", None) == frames
        assert ds.sizes["series_time"] == 10  # the text files hold every output
        if frames:
            for name in FRAME_FIELDS:
                assert np.all(ds[name].isel(time=-1).values != 0), name
    summary = tavo.analyse(run_copy)  # the analysis takes what is sound, no error
    assert summary.get("spectra", {}).get("frames", 0) <= (frames or 0)


def test_frames_that_are_not_of_the_series_are_left_out(run_copy):
    import netCDF4
    with netCDF4.Dataset(run_copy / "tavo.nc", "a") as nc:
        nc["time"][4] = 1.7  # no output time (outputs every 0.2)
    with tavo.open_run(run_copy) as ds:
        assert ds.sizes["time"] == 4
        assert any("(t = 1.7) is at no output time of the series" in line for line in ds.attrs["notes"])


def test_text_files_that_cannot_be_read_are_refused(run_copy):
    (run_copy / "fne.dat").write_bytes(b"\x00" * 100)
    with pytest.raises(RunError, match=r'^\| "fne.dat" is not a text table: byte 0'):
        tavo.open_run(run_copy)


def test_the_summary_and_its_parameters(run_copy):
    summary = tavo.analyse(run_copy)
    write_summary(run_copy, summary)
    assert summary["parameters"] == read_parameters(run_copy)
    assert isinstance(summary["parameters"]["itmax"], int)
    with tavo.open_run(run_copy) as ds:
        assert ds.attrs["summary"]["quantities"]["flux"]["mean"] == summary["quantities"]["flux"]["mean"]
    assert json.loads((run_copy / "summary.json").read_text())["verdict"] == summary["verdict"]


def test_a_run_of_probes_has_its_traces(tavo_exe, tmp_path):
    from conftest import run_tavo
    shutil.copy(os.path.join(os.path.dirname(__file__), "..", "..", "tests", "reference-runs", "blob_small",
                             "tavo.inp"), tmp_path)
    assert run_tavo(tavo_exe, tmp_path).returncode == 0
    with tavo.open_run(tmp_path) as ds:
        assert ds["probe_ne"].dims == ("trace_time",) and ds.sizes["trace_time"] == 10  # 40 steps / 4
        assert ds["probe_spectrum_phi"].dims == ("frequency",)
        assert ds["frequency"].attrs["units"] == "c_s/L_perp"
