"""The tables of a scan: the full-precision CSV files, the tables a paper takes (text and LaTeX), and
the table of our means beside published values (Markdown).

A paper's value is written value(error): the error rounded to two significant digits when its
first digit is 1 or 2, else to one, and the value rounded to the same decimal place, so 0.9137 ±
0.0174 is 0.914(17) and 3.1628 ± 0.0598 is 3.16(6). The coupling is given as C = |chat|, with the
kind of coupling its sign chooses (ordinary below 0, modified otherwise) said once for the table
or, when the scan holds both, in a column of its own.
"""
import csv
import math
import os
import subprocess

import numpy as np

from ..parameters import BY_NAME
from .collect import quantities

# Symbols of the analysed quantities: (text, LaTeX); the brackets are the time average.
SYMBOLS = {"flux": ("⟨Γn⟩", r"$\langle\Gamma_n\rangle$"), "enn": ("⟨E_n⟩", r"$\langle E_n\rangle$"),
           "E_K": ("⟨E_K⟩", r"$\langle E_K\rangle$"), "E": ("⟨E⟩", r"$\langle E\rangle$"),
           "EZ_over_EK": ("⟨E_Z/E_K⟩", r"$\langle E_Z/E_K\rangle$")}
# Symbols of scanned values: (text, LaTeX); chat is shown as C = |chat|.
PARAMETERS = {"chat": ("C", "$C$"), "iseed": ("seed", "seed"), "taui": ("τi", r"$\tau_i$"),
              "delta": ("δ", r"$\delta$"), "diff": ("ν", r"$\nu$"), "ly": ("Ly", "$L_y$"), "dt": ("dt", r"$\Delta t$"),
              "sigma": ("σ", r"$\sigma$"), "amp": ("amp", "amp"), "nx": ("nx", "$n_x$"), "ny": ("ny", "$n_y$")}
# The factors of the units: (text, LaTeX).
FACTORS = {"n0": ("n₀", "n_0"), "T_e": ("Tₑ", "T_e"), "c_s": ("cₛ", "c_s"), "rho_s": ("ρₛ", r"\rho_s"),
           "L_perp": ("L⊥", r"L_\perp")}
SUPERSCRIPTS = str.maketrans("0123456789p-", "⁰¹²³⁴⁵⁶⁷⁸⁹ᵖ⁻")
DASH = "–"


# ---- numbers and units ----

def with_error(value, error, tex=False):
    """value(error) as a paper writes it (see the module's description); the value alone (six
    digits) when the error is not a positive number, and a dash for no value."""
    if value is None or not math.isfinite(value):
        return DASH
    if error is None or not math.isfinite(error) or error <= 0:
        return f"{value:.6g}"
    scale = math.floor(math.log10(max(abs(value), error)))
    if scale >= 5 or scale <= -4:
        mantissa = with_error(value / 10 ** scale, error / 10 ** scale)
        return f"{mantissa}\\times10^{{{scale}}}" if tex else f"{mantissa}e{scale}"
    exponent = math.floor(math.log10(error))
    digits = 2 if error / 10 ** exponent < 3 else 1
    decimals = digits - 1 - exponent
    rounded = round(error, decimals)
    if rounded >= 3 * 10 ** exponent and digits == 2 or rounded >= 10 ** (exponent + 1):
        # rounding moved the first digit (0.096 -> 0.10): the rule again on the rounded error
        exponent = math.floor(math.log10(rounded))
        digits = 2 if rounded / 10 ** exponent < 3 else 1
        decimals = digits - 1 - exponent
    if decimals > 0:
        return f"{value:.{decimals}f}({round(error * 10 ** decimals):d})"
    step = 10 ** -decimals
    return f"{round(value / step) * step:d}({round(error / step) * step:d})"


def column_power(largest):
    """The power of ten a column of numbers up to `largest` (in magnitude) is given in: 0 unless
    they would need more than three leading zeros or five digits before the point."""
    if not math.isfinite(largest) or largest == 0:
        return 0
    power = math.floor(math.log10(largest))
    return power if power >= 5 or power <= -4 else 0


def units(text, tex=False):
    """The units of the parameter and series tables ("n0 c_s rho_s^2/L_perp^2") in proper notation:
    n₀ cₛ ρₛ²/L⊥² or, for LaTeX, n_0 c_s \\rho_s^{2}/L_\\perp^{2}; "" for a pure number."""
    if text in ("", "1", "-"):
        return ""
    parts = []
    for k, part in enumerate(text.split("/")):
        factors = []
        for word in part.split():
            base, _, power = word.partition("^")
            symbol = FACTORS.get(base, (base, base))[1 if tex else 0]
            if power:
                symbol += f"^{{{power}}}" if tex else power.translate(SUPERSCRIPTS)
            factors.append(symbol)
        parts.append((r"\," if tex else " ").join(factors))
    return "/".join(parts)


def symbol(name, tex=False):
    """The symbol of a quantity or scanned value."""
    table = SYMBOLS if name in SYMBOLS else PARAMETERS
    if name in table:
        return table[name][1 if tex else 0]
    return name.replace("_", r"\_") if tex else name


def unit_of(ds, name, tex=False):
    """The units of a quantity (its attribute) or scanned value (the parameter table)."""
    if name in BY_NAME and name not in ds.data_vars:
        text = BY_NAME[name]["unit"]
        if text in ("points", "steps", "threads", "outputs"):
            return ""
    else:
        text = ds[name].attrs.get("units", "")
    shown = units(text, tex)
    return f"${shown}$" if tex and shown else shown


def shown(value):
    """A coordinate value as text: whole numbers without a point, others in their shortest form."""
    if isinstance(value, (int, np.integer)):
        return str(int(value))
    return f"{float(value):.15g}"


def coupling_kind(chat):
    return "ordinary" if chat < 0 else "modified"


def coupling_note(ds, names):
    """(the note on the coupling for the table's head, whether the table needs a column of kinds)."""
    if "chat" in names:
        values = [float(v) for v in np.atleast_1d(ds["chat"].values)]
    elif "chat" in ds.attrs.get("base", {}):
        values = [float(ds.attrs["base"]["chat"])]
    else:
        return "", False
    kinds = {coupling_kind(v) for v in values}
    if len(kinds) > 1:
        return "C = |chat|; the column coupling says which: ordinary (chat < 0) or modified (zonal parts uncoupled)", True
    kind = kinds.pop()
    shown_c = "" if "chat" in names else f" = {abs(values[0]):g} (the base file's)"
    what = ("chat < 0: the ordinary coupling" if kind == "ordinary"
            else "chat >= 0: the modified coupling (zonal parts uncoupled)")
    return f"C{shown_c} = |chat|; {what}", False


def index_of(ds, point):
    """The index of a point (its directory) in the scan's dataset."""
    found = np.argwhere(ds["point"].values == point)
    return tuple(found[0]) if len(found) else None


def coordinate(ds, name, index):
    """The value of coordinate name at the dataset index."""
    dim = ds[name].dims[0]
    return ds[name].values[index[list(ds["saturated"].dims).index(dim)]]


# ---- the CSV files ----

def write_csv(out, record, ds, seeds):
    """OUT/collect.csv (every point with a usable summary, values as scanned, numbers at full
    precision) and, with seeds, OUT/ensemble.csv."""
    names = record["parameters"]
    found = quantities(ds)
    header = names + [f"{q}_{part}" for q in found for part in ("mean", "error")] + ["saturated", "reason"]
    with open(os.path.join(out, "collect.csv"), "w", newline="") as f:
        w = csv.writer(f)
        w.writerow(header)
        for entry in record["points"]:
            if entry["dir"] in ds.attrs["missing"]:
                continue
            index = index_of(ds, entry["dir"])
            w.writerow([entry["values"][n] for n in names]
                       + [repr(float(ds[q + part].values[index])) for q in found for part in ("", "_error")]
                       + ["true" if ds["saturated"].values[index] else "false", ds["reason"].values[index]])
    if seeds is None:
        return
    others = [n for n in names if n != "iseed"]
    header = (others + ["seeds"] + [f"{q}_{part}" for q in found for part in ("mean", "spread", "error")]
              + ["saturated_seeds", "saturated"])
    with open(os.path.join(out, "ensemble.csv"), "w", newline="") as f:
        w = csv.writer(f)
        w.writerow(header)
        for index in ensemble_rows(ds, seeds):
            number = (lambda x: "" if not math.isfinite(x) else repr(float(x)))
            w.writerow([shown(coordinate(seeds, n, index)) for n in others] + [int(seeds["seeds"].values[index])]
                       + [number(seeds[q + part].values[index]) for q in found for part in ("", "_spread", "_error")]
                       + [int(seeds["saturated_seeds"].values[index]),
                          "true" if seeds["saturated"].values[index] else "false"])


def ensemble_rows(ds, seeds):
    """The indices of the ensembles that hold at least one point of the scan."""
    moved = ds["point"].transpose(*seeds["seeds"].dims, "iseed").values
    return [index for index in np.ndindex(*seeds["seeds"].shape) if any(p for p in moved[index])]


def point_rows(ds):
    return [index for index in np.ndindex(*ds["point"].shape) if ds["point"].values[index]]


def in_order(table, names, rows):
    """The rows in the order of the values a table shows (C = |chat|, then the others)."""
    def key(index):
        values = [coordinate(table, n, index) for n in names]
        return tuple((abs(v), v) if n == "chat" else (v, v) for n, v in zip(names, values))
    return sorted(rows, key=key)


# ---- the tables a paper takes ----

def powers(table):
    """The power of ten of each quantity's column (see column_power)."""
    found = {}
    for q in quantities(table):
        values = np.abs(table[q].values[np.isfinite(table[q].values)])
        found[q] = column_power(float(values.max())) if values.size else 0
    return found


def _columns(ds, seeds, names, index, row_of, tex, kinds):
    """The cells of one row: the scanned values, the quantities as value(error), saturation."""
    cells = []
    for name in names:
        value = coordinate(row_of, name, index)
        if name == "chat":
            cells.append(shown(abs(value)))
            if kinds:
                cells.append(coupling_kind(value))
        else:
            cells.append(shown(value))
    if row_of is seeds:
        cells.insert(len(cells), str(int(seeds["seeds"].values[index])))
    scale = powers(row_of)
    for q in quantities(ds):
        factor = 10.0 ** -scale[q]
        cells.append(with_error(float(row_of[q].values[index]) * factor,
                                float(row_of[q + "_error"].values[index]) * factor, tex))
        if tex and cells[-1] != DASH:
            cells[-1] = f"${cells[-1]}$"
    if row_of is seeds:
        good, count = int(seeds["saturated_seeds"].values[index]), int(seeds["seeds"].values[index])
        cells.append(("yes" if seeds["saturated"].values[index] else "no") + f" ({good} of {count})")
    elif ds["point"].values[index] in ds.attrs["missing"]:
        cells.append("no summary")
    else:
        cells.append("yes" if ds["saturated"].values[index] else "no")
    return cells


def _header(ds, table, names, seeds_table, tex, kinds):
    head, unit = [], []
    for name in names:
        head.append(symbol(name, tex))
        unit.append(unit_of(ds, name, tex))
        if name == "chat" and kinds:
            head.append("coupling")
            unit.append("")
    if seeds_table:
        head.append("seeds")
        unit.append("")
    scale = powers(table)
    for q in quantities(ds):
        head.append(symbol(q, tex))
        shown_unit = unit_of(ds, q, tex)
        if scale[q]:
            power = f"$10^{{{scale[q]}}}$" if tex else "10" + str(scale[q]).translate(SUPERSCRIPTS)
            shown_unit = power + (" " + shown_unit if shown_unit else "")
        unit.append(shown_unit)
    return head + ["saturated"], unit + [""]


def _aligned(rows):
    widths = [max(len(r[c]) for r in rows) for c in range(len(rows[0]))]
    return "\n".join("  ".join(r[c].rjust(widths[c]) for c in range(len(r))).rstrip() for r in rows) + "\n"


def _explained(ds):
    """The lines of the points that are not saturated, and of those without a usable summary."""
    unsettled, missing = [], []
    for index in point_rows(ds):
        point, why = ds["point"].values[index], ds["reason"].values[index]
        if point in ds.attrs["missing"]:
            missing.append(f"  {point}: {why}")
        elif not ds["saturated"].values[index]:
            unsettled.append(f"  {point}: {why}")
    return unsettled, missing


def text_tables(ds, seeds, names):
    """OUT/collect.txt: every run, and the ensembles over the seeds, as a paper's table in text."""
    note, kinds = coupling_note(ds, names)
    text = [f"# The scan {os.path.basename(ds.attrs['scan'])}: each quantity's mean over the run's averaging window,",
            "# with the error of its last digits in parentheses: 0.914(17) is 0.914 ± 0.017 (the standard error",
            "# from the integrated autocorrelation time, as the summaries give it)."]
    if note:
        text.append(f"# {note}.")
    head, unit = _header(ds, ds, names, False, False, kinds)
    rows = [head, unit] + [_columns(ds, seeds, names, i, ds, False, kinds) for i in in_order(ds, names, point_rows(ds))]
    text += ["", "Every run", _aligned(rows).rstrip("\n")]
    if seeds is not None:
        others = [n for n in names if n != "iseed"]
        head, unit = _header(ds, seeds, others, True, False, kinds)
        rows = [head, unit] + [_columns(ds, seeds, others, i, seeds, False, kinds)
                               for i in in_order(seeds, others, ensemble_rows(ds, seeds))]
        text += ["", "Over the seeds: the mean of the runs' means, with the combined error sqrt(s²/m + Σ e_i²/m²) of",
                 "the seeds' spread s and the runs' own errors e_i (m seeds)", _aligned(rows).rstrip("\n")]
    unsettled, missing = _explained(ds)
    if unsettled:
        text += ["", "Not saturated (their means are given for what they are):"] + unsettled
    if missing:
        text += ["", "Without a usable summary:"] + missing
    return "\n".join(text) + "\n"


def tex_tables(ds, seeds, names):
    """OUT/collect.tex: the tables of collect.txt as LaTeX tabulars."""
    note, kinds = coupling_note(ds, names)

    def tabular(head, unit, rows, caption):
        lines = [f"% {caption}", r"\begin{tabular}{" + "r" * len(head) + "}", r"\hline",
                 " & ".join(head) + r" \\", " & ".join(unit) + r" \\", r"\hline"]
        lines += [" & ".join(row) + r" \\" for row in rows]
        return lines + [r"\hline", r"\end{tabular}", ""]

    text = [f"% The scan {os.path.basename(ds.attrs['scan'])}: means over the averaging windows as value(error).",
            f"% {note}." if note else "%"]
    head, unit = _header(ds, ds, names, False, True, kinds)
    text += tabular(head, unit, [_columns(ds, seeds, names, i, ds, True, kinds)
                                 for i in in_order(ds, names, point_rows(ds))], "every run")
    if seeds is not None:
        others = [n for n in names if n != "iseed"]
        head, unit = _header(ds, seeds, others, True, True, kinds)
        text += tabular(head, unit, [_columns(ds, seeds, others, i, seeds, True, kinds)
                                     for i in in_order(seeds, others, ensemble_rows(ds, seeds))],
                        "over the seeds: mean and combined error of the seeds' spread and the runs' errors")
    return "\n".join(text) + "\n"


# ---- our means beside published values ----

BEGIN = "<!-- published-table begin -->"
END = "<!-- published-table end -->"


def commit(top):
    """The commit of the checkout top, marked when it holds changes that are not committed."""
    try:
        head = subprocess.run(["git", "-C", top, "rev-parse", "--short=12", "HEAD"], capture_output=True,
                              text=True, check=True).stdout.strip()
        dirty = subprocess.run(["git", "-C", top, "status", "--porcelain", "--untracked-files=no"],
                               capture_output=True, text=True, check=True).stdout.strip()
        return head + (" with changes not committed" if dirty else "")
    except (OSError, subprocess.CalledProcessError):
        return "unknown (not a git checkout)"


def read_published(path):
    """The published values: rows of C, quantity, mean, spread, saturated_after, source."""
    from .points import ScanError
    try:
        with open(path, newline="") as f:
            rows = list(csv.DictReader(f))
    except OSError as e:
        raise ScanError(f"cannot read the published values {path}: {e.strerror}")
    needed = {"C", "quantity", "mean", "spread", "saturated_after", "source"}
    if not rows or not needed <= set(rows[0]):
        raise ScanError(f"{path} needs the columns {','.join(sorted(needed))}")
    for row in rows:
        if not row["source"].strip():
            raise ScanError(f"{path}: the value {row['mean']} at C = {row['C']} has no source")
        try:
            float(row["C"]), float(row["mean"])
            float(row["spread"]) if row["spread"].strip() else None
        except ValueError:
            raise ScanError(f"{path}: C, mean and spread are numbers (spread may be empty): {row}")
    return rows


def by_coupling(ds):
    """Our points grouped by C = |chat|: {C: [(index, point)]} over every other dimension but the
    seeds. Refuses a scan that varies more than chat and iseed."""
    from .points import ScanError
    extra = [d for d in ds["point"].dims if d not in ("chat", "iseed")]
    if extra:
        raise ScanError(f"the published values are compared over C and the seeds; this scan also varies "
                        f"{', '.join(extra)}")
    groups = {}
    for index in point_rows(ds):
        chat = coordinate(ds, "chat", index) if "chat" in ds.coords else ds.attrs["base"].get("chat", math.nan)
        groups.setdefault(abs(float(chat)), []).append(index)
    return groups


def published_table(ds, published, top, quantity=None):
    """The Markdown table of our means over the seeds beside the published values (ds None: a scan
    that has not run, the published values alone)."""
    from .. import saturation
    groups = by_coupling(ds) if ds is not None else {}
    lines = ["| C | ours: mean(error), seeds | saturated | window | published ± spread | saturated after | "
             "source | ours − published |", "|---|---|---|---|---|---|---|---|"]
    rows = [r for r in published if quantity is None or r["quantity"] == quantity]
    for c in sorted(set(groups) | {float(r["C"]) for r in rows}):
        matching = [r for r in rows if math.isclose(float(r["C"]), c)]
        for name in sorted({r["quantity"] for r in matching}) or ["flux"]:
            members = groups.get(c, [])
            usable = [i for i in members if ds["point"].values[i] not in ds.attrs["missing"]]
            mean = error = None
            settled = False
            if not members:
                text, flag, window = ("not in the scan" if ds is not None else "not measured yet"), "", ""
            elif not usable:
                text, flag, window = "not measured", "", ""
            else:
                if name not in ds.data_vars:
                    from .points import ScanError
                    raise ScanError(f"the summaries hold no quantity {name}")
                mean, _, error = saturation.ensemble([float(ds[name].values[i]) for i in usable],
                                                     [float(ds[name + "_error"].values[i]) for i in usable])
                good = sum(1 for i in usable if ds["saturated"].values[i])
                settled = good == len(usable)
                lacking = len(members) - len(usable)
                flag = ("yes" if settled else "**no**") + f" ({good} of {len(usable)})" + (
                    f", {lacking} without a summary" if lacking else "")
                window = (f"t {np.nanmin([ds['t_start'].values[i] for i in usable]):.4g}–"
                          f"{np.nanmax([ds['t_end'].values[i] for i in usable]):.4g}")
                text = f"{with_error(mean, error)}, {len(usable)} seed" + ("s" if len(usable) > 1 else "")
            text = f"{symbol(name)} {text}"
            for k, ref in enumerate([r for r in matching if r["quantity"] == name] or [None]):
                first = k == 0
                cells = [f"{c:g}" if first else "", text if first else "", flag if first else "",
                         window if first else ""]
                if ref is None:
                    cells += ["", "", "", ""]
                else:
                    value = float(ref["mean"])
                    spread = float(ref["spread"]) if ref["spread"].strip() else None
                    cells += [ref["mean"] + (f" ± {ref['spread']}" if spread is not None else ""),
                              (ref["saturated_after"] + "+") if ref["saturated_after"].strip() else "",
                              ref["source"]]
                    if mean is None:
                        cells.append("")
                    elif not settled:
                        cells.append("— (not saturated)")
                    else:
                        both = math.hypot(error, spread or 0.0)
                        cells.append(f"{mean - value:+.3g} ({100 * (mean - value) / value:+.0f} %, "
                                     f"{abs(mean - value) / both:.1f} σ)" if both > 0 else f"{mean - value:+.3g}")
                lines.append("| " + " | ".join(cells) + " |")
    if ds is None:
        lines += ["", f"Generated by `scripts/published-table --unmeasured` at commit {commit(top)}: the published "
                  "values and their sources, before any run."]
        return "\n".join(lines) + "\n"
    unsettled = [(c, i) for c, members in sorted(groups.items()) for i in members
                 if ds["point"].values[i] not in ds.attrs["missing"] and not ds["saturated"].values[i]]
    if unsettled:
        lines += ["", "Not saturated (their means are given for what they are, and compared with nothing):", ""]
        lines += [f"- C = {c:g}, {ds['point'].values[i]}: {ds['reason'].values[i]}" for c, i in unsettled]
    scan = os.path.basename(os.path.normpath(ds.attrs["scan"]))
    lines += ["", f"Generated by `scripts/published-table` from the summaries in {scan} (program version "
              f"{', '.join(ds.attrs['versions']) or 'unknown'}) at commit {commit(top)}. mean(error): the error "
              "of the last digits; σ: the difference over the combined error and published spread (our error "
              "alone where no spread is published)."]
    return "\n".join(lines) + "\n"


def replace_marked(path, text):
    """Put text between the lines BEGIN and END of the file path."""
    from .points import ScanError
    try:
        with open(path) as f:
            readme = f.read()
    except OSError as e:
        raise ScanError(f"cannot read {path}: {e.strerror}")
    if readme.count(BEGIN) != 1 or readme.count(END) != 1 or readme.index(BEGIN) > readme.index(END):
        raise ScanError(f"{path} needs one line {BEGIN} and, after it, one line {END}")
    head, rest = readme.split(BEGIN)
    _, tail = rest.split(END)
    with open(path, "w") as f:
        f.write(head + BEGIN + "\n" + text + END + tail)

