"""tavo: read the parameters, runs and scans of the tavo drift-wave turbulence program.

    import tavo
    tavo.read_parameters("run/tavo.inp")   # dict by name, typed, with the optional defaults
    ds = tavo.open_run("run")              # xarray Dataset: fields, series, parameters, summary
    scan = tavo.open_scan("scan")          # xarray Dataset over the scanned values

read_parameters needs only the standard library; open_run and open_scan need numpy and xarray
(and netCDF4 for the field history).
"""
from .parameters import NAMES, TABLE, ParameterError, read_parameters

__all__ = ["NAMES", "TABLE", "ParameterError", "read_parameters", "open_run", "open_scan"]


def open_run(path):
    from .runs import open_run as _open_run
    return _open_run(path)


def open_scan(path):
    from .scans import open_scan as _open_scan
    return _open_scan(path)


open_run.__doc__ = "The run in directory path as an xarray Dataset (see tavo.runs)."
open_scan.__doc__ = "The scan in directory path as an xarray Dataset (see tavo.scans)."
