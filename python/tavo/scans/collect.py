"""A scan as one xarray Dataset, its ensembles over seeds, and its collection into tables and a plot.

open_scan(path) reads the scan record OUT/scan.json and every point's summary.json. Each argument
of the scan is one dimension: a list alone is named after its value, paired lists after the first
of them whose values differ from point to point (the others are coordinates along it); the
coordinates are sorted and typed as the parameter table says. Every quantity of the summaries is a
variable with its error beside it (name and name_error), and with them the variables `saturated`
(bool), `reason` (why not, or why the point has no usable summary), `t_start` and `t_end` (the
averaging window) and `point` (the point's directory). A summary is used only when its quantities'
means and errors are finite numbers (errors not negative) and `saturated` is true or false; a
summary without a decision counts as not saturated. The points without a usable summary have NaN
values and are listed in the attribute "missing"; the base file's parameters are the attribute
"base".

ensemble(ds) reduces the dimension iseed: over the m seeds with a usable summary the mean of the
runs' means, their spread s (sample standard deviation) and the combined error
sqrt(s^2/m + sum(e_i^2)/m^2) of tavo.saturation.ensemble, the number of seeds, how many of them are
saturated, and `saturated` when every seed of the point is.

collect(path) writes OUT/collect.csv (every point: scanned values, mean and error of each quantity
at full precision, saturated, reason), OUT/ensemble.csv when iseed is scanned, the tables a paper
takes (OUT/collect.txt and OUT/collect.tex: values as value(error), C = |chat| with the coupling's
kind, the saturation column) and the plot OUT/<quantity>_vs_<name>.png (tables.py, plot.py).
"""
import json
import math
import os

import numpy as np

from ..parameters import ParameterError, parse_parameters, typed
from ..runs import ANALYSED as REQUIRED  # the quantities every summary holds, in the order of the tables
from .points import ScanError, failure, read_record


def _number(x):
    return isinstance(x, (int, float)) and not isinstance(x, bool)


def read_summary(path):
    """The usable parts of a point's summary.json: (quantities {name: (mean, error, long_name,
    units)}, saturated, reason, window (t_start, t_end), version). Raises ValueError with what is
    wrong when the file is missing or cannot be trusted."""
    try:
        with open(path) as f:
            summary = json.load(f)
    except OSError as e:
        raise ValueError(f"no summary ({e.strerror})")
    except ValueError as e:
        raise ValueError(f"summary.json is not JSON ({e})")
    if not isinstance(summary, dict) or not isinstance(summary.get("quantities"), dict):
        raise ValueError("summary.json holds no quantities")
    quantities = {}
    for name, q in summary["quantities"].items():
        if not isinstance(q, dict):
            raise ValueError(f"summary.json: the quantity {name} is {q!r}, not a record of mean and error")
        for part in ("mean", "error"):
            value = q.get(part)
            if not _number(value):
                raise ValueError(f"summary.json: the {part} of {name} is {json.dumps(value)}, not a number")
            if not math.isfinite(value):
                raise ValueError(f"summary.json: the {part} of {name} is {value}, not a finite number")
        if q["error"] < 0:
            raise ValueError(f"summary.json: the error of {name} is {q['error']}, below 0")
        quantities[name] = (float(q["mean"]), float(q["error"]), str(q.get("long_name", name)),
                            str(q.get("units", "")))
    lacking = [name for name in REQUIRED if name not in quantities]
    if lacking:
        raise ValueError(f"summary.json lacks {', '.join(lacking)}")
    if "saturated" not in summary:
        saturated, reason = False, "the summary holds no saturation decision (analysed by an older or other command)"
    elif not isinstance(summary["saturated"], bool):
        raise ValueError(f"summary.json: saturated is {json.dumps(summary['saturated'])}, not true or false")
    else:
        saturated = summary["saturated"]
        reason = summary.get("reason", "")
        if not isinstance(reason, str):
            raise ValueError(f"summary.json: reason is {json.dumps(reason)}, not a text")
        if saturated:
            reason = ""
        elif not reason:
            reason = "not saturated (the summary gives no reason)"
    window = summary.get("window") if isinstance(summary.get("window"), dict) else {}
    times = tuple(float(window[k]) if _number(window.get(k)) else math.nan for k in ("t_start", "t_end"))
    version = summary.get("version") if isinstance(summary.get("version"), str) else None
    return quantities, saturated, reason, times, version


def dimensions(record):
    """[(dimension name, [names along it], [index tuples of typed values, sorted])] of the record's
    groups of paired lists."""
    values = [{n: typed(n, float(p["values"][n])) for n in record["parameters"]} for p in record["points"]]
    found = []
    for group in record["groups"]:
        rows = sorted(set(tuple(v[n] for n in group) for v in values))
        unique = [n for k, n in enumerate(group) if len({row[k] for row in rows}) == len(rows)]
        found.append((unique[0] if unique else "_".join(group), group, rows))
    return found, values


def open_scan(path):
    """The scan in directory path as an xarray Dataset (see the module's description)."""
    import xarray as xr
    out = os.path.abspath(path)
    record = read_record(out)
    dims, values = dimensions(record)
    shape = tuple(len(rows) for _, _, rows in dims)
    names = [d for d, _, _ in dims]
    data, attrs = {}, {}
    saturated = np.zeros(shape, dtype=bool)
    reason = np.full(shape, "not in the scan", dtype=object)
    point = np.full(shape, "", dtype=object)
    window = {k: np.full(shape, np.nan) for k in ("t_start", "t_end")}
    missing, versions = [], set()
    for entry, value in zip(record["points"], values):
        index = tuple(rows.index(tuple(value[n] for n in group)) for _, group, rows in dims)
        point[index] = entry["dir"]
        try:
            quantities, flag, why, times, version = read_summary(os.path.join(out, entry["dir"], "summary.json"))
        except ValueError as e:
            failed = failure(os.path.join(out, entry["dir"]))
            reason[index] = f"failed: {failed}" if failed else str(e)
            missing.append(entry["dir"])
            continue
        saturated[index], reason[index] = flag, why
        window["t_start"][index], window["t_end"][index] = times
        if version:
            versions.add(version)
        for key, (mean, error, long_name, units) in quantities.items():
            for name, x, extra in ((key, mean, ""), (key + "_error", error, " (error)")):
                if name not in data:
                    data[name] = np.full(shape, np.nan)
                    attrs[name] = {"long_name": long_name + extra, "units": units}
                data[name][index] = x
    variables = {name: (names, array, attrs[name]) for name, array in data.items()}
    variables["saturated"] = (names, saturated, {"long_name": "the window passed the saturation tests"})
    variables["reason"] = (names, reason, {"long_name": "why the point is not saturated or has no usable summary"})
    variables["point"] = (names, point, {"long_name": "the point's directory in the scan"})
    for key, long_name in (("t_start", "start of the averaging window"), ("t_end", "end of the averaging window")):
        variables[key] = (names, window[key], {"long_name": long_name, "units": "L_perp/c_s"})
    coords = {}
    for dim, group, rows in dims:
        for k, name in enumerate(group):
            coords[name] = (dim, [row[k] for row in rows])
    ds = xr.Dataset(variables, coords=coords)
    ds.attrs["scan"] = out
    ds.attrs["missing"] = missing
    ds.attrs["versions"] = sorted(versions)
    try:
        ds.attrs["base"] = parse_parameters(record["base_text"], check=False)
    except (KeyError, ParameterError):
        ds.attrs["base"] = {}
    return ds


def quantities(ds):
    """The quantities of a scan or ensemble dataset, in the order of the tables."""
    found = [name for name in ds.data_vars if name + "_error" in ds.data_vars]
    return [n for n in REQUIRED if n in found] + [n for n in found if n not in REQUIRED]


def ensemble(ds, over="iseed"):
    """The ensembles over the dimension `over` (see the module's description), a Dataset over the
    other dimensions; None when `over` is no dimension of its own."""
    from .. import saturation
    import xarray as xr
    if over not in ds.dims or over not in ds.coords or ds[over].dims != (over,):
        return None
    rest = [d for d in ds.dims if d != over]
    moved = ds.transpose(*rest, over)
    shape = tuple(ds.sizes[d] for d in rest)
    result = {}
    usable = np.isfinite(moved["flux"].values) if "flux" in ds else np.ones(moved["saturated"].shape, bool)
    for name in quantities(ds):
        means, errors = moved[name].values, moved[name + "_error"].values
        mean, spread, error = np.full(shape, np.nan), np.full(shape, np.nan), np.full(shape, np.nan)
        for index in np.ndindex(*shape):
            good = usable[index] & np.isfinite(means[index])
            if good.any():
                m, s, e = saturation.ensemble(means[index][good], errors[index][good])
                mean[index], spread[index], error[index] = m, np.nan if s is None else s, e
        long_name, units = ds[name].attrs.get("long_name", name), ds[name].attrs.get("units", "")
        result[name] = (rest, mean, {"long_name": long_name + ", mean over the seeds", "units": units})
        result[name + "_spread"] = (rest, spread, {"long_name": long_name + ", spread of the seeds", "units": units})
        result[name + "_error"] = (rest, error, {"long_name": long_name + ", combined error", "units": units})
    seeds = usable.sum(axis=-1)
    good = (moved["saturated"].values & usable).sum(axis=-1)
    result["seeds"] = (rest, seeds, {"long_name": "seeds with a usable summary"})
    result["saturated_seeds"] = (rest, good, {"long_name": "seeds whose window is saturated"})
    result["saturated"] = (rest, (good == ds.sizes[over]) & (seeds > 0),
                           {"long_name": "every seed saturated"})
    coords = {name: c for name, c in ds.coords.items() if over not in c.dims}
    out = xr.Dataset(result, coords=coords)
    out.attrs.update({k: v for k, v in ds.attrs.items() if k != "missing"})
    return out


def reanalyse(out, record, tmin, tmax):
    """Analyse every point that has its series again with the window [tmin, tmax] (scripts/analyse),
    its summary.json replaced; a point whose analysis fails loses its summary. Returns the lines
    to report."""
    import subprocess
    import sys
    from .points import last_message
    from .run import TOP
    command = [sys.executable, os.path.join(TOP, "scripts", "analyse"), "--no-plot"]
    for name, value in (("tmin", tmin), ("tmax", tmax)):
        if value is not None:
            command += [f"--{name}", repr(value)]
    lines = []
    for point in record["points"]:
        directory = os.path.join(out, point["dir"])
        if not os.path.exists(os.path.join(directory, "eng.dat")):
            continue
        with open(os.path.join(directory, "analyse.log"), "w") as log:
            status = subprocess.call(command + [directory], stdout=log, stderr=subprocess.STDOUT)
        if status != 0:
            summary = os.path.join(directory, "summary.json")
            if os.path.exists(summary):
                os.remove(summary)  # a summary of another window would be collected as this one's
            lines.append(f"| point {point['dir']}: the analysis with the new window failed: "
                         f"{last_message(os.path.join(directory, 'analyse.log'))}")
    window = " ".join(f"--{n} {v:g}" for n, v in (("tmin", tmin), ("tmax", tmax)) if v is not None)
    lines.insert(0, f"| every point analysed again with {window}")
    return lines


def collect(path, quantity="flux", against=None, tmin=None, tmax=None):
    """Write the tables and the plot of the scan in path (see the module's description). Returns
    (text of collect.txt, report lines for standard error, exit status)."""
    from . import plot, tables
    out = os.path.abspath(path)
    record = read_record(out)
    report = []
    if tmin is not None or tmax is not None:
        report += reanalyse(out, record, tmin, tmax)
    ds = open_scan(out)
    if quantity not in quantities(ds) and len(ds.attrs["missing"]) < len(record["points"]):
        raise ScanError(f"--quantity {quantity}: one of {', '.join(quantities(ds))}")
    names = record["parameters"]
    if against is not None and against not in names:
        raise ScanError(f"--against {against}: not a scanned value (scanned: {', '.join(names)})")
    against = against or next((n for n in names if n != "iseed"), names[0])
    seeds = ensemble(ds)
    tables.write_csv(out, record, ds, seeds)
    text = tables.text_tables(ds, seeds, names)
    with open(os.path.join(out, "collect.txt"), "w") as f:
        f.write(text)
    with open(os.path.join(out, "collect.tex"), "w") as f:
        f.write(tables.tex_tables(ds, seeds, names))
    if len(ds.attrs["missing"]) < len(record["points"]):
        report.append(plot.draw(ds, seeds, quantity, against, names))
    points = [(entry, ds["saturated"].values[tables.index_of(ds, entry["dir"])],
               ds["reason"].values[tables.index_of(ds, entry["dir"])]) for entry in record["points"]]
    for entry, flag, why in points:
        where = "| point " + " ".join(f"{n}={entry['values'][n]}" for n in names)
        if entry["dir"] in ds.attrs["missing"]:
            report.append(f"{where} has no usable summary: {why}")
        elif not flag:
            report.append(f"{where} is not saturated: {why}")
    return text, report, 1 if ds.attrs["missing"] else 0
