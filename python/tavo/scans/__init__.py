"""tavo.scans: the scans of the tavo program, from the points and their runs to the paper's tables.

    import tavo.scans
    ds = tavo.scans.open_scan("runs/coupling")   # xarray Dataset over the scanned values
    seeds = tavo.scans.ensemble(ds)               # the ensembles over iseed
    tavo.scans.collect("runs/coupling")           # collect.csv, collect.txt, collect.tex, the plot

points.py holds the scan's layout and the state of its points (standard library only), run.py makes
and runs them (GNU parallel, Slurm), collect.py reads them, tables.py and plot.py write the
tables and the plot; command.py is the command tavo-scan (scripts/scan in a checkout).
"""
from .points import ScanError

__all__ = ["ScanError", "open_scan", "ensemble", "collect"]


def open_scan(path):
    from .collect import open_scan as _open_scan
    return _open_scan(path)


def ensemble(ds, over="iseed"):
    from .collect import ensemble as _ensemble
    return _ensemble(ds, over)


def collect(path, quantity="flux", against=None, tmin=None, tmax=None):
    from .collect import collect as _collect
    return _collect(path, quantity, against, tmin, tmax)


open_scan.__doc__ = "The scan in directory path as an xarray Dataset (see tavo.scans.collect)."
ensemble.__doc__ = "The ensembles over the seeds of an open_scan dataset (see tavo.scans.collect)."
collect.__doc__ = "Write a scan's tables and plot; returns (table text, report lines, exit status)."
