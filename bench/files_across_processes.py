#!/usr/bin/python3
"""Whether a run across processes wrote the files of a run of one process, for grids too large for
the test suite (2048^2 on 4 processes: bench/README.md).

  bench/files_across_processes.py ONE OTHER    the run of one process in ONE, the other in OTHER
                                               (Debian's Python, for its netCDF4)

The rules are those of the tests of runs across processes (tests/parallel/test_processes.cpp):
every variable of a netCDF file agrees to 1e-10 of its largest value (at least a millionth of the
file's largest), a single-precision one also within one unit of its last place; the text files agree word by word, a number to one unit of its last printed digit
(or 1e-10 of its column's largest value, at least a millionth of the file's); the timing report's
lines are left out. Prints one line per file with the variables that differ and by how much; exit status 1 when a file
differs or is missing.
"""
import math
import os
import sys

import netCDF4
import numpy as np

SKIPPED = {"stderr.txt", "stdout.txt", "tavo.lock", "tavo.inp", "log"}


def netcdf_differences(one, other):
    """Per variable that differs: (name, its largest difference relative to its largest value (at
    least a millionth of the file's largest), for a single-precision variable the largest difference
    in units of the larger of its value's last place and that 1e-10, else None); None when the files
    differ in their variables or shapes."""
    with netCDF4.Dataset(one) as a, netCDF4.Dataset(other) as b:
        if set(a.variables) != set(b.variables):
            return None
        values, largest = [], 0.0
        for name, var in a.variables.items():
            x = np.ma.filled(var[...], np.nan)
            y = np.ma.filled(b.variables[name][...], np.nan)
            if x.shape != y.shape:
                return None
            both = ~(np.isnan(x) & np.isnan(y))
            if x[both].size:
                values.append((name, x[both], y[both]))
                largest = max(largest, float(np.max(np.abs(x[both]))))
    rows = []
    for name, x, y in values:
        scale = max(float(np.max(np.abs(x))), 1e-6 * largest)
        diff = np.abs(x.astype(float) - y.astype(float))
        if scale == 0 or diff.max() == 0:
            continue
        units = None
        if x.dtype == np.float32:
            units = float(np.max(diff / np.maximum(np.spacing(np.maximum(np.abs(x), np.abs(y))), 1e-10 * scale)))
        rows.append((name, float(diff.max()) / scale, units))
    return rows


def last_digit(word):
    """The place of the last printed digit of a number ("1.234560e-03": 1e-9); 0 for no number."""
    try:
        float(word)
    except ValueError:
        return 0.0
    mantissa, _, exponent = word.lower().partition("e")
    decimals = len(mantissa) - mantissa.index(".") - 1 if "." in mantissa else 0
    return 10.0 ** ((int(exponent) if exponent else 0) - decimals)


def text_difference(one, other):
    """None when the texts agree (the rules above), else the first difference."""
    def words(path):
        with open(path, errors="replace") as f:
            return [line.split() for line in f if not line.startswith(("| total times", "| rela. times"))]
    a, b = words(one), words(other)
    if len(a) != len(b):
        return f"lines: {len(a)} and {len(b)}"
    column, largest = {}, 0.0
    for line in a:
        for w, word in enumerate(line):
            if last_digit(word) and math.isfinite(float(word)):
                column[w] = max(column.get(w, 0.0), abs(float(word)))
                largest = max(largest, abs(float(word)))
    for n, (la, lb) in enumerate(zip(a, b), 1):
        if len(la) != len(lb):
            return f"words in line {n}"
        for w, (x, y) in enumerate(zip(la, lb)):
            if x == y:
                continue
            unit = max(last_digit(x), last_digit(y))
            roundoff = 1e-10 * max(column.get(w, 0.0), 1e-6 * largest)
            if unit > 0 and abs(float(x) - float(y)) <= max(1.0001 * unit, roundoff):
                continue
            return f"line {n}: {x} and {y}"
    return None


def main():
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    one, other = sys.argv[1:]
    same = True
    for name in sorted(os.listdir(one)):
        if name in SKIPPED or os.path.isdir(os.path.join(one, name)):
            continue
        if not os.path.exists(os.path.join(other, name)):
            print(f"| {name}: missing in {other}")
            same = False
        elif name.endswith(".nc"):
            rows = netcdf_differences(os.path.join(one, name), os.path.join(other, name))
            if rows is None:
                print(f"| {name}: different variables or shapes")
                same = False
                continue
            print(f"| {name}: " + (", ".join(
                f"{v} {d:.1e}" + (f" ({u:.2g} of its last place)" if u is not None else "") for v, d, u in rows)
                or "the same"))
            # a single-precision value may round either way after a round-off change: one unit
            same = same and all(d <= 1e-10 or (u is not None and u <= 1) for _, d, u in rows)
        else:
            d = text_difference(os.path.join(one, name), os.path.join(other, name))
            print(f"| {name}: " + (d or "the same"))
            same = same and d is None
    sys.exit(0 if same else 1)


if __name__ == "__main__":
    main()
