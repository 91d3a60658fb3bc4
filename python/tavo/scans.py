"""A scan made by scripts/scan as one xarray Dataset.

open_scan(path) reads the scan record OUT/scan.json and every point's summary.json: the scanned
values become the dimensions (their coordinates sorted, typed as the parameter table says), and
every quantity of the summaries a variable with its error beside it (name and name_error, NaN
where a point has no summary). The points without a summary are listed in the attribute
"missing".
"""
import json
import os

import numpy as np

from .parameters import typed


class ScanError(Exception):
    """A directory that holds no scan."""


def open_scan(path):
    """The scan in directory path as an xarray Dataset (see the module's description)."""
    import xarray as xr
    out = os.path.abspath(path)
    try:
        with open(os.path.join(out, "scan.json")) as f:
            record = json.load(f)
    except (OSError, ValueError) as e:
        raise ScanError(f"{out} holds no scan record scan.json ({e})")
    names = record["parameters"]
    points = record["points"]
    values = [{n: typed(n, float(p["values"][n])) for n in names} for p in points]
    coords = {n: sorted(set(v[n] for v in values)) for n in names}
    shape = tuple(len(coords[n]) for n in names)
    data, attrs, missing = {}, {}, []
    for point, value in zip(points, values):
        index = tuple(coords[n].index(value[n]) for n in names)
        try:
            with open(os.path.join(out, point["dir"], "summary.json")) as f:
                quantities = json.load(f)["quantities"]
        except (OSError, ValueError, KeyError):
            missing.append(point["dir"])
            continue
        for key, q in quantities.items():
            for part, name in (("mean", key), ("error", key + "_error")):
                if name not in data:
                    data[name] = np.full(shape, np.nan)
                    attrs[name] = {"long_name": q.get("long_name", key) + (" (error)" if part == "error" else ""),
                                   "units": q.get("units", "")}
                if isinstance(q.get(part), (int, float)):
                    data[name][index] = q[part]
    ds = xr.Dataset({name: (names, array, attrs[name]) for name, array in data.items()}, coords=coords)
    ds.attrs["scan"] = out
    ds.attrs["missing"] = missing
    return ds
