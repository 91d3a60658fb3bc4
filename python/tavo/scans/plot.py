"""The plot of a scan: one quantity's mean against one scanned value, OUT/<quantity>_vs_<name>.png.

Markers with error bars and no line through them (the points are separate runs, nothing is known
between them): each run's mean with its error, or, when iseed is scanned and the plot is against
another value, each ensemble's mean over the seeds with its combined error. Points that are not
saturated are open grey markers. The coupling is drawn as C = |chat|, one series for each kind of
coupling the scan holds. An axis is logarithmic when its values are positive and span a decade or
more. Axes are labelled with the symbols and units in mathematical notation.
"""
import os

import numpy as np

from .tables import column_power, coordinate, coupling_kind, ensemble_rows, point_rows, shown, symbol, unit_of


def _label(ds, name, power=0):
    unit = unit_of(ds, name, tex=True)
    if power:
        unit = f"$10^{{{power}}}$" + (f" {unit}" if unit else "")
    return symbol(name, tex=True) + (f" [{unit}]" if unit else "")


def _spans_decades(values):
    values = np.asarray([v for v in values if np.isfinite(v)], dtype=float)
    return len(values) > 1 and np.all(values > 0) and values.max() >= 10 * values.min()


def draw(ds, seeds, quantity, against, names):
    """Draw the plot into the scan's directory; returns the line that says where."""
    import matplotlib
    matplotlib.use("Agg")
    import matplotlib.pyplot as plt

    over_seeds = seeds is not None and against != "iseed"
    table, rows = (seeds, ensemble_rows(ds, seeds)) if over_seeds else (ds, point_rows(ds))
    # One series for each value of the other dimensions (a value paired with `against` is along its
    # dimension), and for each kind of coupling when the scan holds both.
    along = ds[against].dims[0]
    others = [d for d in table["saturated"].dims if d != along and d in table.coords]
    kinds = against == "chat" and len({coupling_kind(float(v)) for v in ds["chat"].values}) > 1
    series = {}  # legend label -> [(x, mean, error, saturated)]
    for index in rows:
        x = float(coordinate(table, against, index))
        key = [f"{coupling_kind(x)} coupling"] if kinds else []
        key += [f"{symbol(n)} = {shown(coordinate(table, n, index))}" for n in others]
        if against == "chat":
            x = abs(x)
        mean, error = float(table[quantity].values[index]), float(table[quantity + "_error"].values[index])
        if np.isfinite(mean):
            series.setdefault(", ".join(key), []).append((x, mean, error, bool(table["saturated"].values[index])))
    # A quantity far from 1 is drawn in units of a power of ten, named in the axis label.
    largest = max((abs(p[1]) for points in series.values() for p in points), default=1.0)
    power = column_power(largest)
    for points in series.values():
        points[:] = [(x, m / 10 ** power, e / 10 ** power, good) for x, m, e, good in points]
    fig, ax = plt.subplots(figsize=(6.4, 4.6))
    unsaturated = False
    for label, points in sorted(series.items()):
        points.sort()
        ax.errorbar([p[0] for p in points], [p[1] for p in points], yerr=[p[2] for p in points], fmt="o",
                            linestyle="none", capsize=3, label=label or None)
        bad = [p for p in points if not p[3]]
        if bad:
            ax.errorbar([p[0] for p in bad], [p[1] for p in bad], yerr=[p[2] for p in bad], fmt="o",
                        linestyle="none", mfc="white", mec="grey", ecolor="grey", capsize=3, zorder=3,
                        label=None if unsaturated else "not saturated")
            unsaturated = True
    every = [p for points in series.values() for p in points]
    if _spans_decades([p[0] for p in every]):
        ax.set_xscale("log")
    if _spans_decades([p[1] for p in every]):
        ax.set_yscale("log")
    ax.set_xlabel(_label(ds, against))
    ax.set_ylabel(_label(ds, quantity, power))
    what = ("mean over the seeds; bars: combined error of their spread and the runs' errors" if over_seeds
            else "each run's mean; bars: its error")
    ax.set_title(what, fontsize=9)
    if any(series) or unsaturated:
        ax.legend(fontsize=8, loc="best")
    fig.tight_layout()
    path = os.path.join(ds.attrs["scan"], f"{quantity}_vs_{against}.png")
    fig.savefig(path, dpi=100)
    plt.close(fig)
    return f"| drew {path}"
