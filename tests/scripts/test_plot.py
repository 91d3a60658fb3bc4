"""tavo.plots and scripts/plot: the pictures of a run.

The input is the complete output of a small run (tests/reference-runs/blob_small: 16 x 16 blob, 40
steps, probe traces every 4 steps) computed by an independent implementation of the model, so
every file the pictures read is present in its exact format. A picture counts as drawn when it is a
PNG file (signature and IHDR chunk) of a readable size; missing inputs are skipped with a "|" note
and exit status 0; a missing run directory fails with a "|" message.

    python3 -m pytest tests/scripts/test_plot.py
"""
import os
import shutil
import struct

import numpy as np
import pytest
from matplotlib.figure import Figure

from conftest import TOP, command
from tavo.plots import field_map

REFERENCE = os.path.join(TOP, "tests", "reference-runs", "blob_small")
PICTURES = ["density", "potential", "vorticity", "nonadiabatic", "energy", "flux", "transfer", "growth",
            "spectrum_ky_potential", "spectrum_ky_density", "spectrum_ky_vorticity", "spectrum_ky_energy",
            "spectrum_kx_potential", "zonal_flow", "zonal_flow_map", "profiles", "probe_trace", "probe_spectra",
            "overview"]


@pytest.fixture
def reference_run(tmp_path):
    run = tmp_path / "run"
    shutil.copytree(os.path.join(REFERENCE, "expected"), run)
    shutil.copy(os.path.join(REFERENCE, "tavo.inp"), run)
    return run


def png_size(path):
    """(width, height) of a PNG file: its eight signature bytes, then the IHDR chunk."""
    data = open(path, "rb").read()
    assert len(data) > 1000, f"{path}: {len(data)} bytes"
    assert data[:8] == b"\x89PNG\r\n\x1a\n" and data[12:16] == b"IHDR", path
    return struct.unpack(">II", data[16:24])


def test_draws_every_picture_of_a_complete_run(reference_run):
    done = command("plot", reference_run, cwd="/")
    assert done.returncode == 0, done.stdout + done.stderr
    assert "skipped" not in done.stdout, done.stdout
    for name in PICTURES:
        width, height = png_size(reference_run / "plots" / f"{name}.png")
        assert width >= 600 and height >= 500, f"{name}.png is {width} x {height}"


def test_skips_missing_or_empty_inputs(reference_run):
    for name in ("fne.dat", "ptt_n.dat", "ptt_p.dat", "w2d.dat"):
        (reference_run / name).unlink()
    (reference_run / "gamma.dat").write_text("")
    (reference_run / "zfx.dat").write_text("\n")  # what the call before the first interval leaves
    done = command("plot", reference_run.name, cwd=reference_run.parent)  # a directory relative to the caller's
    assert done.returncode == 0, done.stdout + done.stderr
    for picture, missing in [("flux", "fne.dat"), ("growth", "gamma.dat"), ("probe_spectra", "ptt_n.dat"),
                             ("vorticity", "w2d.dat"), ("zonal_flow", "zfx.dat"), ("zonal_flow_map", None)]:
        assert not (reference_run / "plots" / f"{picture}.png").exists(), f"{picture}.png drawn without data"
        if missing:
            assert f"\n| plot: skipped {picture}.png: {missing}" in "\n" + done.stdout, done.stdout
    for name in ("density", "potential", "energy", "probe_trace", "spectrum_ky_potential"):
        png_size(reference_run / "plots" / f"{name}.png")


def test_fails_on_a_missing_run_directory(tmp_path):
    done = command("plot", tmp_path / "no-such-run")
    assert done.returncode == 1
    assert done.stderr.startswith('| plot: no run directory "'), done.stderr
    assert not (tmp_path / "no-such-run").exists()


@pytest.mark.parametrize("nx, ny, signed, lying", [(16, 16, True, False), (8, 64, True, True), (64, 8, False, False),
                                                   (16, 32, False, False)])
def test_maps_put_x_across_unless_the_box_is_long_in_y(nx, ny, signed, lying):
    """x horizontal and y vertical (the picture's rows are y), a box more than twice as long in y
    lying (its rows are x); signed fields on a diverging scale centred on zero, one-signed fields
    on a sequential one."""
    rng = np.random.default_rng(2)
    field = rng.normal(size=(nx, ny)) if signed else rng.uniform(1.0, 2.0, size=(nx, ny))
    fig = Figure()
    ax = fig.subplots()
    assert field_map(ax, fig, field, np.arange(nx) * 0.5, np.arange(ny) * 0.5, "f", "n0 rho_s/L_perp") == lying
    image = ax.get_images()[0]
    shown = np.asarray(image.get_array())
    assert np.array_equal(shown, field if lying else field.T)
    left, right, bottom, top = image.get_extent()
    assert (right - left, top - bottom) == ((ny * 0.5, nx * 0.5) if lying else (nx * 0.5, ny * 0.5))
    low, high = image.get_clim()
    if signed:
        assert image.get_cmap().name == "RdBu_r" and low == -high and high <= np.max(np.abs(field))
    else:
        assert image.get_cmap().name == "viridis" and low == pytest.approx(field.min())
