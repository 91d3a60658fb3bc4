"""A tavo run directory as one xarray Dataset.

open_run(path) reads the field history "tavo.nc" when the run wrote one (fields ne, ni, phi,
vorticity over time, x, y and the scalar series over series_time, in double precision) and
otherwise the series of the text files "eng.dat", "eng-transfer.dat" and "fne.dat" (the columns
as SERIES lists them). The growth rate of "gamma.dat" is added over gamma_time. The parameters of
"tavo.inp" (or, without it, the history's attributes) become typed attributes by name; the run's
summary.json, when present, the attribute "summary" (a dict). The NaN entries that an unfinished
run leaves at the end of the history's series are dropped.
"""
import json
import os
import re

import numpy as np

from .parameters import NAMES, ParameterError, read_parameters, typed

ENERGY = "n0 T_e rho_s^2/L_perp^2"
RATE = "n0 T_e c_s rho_s^2/L_perp^3"
# (file, column from 0, name, long name, units) of every time series; the same names and units as
# the series of the field history.
SERIES = [
    ("eng.dat", 1, "enn", "density energy enn (eng.dat column 2)", ENERGY),
    ("eng.dat", 2, "E_K", "kinetic energy E_K (eng.dat column 3)", ENERGY),
    ("eng.dat", 3, "E_Z", "zonal-flow energy E_Z (eng.dat column 4)", ENERGY),
    ("eng.dat", 4, "E", "total energy E_K + enn (eng.dat column 5)", ENERGY),
    ("eng.dat", 5, "EZ_over_EK", "zonal share of the kinetic energy E_Z/E_K (eng.dat column 6)", "1"),
    ("eng-transfer.dat", 1, "drive", "drive rate (eng-transfer.dat column 2)", RATE),
    ("eng-transfer.dat", 2, "coupling", "parallel coupling rate (eng-transfer.dat column 3)", RATE),
    ("eng-transfer.dat", 3, "dissipation", "dissipation rate (eng-transfer.dat column 4)", RATE),
    ("eng-transfer.dat", 4, "rate_sum", "drive + coupling + dissipation (eng-transfer.dat column 5)", RATE),
    ("fne.dat", 1, "flux", "radial particle flux Gamma_n (fne.dat column 2)", "n0 c_s rho_s^2/L_perp^2"),
]
# The series scripts/analyse averages (and scripts/scan collects), in the order of its summary.
ANALYSED = ("flux", "enn", "E_K", "E", "EZ_over_EK")


def series_entry(name):
    """(file, column, name, long name without its file and column, units) of the series `name`."""
    for file, column, key, long_name, units in SERIES:
        if key == name:
            return file, column, key, re.sub(r" \([^()]*column [0-9]+\)$", "", long_name), units
    raise KeyError(name)


GAMMA = [
    ("gamma.dat", 1, "drift_speed", "|vde_avg sigma|, the mode's drift along y (gamma.dat column 2)", "c_s"),
    ("gamma.dat", 2, "growth_rate", "growth rate of the vorticity amplitude (gamma.dat column 3)", "c_s/L_perp"),
]


class RunError(Exception):
    """A run directory that cannot be read; the message says what is missing."""


def read_table(path):
    """The numbers of a whitespace-separated text file as a 2-d array (rows, columns); empty lines
    are skipped. Raises RunError when the file is missing or holds a word that is no number."""
    if not os.path.isfile(path):
        raise RunError(f'no "{os.path.basename(path)}" in {os.path.dirname(path) or "."}')
    with open(path) as f:
        rows = [line.split() for line in f if line.strip()]
    try:
        return np.array([[float(v) for v in row] for row in rows], dtype=float).reshape(len(rows), -1)
    except ValueError as error:
        raise RunError(f'"{path}" is not a table of numbers: {error}')


def _text_series(run, entries, dim):
    """Variables of the series entries from their text files, on one time axis (the shortest)."""
    import xarray as xr
    columns = {}
    time = None
    for name in dict.fromkeys(e[0] for e in entries):
        table = read_table(os.path.join(run, name))
        if table.shape[0] and (time is None or table.shape[0] < len(time)):
            time = table[:, 0]
        columns[name] = table
    if time is None:
        return xr.Dataset(coords={dim: np.zeros(0)})
    data = {}
    for file, col, key, long_name, units in entries:
        table = columns[file]
        values = table[:len(time), col] if table.shape[1] > col else np.full(len(time), np.nan)
        data[key] = (dim, values, {"long_name": long_name, "units": units})
    coords = {dim: (dim, time, {"long_name": "time t of the output", "units": "L_perp/c_s"})}
    return xr.Dataset(data, coords=coords)


def open_run(path):
    """The run in directory path as an xarray Dataset (see the module's description)."""
    import xarray as xr
    run = os.path.abspath(path)
    if not os.path.isdir(run):
        raise RunError(f'no run directory "{path}"')
    history = os.path.join(run, "tavo.nc")
    if os.path.isfile(history):
        with xr.open_dataset(history) as opened:
            ds = opened.load()
        if "series_time" in ds.dims:
            ds = ds.isel(series_time=np.isfinite(ds["series_time"].values))
    else:
        ds = _text_series(run, SERIES, "series_time")
        ds.attrs["program"] = "tavo"
    if os.path.isfile(os.path.join(run, "gamma.dat")):
        ds = ds.merge(_text_series(run, GAMMA, "gamma_time"))
    parameters = None
    if os.path.isfile(os.path.join(run, "tavo.inp")):
        try:
            parameters = read_parameters(os.path.join(run, "tavo.inp"), check=False)
        except ParameterError:
            parameters = None
    if parameters is None:
        parameters = {name: typed(name, float(ds.attrs[name])) for name in NAMES if name in ds.attrs}
    ds.attrs.update(parameters)
    summary = os.path.join(run, "summary.json")
    if os.path.isfile(summary):
        with open(summary) as f:
            ds.attrs["summary"] = json.load(f)
    ds.attrs["run"] = run
    return ds
