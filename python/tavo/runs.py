"""A tavo run directory as one xarray Dataset, checked before it is trusted: open_run(path).

What it holds (every output file on named dimensions with units) and what it checks is described
for users in docs/analysis.md; the tables below (SERIES, GAMMA, PROFILES, SPECTRA, TRACES, AXES,
SNAPSHOTS, ZONAL) are the one list of the files' columns. How the checks work:
  - text files: decoded as ASCII (a byte that is no text refuses the file), parsed in C, and gone
    through line by line only to name the fault; a last line without its line end (a kill while it
    was written) is left out;
  - the series: eng.dat, eng-transfer.dat and fne.dat are appended one after the other at every
    output, so a kill leaves them at most one record apart; more is noted and cut to the shortest.
    Their times must increase and agree record by record, else the records would pair wrongly;
  - tavo.nc: the program flushes the header's frame count after each complete frame, so the frames
    can only be damaged by a copy or a truncation of the file, which cuts its end. The file's size
    bounds the frames it can hold (records of the time and four single-precision fields after the
    fixed variables; the header is not counted, so a cut within the last few kilobytes passes);
    netCDF reads frames beyond the end as zeros, whose times then do not increase; and the last
    frame kept is checked against the series (its enn and E_K as the program computes them) and
    against itself (its vorticity, the last variable of the record, is the spectral Laplacian of
    its phi, row by row). The history's own series are used only when the text files are missing.
Notes are "|" lines on standard error, also kept in the attribute "notes".
"""
import json
import os
import re
import sys
import warnings

import numpy as np

from .parameters import NAMES, ParameterError, read_parameters, typed

FIELD = "n0 rho_s/L_perp"
POTENTIAL = "T_e rho_s/(e L_perp)"
VORTICITY = "T_e/(e rho_s L_perp)"
ENERGY = "n0 T_e rho_s^2/L_perp^2"
RATE = "n0 T_e c_s rho_s^2/L_perp^3"
TIME = "L_perp/c_s"

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
# The series `scripts/scan collect` gathers from every summary, in the order of its tables.
ANALYSED = ("flux", "enn", "E_K", "E", "EZ_over_EK")

GAMMA = [
    ("gamma.dat", 1, "drift_speed", "|vde_avg sigma|, the mode's drift along y (gamma.dat column 2)", "c_s"),
    ("gamma.dat", 2, "growth_rate", "growth rate of the vorticity amplitude (gamma.dat column 3)", "c_s/L_perp"),
]
PROFILES = [
    ("xprof.dat", 1, "profile_phi", "y-average of the potential phi (xprof.dat column 2)", POTENTIAL),
    ("xprof.dat", 2, "profile_ne", "y-average of the electron density n_e (xprof.dat column 3)", FIELD),
    ("xprof.dat", 3, "profile_ni", "y-average of the ion gyrocentre density N_i (xprof.dat column 4)", FIELD),
    ("xprof.dat", 4, "profile_vorticity", "y-average of the vorticity nabla^2 phi (xprof.dat column 5)", VORTICITY),
    ("xprof.dat", 5, "reynolds_stress", "y-average of the Reynolds stress Dx phi Dy phi (xprof.dat column 6)",
     "T_e^2/(e^2 L_perp^2)"),
]
_ROWS = "sum over the rows of |Re X_k| of each row's transform at the last output"
_MEAN = "running mean of column 2 over the outputs of a continued run, else 0"
SPECTRA = [
    ("pky_p.dat", 1, "spectrum_ky_potential", f"k_y spectrum of the gyro-averaged potential phi_i: {_ROWS} "
     "(pky_p.dat column 2)", POTENTIAL),
    ("pky_p.dat", 2, "spectrum_ky_potential_mean", f"{_MEAN} (pky_p.dat column 3)", POTENTIAL),
    ("pky_n.dat", 1, "spectrum_ky_density", f"k_y spectrum of the electron density n_e: {_ROWS} (pky_n.dat column 2)",
     FIELD),
    ("pky_n.dat", 2, "spectrum_ky_density_mean", f"{_MEAN} (pky_n.dat column 3)", FIELD),
    ("pky_w.dat", 1, "spectrum_ky_vorticity", "k_y spectrum of the vorticity nabla^2 phi: sum over the rows of "
     "(Re X_k)^2 at the last output (pky_w.dat column 2)", f"({VORTICITY})^2"),
    ("pky_w.dat", 2, "spectrum_ky_vorticity_mean", f"{_MEAN} (pky_w.dat column 3)", f"({VORTICITY})^2"),
    ("pky_e.dat", 1, "spectrum_ky_energy", f"k_y spectrum of the E x B energy density |grad phi_i|^2: {_ROWS} "
     "(pky_e.dat column 2)", "T_e^2/(e^2 L_perp^2)"),
    ("pky_e.dat", 2, "spectrum_ky_energy_mean", f"{_MEAN} (pky_e.dat column 3)", "T_e^2/(e^2 L_perp^2)"),
    ("pkx_p.dat", 1, "spectrum_kx_potential", "k_x spectrum of the gyro-averaged potential phi_i: sum over the "
     "columns of |Re X_k| at the last output (pkx_p.dat column 2)", POTENTIAL),
    ("pkx_p.dat", 2, "spectrum_kx_potential_mean", f"{_MEAN} (pkx_p.dat column 3)", POTENTIAL),
]
_PROBES = "summed over the 64 probes: |Fourier transform of the windowed trace|"
TRACES = [
    ("traces.dat", 1, "probe_ne", "windowed electron density n_e at probe 1 (traces.dat column 2)", FIELD),
    ("traces.dat", 2, "probe_phi", "windowed potential phi at probe 1 (traces.dat column 3)", POTENTIAL),
    ("traces.dat", 3, "probe_window", "the window of the traces (traces.dat column 4)", "1"),
    ("ptt_n.dat", 1, "probe_spectrum_ne", f"frequency spectrum of n_e {_PROBES} (ptt_n.dat column 2)", FIELD),
    ("ptt_p.dat", 1, "probe_spectrum_phi", f"frequency spectrum of phi {_PROBES} (ptt_p.dat column 2)", POTENTIAL),
]
# file -> (dimension, long name, units) of its first column.
AXES = {
    "eng.dat": ("series_time", "time t of the output", TIME),
    "eng-transfer.dat": ("series_time", "time t of the output", TIME),
    "fne.dat": ("series_time", "time t of the output", TIME),
    "gamma.dat": ("gamma_time", "time t of the output", TIME),
    "xprof.dat": ("x", "radial position x (grid index/hy)", "rho_s"),
    "pky_p.dat": ("ky", "poloidal wavenumber k_y", "1/rho_s"),
    "pky_n.dat": ("ky", "poloidal wavenumber k_y", "1/rho_s"),
    "pky_w.dat": ("ky", "poloidal wavenumber k_y", "1/rho_s"),
    "pky_e.dat": ("ky", "poloidal wavenumber k_y", "1/rho_s"),
    "pkx_p.dat": ("kx", "radial wavenumber k_x", "1/rho_s"),
    "traces.dat": ("trace_time", "time of the probe sample", TIME),
    "ptt_n.dat": ("frequency", "angular frequency omega", "c_s/L_perp"),
    "ptt_p.dat": ("frequency", "angular frequency omega", "c_s/L_perp"),
}
# The snapshots of the last output: file, name, long name, units (columns x index, y index, value).
SNAPSHOTS = [
    ("n2d.dat", "snapshot_ne", "electron density n_e at the last output (n2d.dat)", FIELD),
    ("p2d.dat", "snapshot_phi", "electrostatic potential phi at the last output (p2d.dat)", POTENTIAL),
    ("w2d.dat", "snapshot_vorticity", "vorticity nabla^2 phi at the last output (w2d.dat)", VORTICITY),
    ("i2d.dat", "snapshot_nonadiabatic", "non-adiabatic part phi - n_e at the last output (i2d.dat)", FIELD),
]
ZONAL = ("zfx.dat", "zonal_flow", "zonal flow v_z, the y-average of Dx phi (zfx.dat column 3)", "c_s rho_s/L_perp")
# The frames of the field history: a record holds the time and the fields in this order.
FRAME_FIELDS = ("ne", "ni", "phi", "vorticity")
SERIES_FILES = ("eng.dat", "eng-transfer.dat", "fne.dat")


def series_entry(name):
    """(file, column, name, long name without its file and column, units) of the series `name`."""
    for file, column, key, long_name, units in SERIES:
        if key == name:
            return file, column, key, re.sub(r" \([^()]*column [0-9]+\)$", "", long_name), units
    raise KeyError(name)


class RunError(Exception):
    """A run directory that cannot be read or trusted; the message is a "|" line saying why."""


def note(notes, text):
    """A "|" note: on standard error and in the list notes."""
    line = f"| note: {text}"
    print(line, file=sys.stderr)
    notes.append(line)


def read_table(path, notes=None):
    """The numbers of a whitespace-separated text file as a 2-d array (rows, columns); empty lines
    are skipped, a last line without its line end is left out (with a note). Raises RunError when
    the file is missing, is not text, holds a word that is no number, or holds numbers that do not
    make a table of its first line's width."""
    notes = [] if notes is None else notes
    name = os.path.basename(path)
    if not os.path.isfile(path):
        raise RunError(f'| no "{name}" in {os.path.dirname(path) or "."}')
    with open(path, "rb") as f:
        data = f.read()
    binary = re.search(rb"[\x00-\x08\x0e-\x1f\x7f-\xff]", data)
    if binary:
        raise RunError(f'| "{name}" is not a text table: byte {binary.start()} is {binary.group()!r} '
                       "(a damaged or foreign file)")
    text = data.decode("ascii")
    if text and not text.endswith("\n"):
        cut = text.rfind("\n") + 1
        if text[cut:].strip():
            note(notes, f'the last line of "{name}" has no line end (cut short by a kill?): it is left out')
        text = text[:cut]
    # The numbers parsed in C; when they do not fill a table of the first line's width, the lines are
    # gone through one by one for the message.
    first = re.search(r"(?m)^[ \t]*\S.*$", text)
    if first is None:
        return np.zeros((0, 0))
    width = len(first.group().split())
    rows = sum(1 for _ in re.finditer(r"(?m)^[ \t]*\S", text))
    with warnings.catch_warnings():
        warnings.simplefilter("error")
        try:
            values = np.fromstring(text, sep=" ")
        except (DeprecationWarning, ValueError):
            values = None
    if values is not None and len(values) == rows * width:
        return values.reshape(rows, width)
    lines = [(number, line.split()) for number, line in enumerate(text.split("\n"), 1) if line.strip()]
    for number, words in lines:
        if len(words) != width:
            raise RunError(f'| "{name}" line {number} holds {len(words)} numbers, line {lines[0][0]} {width}: '
                           "not a table")
        for word in words:
            try:
                float(word)
            except ValueError:
                raise RunError(f'| "{name}" line {number} holds "{word[:40]}", which is not a number')
    return np.array([w for _, words in lines for w in words], dtype=float).reshape(len(lines), width)


def _dataset(data, coords, attrs=None):
    import xarray as xr
    return xr.Dataset(data, coords=coords, attrs=attrs or {})


def _check_times(times, name):
    """RunError unless the times increase."""
    steps = np.diff(times)
    bad = np.flatnonzero(~(steps > 0))
    if len(bad):
        k = int(bad[0]) + 1
        raise RunError(f'| the times of "{name}" do not increase: record {k + 1} holds t = {times[k]:.8g} after '
                       f"t = {times[k - 1]:.8g} (a file written twice over, or by two runs?)")


def _series(run, tables, notes):
    """The series of eng.dat, eng-transfer.dat and fne.dat on one checked time axis."""
    present = [name for name in SERIES_FILES if os.path.isfile(os.path.join(run, name))]
    if not present:
        return None
    found = {}
    for name in present:
        table = tables.get(name)
        if table is None:
            table = tables[name] = read_table(os.path.join(run, name), notes)
        if table.shape[0]:
            if table.shape[1] < 2:
                raise RunError(f'| "{name}" holds {table.shape[1]} column(s): not a series of this program')
            _check_times(table[:, 0], name)
            found[name] = table
    lengths = {name: t.shape[0] for name, t in found.items()}
    n = min(lengths.values()) if lengths else 0
    if lengths and max(lengths.values()) - n > 1:
        note(notes, "the series files differ in length (" + ", ".join(f'"{k}" {v}' for k, v in lengths.items())
             + f" records): they are cut to the {n} records they share")
    reference = next(iter(found), None)
    for name, table in found.items():
        a, b = table[:n, 0], found[reference][:n, 0]
        wrong = np.flatnonzero(~np.isclose(a, b, rtol=1e-9, atol=1e-7))
        if len(wrong):
            k = int(wrong[0])
            raise RunError(f'| "{name}" and "{reference}" disagree on the times: record {k + 1} is t = {a[k]:.8g} in '
                           f'"{name}" and t = {b[k]:.8g} in "{reference}" (a line deleted or added?)')
    time = found[reference][:n, 0] if found else np.zeros(0)
    data = {}
    for file, col, key, long_name, units in SERIES:
        if file in found:
            table = found[file]
            values = table[:n, col] if table.shape[1] > col else np.full(n, np.nan)
            data[key] = ("series_time", values, {"long_name": long_name, "units": units})
    coords = {"series_time": ("series_time", time, {"long_name": "time t of the output", "units": TIME})}
    return _dataset(data, coords)


def _columns(run, entries, tables, notes, coordinate=None):
    """Variables of entries (all of one dimension) from their text files; coordinate: the values
    of the dimension to use instead of the files' first column (when the lengths agree)."""
    data, axis = {}, None
    dim = AXES[entries[0][0]][0]
    for file, col, key, long_name, units in entries:
        path = os.path.join(run, file)
        if not os.path.isfile(path):
            continue
        table = tables.get(file)
        if table is None:
            table = tables[file] = read_table(path, notes)
        if table.shape[0] == 0 or table.shape[1] <= col:
            continue
        if axis is None:
            axis = table[:, 0]
            _, axis_name, axis_units = AXES[file]
        if table.shape[0] != len(axis):
            note(notes, f'"{file}" holds {table.shape[0]} rows, its neighbours {len(axis)}: it is left out')
            continue
        data[key] = (dim, table[:, col], {"long_name": long_name, "units": units})
    if axis is None:
        return None
    if coordinate is not None and len(coordinate) == len(axis):
        axis = coordinate
    return _dataset(data, {dim: (dim, axis, {"long_name": axis_name, "units": axis_units})})


def _grid_spacing(parameters, history):
    """hy = ny/ly from the parameters, else from the history's y positions; None when unknown."""
    if parameters and parameters.get("ly", 0) > 0 and parameters.get("ny", 0) >= 1:
        return parameters["ny"] / parameters["ly"]
    if history is not None and history.sizes.get("y", 0) > 1:
        return 1.0 / float(history["y"].values[1] - history["y"].values[0])
    return None


def _snapshots(run, x, y, hy, tables, notes):
    data = {}
    for file, key, long_name, units in SNAPSHOTS:
        path = os.path.join(run, file)
        if not os.path.isfile(path):
            continue
        table = read_table(path, notes)
        if table.shape[0] == 0 or table.shape[1] < 3:
            continue
        i, j = table[:, 0].astype(int), table[:, 1].astype(int)
        nx, ny = (len(x), len(y)) if x is not None else (i.max() + 1, j.max() + 1)
        if i.min() < 0 or j.min() < 0 or i.max() >= nx or j.max() >= ny or len(table) != nx * ny:
            note(notes, f'"{file}" does not hold the {nx} x {ny} grid of the run: it is left out')
            continue
        field = np.full((nx, ny), np.nan)
        field[i, j] = table[:, 2]
        data[key] = (("x", "y"), field, {"long_name": long_name, "units": units})
        if x is None:
            x, y = np.arange(nx) / (hy or 1.0), np.arange(ny) / (hy or 1.0)
    if not data:
        return None
    return _dataset(data, _position_coords(x, y))


def _position_coords(x, y):
    coords = {}
    if x is not None:
        coords["x"] = ("x", x, {"long_name": "radial position x (grid index/hy)", "units": "rho_s"})
    if y is not None:
        coords["y"] = ("y", y, {"long_name": "poloidal position y (grid index/hy)", "units": "rho_s"})
    return coords


def _zonal_flow(run, x, tables, notes):
    """zfx.dat as zonal_flow(zonal_time, x): blocks of rows (t, x index, v_z), one per output."""
    file, key, long_name, units = ZONAL
    path = os.path.join(run, file)
    if not os.path.isfile(path):
        return None
    table = read_table(path, notes)
    if table.shape[0] == 0 or table.shape[1] < 3:
        return None
    index = table[:, 1].astype(int)
    starts = np.flatnonzero(index == 0)
    nx = len(x) if x is not None else int(index.max()) + 1
    if len(starts) == 0 or len(table) - starts[-1] < nx:
        starts = starts[:-1]  # a last block cut short
    blocks = [table[s:s + nx] for s in starts if s + nx <= len(table)]
    blocks = [b for b in blocks if np.array_equal(b[:, 1].astype(int), np.arange(nx))]
    if not blocks:
        return None
    values = np.array([b[:, 2] for b in blocks])
    times = np.array([b[0, 0] for b in blocks])
    coords = {"zonal_time": ("zonal_time", times, {"long_name": "time t of the output", "units": TIME})}
    coords.update(_position_coords(x if x is not None else np.arange(nx, dtype=float), None))
    return _dataset({key: (("zonal_time", "x"), values, {"long_name": long_name, "units": units})}, coords)


# ---- the field history ----

def _history(run, notes):
    """tavo.nc opened lazily, or None (with a note) when it cannot be opened."""
    import xarray as xr
    path = os.path.join(run, "tavo.nc")
    if not os.path.isfile(path):
        return None
    try:
        ds = xr.open_dataset(path)
    except Exception as e:  # netCDF raises OSError, xarray ValueError or others on a damaged file
        note(notes, f'"tavo.nc" cannot be read ({e}): the run is read without its field history')
        return None
    if not all(name in ds for name in FRAME_FIELDS) or "time" not in ds.dims:
        note(notes, '"tavo.nc" is not a field history of this program: it is left out')
        ds.close()
        return None
    return ds


def _frames_held(path, ds):
    """The frames a classic netCDF file of this size can hold: each frame is a record of the time
    (8 bytes) and the four fields in single precision; before the records lie the header and the
    fixed variables x, y and the series (the header is not counted, so this is an upper bound)."""
    with open(path, "rb") as f:
        if f.read(3) != b"CDF":
            return None
    if "time" not in ds.encoding.get("unlimited_dims", ()) or any(ds[n].dtype != np.float32 for n in FRAME_FIELDS):
        return None  # not the layout the program writes
    nx, ny = ds.sizes["x"], ds.sizes["y"]
    record = 8 + len(FRAME_FIELDS) * 4 * nx * ny
    fixed = 8 * (nx + ny + (len(SERIES) + 1) * ds.sizes.get("series_time", 0))
    return max((os.path.getsize(path) - fixed) // record, 0)


def _spectral_laplacian(phi, hy):
    nx, ny = phi.shape
    kx = 2 * np.pi * np.fft.fftfreq(nx, d=1.0 / hy)
    ky = 2 * np.pi * np.fft.fftfreq(ny, d=1.0 / hy)
    k2 = kx[:, None] ** 2 + ky[None, :] ** 2
    return np.real(np.fft.ifft2(-k2 * np.fft.fft2(phi)))


def frame_energies(ne, ni, phi, hy, taui, delta):
    """enn and E_K of one frame as the program computes them: enn = 1/2 <ne^2 + taui ni^2>/delta,
    E_K = 1/2 <(Dx phi)^2 + (Dy phi)^2>/delta^2 with centred differences."""
    dx = 0.5 * hy * (np.roll(phi, -1, axis=0) - np.roll(phi, 1, axis=0))
    dy = 0.5 * hy * (np.roll(phi, -1, axis=1) - np.roll(phi, 1, axis=1))
    enn = 0.5 * np.mean(ne * ne + taui * ni * ni) / delta
    enk = 0.5 * np.mean(dx * dx + dy * dy) / delta ** 2
    return enn, enk


def _frame_fault(ds, r, series, hy, parameters):
    """Why frame r of the history is not sound (fields cut short, or not those of the series),
    None when it is."""
    fields = {name: ds[name].isel(time=r).values.astype(float) for name in FRAME_FIELDS}
    if not all(np.all(np.isfinite(f)) for f in fields.values()):
        return None  # a blow-up is for the analysis to find, not a damaged file
    lap = _spectral_laplacian(fields["phi"], hy)
    vort = fields["vorticity"]
    scale = max(np.max(np.abs(lap)), np.max(np.abs(vort)))
    if scale > 0:
        worst_row = np.max(np.sqrt(np.mean((vort - lap) ** 2, axis=1)) / scale)
        if worst_row > 1e-2:
            return f"its vorticity is not the Laplacian of its phi (row mismatch {worst_row:.2g} of the field's size)"
    if series is None or "enn" not in series:
        return None
    t = float(ds["time"].values[r])
    times = series["series_time"].values
    k = np.flatnonzero(np.isclose(times, t, rtol=1e-9, atol=1e-6))
    if not len(k):
        return None
    taui = abs(float(parameters.get("taui", ds.attrs.get("taui", 0.0))))
    delta = float(parameters.get("delta", ds.attrs.get("delta", 1.0)))
    enn, enk = frame_energies(fields["ne"], fields["ni"], fields["phi"], hy, taui, delta)
    for name, mine, theirs in (("enn", enn, float(series["enn"].values[k[0]])),
                               ("E_K", enk, float(series["E_K"].values[k[0]]))):
        if theirs > 1e-11 and abs(mine / theirs - 1) > 1e-3:
            return f"its {name} is {mine:.6g}, the series' {theirs:.6g}"
    return None


def _checked_history(run, ds, series, hy, parameters, notes):
    """The history with its unsound frames trimmed (see the head)."""
    path = os.path.join(run, "tavo.nc")
    frames = ds.sizes["time"]
    keep = frames
    held = _frames_held(path, ds)
    if held is not None and held < keep:
        note(notes, f'"tavo.nc" is cut short: its size holds at most {held} of the {frames} frames its header '
             "counts; the rest are left out")
        keep = held
    times = ds["time"].values[:keep]
    for r in range(keep):
        if not np.isfinite(times[r]) or (r > 0 and not times[r] > times[r - 1]):
            note(notes, f'frame {r + 1} of "tavo.nc" has the time {times[r]:.6g} after {times[r - 1] if r else 0:.6g}: '
                 "it and the frames after it are left out")
            keep = r
            break
    if series is not None and series.sizes["series_time"]:
        output_times = series["series_time"].values
        for r in range(keep):
            t = times[r]
            if r == 0 and t <= output_times[0]:
                continue  # the frame of the start
            if not np.any(np.isclose(output_times, t, rtol=1e-9, atol=1e-6)):
                note(notes, f'frame {r + 1} of "tavo.nc" (t = {t:.6g}) is at no output time of the series: it and '
                     "the frames after it are left out (a history of another run?)")
                keep = r
                break
    while keep > 0 and hy:
        fault = _frame_fault(ds, keep - 1, series, hy, parameters)
        if fault is None:
            break
        note(notes, f'the last frame of "tavo.nc" (t = {times[keep - 1]:.6g}) is damaged: {fault}; it is left out')
        keep -= 1
    return ds.isel(time=slice(0, keep)) if keep < frames else ds


def _history_series(ds, notes):
    """The series of the history: entries written (not the NaN fill), in increasing time."""
    if "series_time" not in ds.dims:
        return None
    names = ["series_time"] + [s[2] for s in SERIES if s[2] in ds]
    series = ds[names].load()
    series = series.isel(series_time=np.isfinite(series["series_time"].values))
    times = series["series_time"].values
    bad = np.flatnonzero(~(np.diff(times) > 0))
    if len(bad):
        k = int(bad[0]) + 1
        note(notes, f'the series of "tavo.nc" do not increase in time at entry {k + 1}: they end before it')
        series = series.isel(series_time=slice(0, k))
    return series


def open_run(path):
    """The run in directory path as an xarray Dataset (see the module's description)."""
    import xarray as xr
    run = os.path.abspath(path)
    if not os.path.isdir(run):
        raise RunError(f'| no run directory "{path}"')
    notes, tables = [], {}
    parameters = None
    if os.path.isfile(os.path.join(run, "tavo.inp")):
        try:
            parameters = read_parameters(os.path.join(run, "tavo.inp"), check=False)
        except (OSError, ParameterError) as e:
            note(notes, f'"tavo.inp" cannot be read ({e}): the parameters come from "tavo.nc" when it holds them')
    history = _history(run, notes)
    if parameters is None:
        attrs = history.attrs if history is not None else {}
        parameters = {name: typed(name, float(attrs[name])) for name in NAMES if name in attrs}
    series = _series(run, tables, notes)
    if series is None and history is not None:
        series = _history_series(history, notes)
    hy = _grid_spacing(parameters, history)
    if history is not None:
        close_history = history.close
        history = _checked_history(run, history, series, hy, parameters, notes)
        x, y = history["x"].values, history["y"].values
        parts = [history[list(FRAME_FIELDS)]]
    else:
        x = y = None
        if hy and parameters.get("nx") and parameters.get("ny"):
            x, y = np.arange(parameters["nx"]) / hy, np.arange(parameters["ny"]) / hy
        parts = []
    parts.append(series if series is not None else _dataset({}, {"series_time": np.zeros(0)}))
    tables_1d = GAMMA + PROFILES + SPECTRA + TRACES
    for dim in dict.fromkeys(AXES[entry[0]][0] for entry in tables_1d):
        if dim == "series_time":
            continue
        entries = [entry for entry in tables_1d if AXES[entry[0]][0] == dim]
        found = _columns(run, entries, tables, notes, x if dim == "x" else None)
        if found is None:
            continue
        if dim == "kx" and parameters.get("nx") and parameters.get("ny"):
            # The file steps k_x by 2 pi/ly; the true step is 2 pi/(nx/hy).
            found = found.assign_coords(kx=found["kx"] * (parameters["ny"] / parameters["nx"]))
            found["kx"].attrs.update(long_name="radial wavenumber k_x", units="1/rho_s")
        parts.append(found)
    for found in (_snapshots(run, x, y, hy, tables, notes), _zonal_flow(run, x, tables, notes)):
        if found is not None:
            parts.append(found)
    ds = xr.merge(parts, combine_attrs="override", compat="override", join="outer")
    if history is not None:
        ds.attrs.update({k: v for k, v in history.attrs.items() if k not in NAMES})
        ds.set_close(close_history)
    ds.attrs["program"] = "tavo"
    ds.attrs.update(parameters)
    summary = os.path.join(run, "summary.json")
    if os.path.isfile(summary):
        try:
            with open(summary) as f:
                ds.attrs["summary"] = json.load(f)
        except (OSError, ValueError) as e:
            note(notes, f'"summary.json" cannot be read ({e}): left out')
    from .status import run_status
    ds.attrs["status"] = run_status(run, series_end=float(series["series_time"].values[-1])
                                    if series is not None and series.sizes["series_time"] else None)
    ds.attrs["notes"] = notes
    ds.attrs["run"] = run
    return ds
