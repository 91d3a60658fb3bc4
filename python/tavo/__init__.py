"""tavo: the parameters, runs, analyses, pictures and scans of the tavo drift-wave turbulence program.

    import tavo
    tavo.read_parameters("run/tavo.inp")   # dict by name, typed, with the optional defaults
    ds = tavo.open_run("run")              # xarray Dataset: fields, series, spectra, profiles, ...
    tavo.run_status("run")                 # finished, stopped at t, crashed at t with its cause, ...
    summary = tavo.analyse("run")          # time averages, errors, the saturation verdict
    tavo.plots.draw("run")                 # the PNG pictures in run/plots/
    scan = tavo.open_scan("scan")          # xarray Dataset over the scanned values

read_parameters and run_status need only the standard library; the rest numpy and xarray (and
netCDF4 for the field history, matplotlib for the pictures). docs/ of the sources is the guide.
"""
from .parameters import NAMES, TABLE, ParameterError, read_parameters
from .status import run_status

__all__ = ["NAMES", "TABLE", "ParameterError", "RunError", "read_parameters", "run_status", "open_run", "open_scan",
           "analyse", "plots"]


def __getattr__(name):
    # The parts that need numpy and xarray are imported when first used.
    if name == "RunError":
        from .runs import RunError
        return RunError
    if name in ("plots", "analysis", "runs", "scans", "saturation", "movie"):
        import importlib
        return importlib.import_module(f".{name}", __name__)
    raise AttributeError(f"module 'tavo' has no attribute {name!r}")


def open_run(path):
    from .runs import open_run as _open_run
    return _open_run(path)


def open_scan(path):
    from .scans import open_scan as _open_scan
    return _open_scan(path)


def analyse(run, tmin=None, tmax=None):
    from .analysis import analyse as _analyse
    return _analyse(run, tmin, tmax)


open_run.__doc__ = "The run in directory path as an xarray Dataset (see tavo.runs)."
open_scan.__doc__ = "The scan in directory path as an xarray Dataset (see tavo.scans)."
analyse.__doc__ = "The analysis summary of the run in directory run (see tavo.analysis)."
