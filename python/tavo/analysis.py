"""Time averages with honest error bars, the saturation verdict and the time-averaged spectra of a
run: tavo.analyse(run) and the command tavo-analyse (scripts/analyse in the checkout).

    summary = tavo.analyse("runs/mycase")              # automatic window
    summary = tavo.analyse("runs/mycase", tmin=200)    # a window given by hand
    summary["verdict"], summary["quantities"]["flux"]  # {'mean': ..., 'error': ..., ...}

The method (the quantities, the window, the tests, the errors, the verdict, the spectra) is
described in docs/analysis.md; the statistics are tavo.saturation's. Everything comes through
tavo.open_run, so the run's files are checked first, and the run's state (tavo.status) shapes the
verdict's advice: a run too short is told the time to run to, a stopped one to continue, a crashed
one the program's cause and nothing about continuing (continued, it blows up again).
"""
import argparse
import json
import math
import os
import sys

import numpy as np

from . import saturation
from .parameters import ParameterError, read_parameters
from .runs import SERIES, RunError, note, open_run, series_entry

ERROR_METHOD = ("integrated autocorrelation time (Sokal window M >= 5 tau_int): "
                "error = sqrt(2 tau_int var / n)")
# The quantities of the summary: name, the series it is made of, the sign it is taken with.
QUANTITIES = (("flux", "flux", 1.0), ("Gamma_c", "coupling", -1.0), ("enn", "enn", 1.0), ("E_K", "E_K", 1.0),
              ("E", "E", 1.0), ("EZ_over_EK", "EZ_over_EK", 1.0))
GAMMA_C = ("parallel-coupling flux Gamma_c = C <(phi - n_e)^2>, the coupling rate with its sign turned",
           series_entry("coupling")[4])
ENSTROPHY = ("potential enstrophy U = 1/2 <(n_e - nabla^2 phi)^2>, over the frames of tavo.nc",
             "n0^2 rho_s^2/L_perp^2")
# The floor of E_K and E_Z in eng.dat (before the factor 1/delta^2): written when the sum is zero.
FLOW_FLOOR = 1e-12


def shell_spectra(field, hy):
    """Shell wavenumbers k and shell sums of |f_k|^2 and k^2 |f_k|^2 of one field [x][y],
    normalised so that the sum over the shells of |f_k|^2 is the grid average of f^2."""
    nx, ny = field.shape
    fk = np.fft.fft2(field) / (nx * ny)
    power = np.abs(fk) ** 2
    kx = 2 * np.pi * np.fft.fftfreq(nx, d=1.0 / hy)
    ky = 2 * np.pi * np.fft.fftfreq(ny, d=1.0 / hy)
    k = np.sqrt(kx[:, None] ** 2 + ky[None, :] ** 2)
    dk = min(2 * np.pi * hy / nx, 2 * np.pi * hy / ny)
    shell = np.rint(k / dk).astype(int)
    bins = shell.max() + 1
    sums = np.bincount(shell.ravel(), weights=power.ravel(), minlength=bins)
    ksums = np.bincount(shell.ravel(), weights=(k ** 2 * power).ravel(), minlength=bins)
    return dk * np.arange(bins), sums, ksums


def _version(ds, run):
    """The version of the program that made the run: the history's, else the checkpoint's."""
    if "version" in ds.attrs:
        return str(ds.attrs["version"])
    try:
        import netCDF4
        with netCDF4.Dataset(os.path.join(run, "restart.nc")) as nc:
            return str(nc.getncattr("version"))
    except Exception:  # no checkpoint, or an older one without the attribute
        return "unknown"


def _round_up(t):
    """t rounded up to two significant digits."""
    if t <= 0:
        return t
    scale = 10 ** (math.floor(math.log10(t)) - 1)
    return math.ceil(t / scale - 1e-9) * scale


def _window(times, series, tmin, tmax, notes):
    """The decision of tavo.saturation on the window chosen by hand or automatically."""
    n = len(times)
    if tmin is None and tmax is None:
        decision = saturation.decide_window(times, series, ["E", "flux"])
        method = ("from the end of the initial transient (marginal standard error rule on E = E_K + enn and on "
                  "the flux, the later start) to the last good output")
    else:
        first = 0 if tmin is None else int(np.searchsorted(times, tmin, side="left"))
        last = n if tmax is None else int(np.searchsorted(times, tmax, side="right"))
        if last - first < 4:
            raise RunError(f"| the window t = {tmin if tmin is not None else times[0]:.6g} … "
                           f"{tmax if tmax is not None else times[-1]:.6g} holds {max(last - first, 0)} outputs of the "
                           f"series (t = {times[0]:.6g} … {times[-1]:.6g}); at least 4 are needed")
        decision = saturation.decide_window(times, series, ["E", "flux"], first=first, last=last)
        if decision["end_of_good"] < last:
            raise RunError(f"| the window t = {times[first]:.6g} … {times[last - 1]:.6g} holds records of a blow-up "
                           f"from t = {times[decision['end_of_good']]:.6g} on (not finite, or grown faster than any "
                           f"physical rate): end it before that (--tmax)")
        method = "given by hand (--tmin/--tmax)"
    if decision["end_of_good"] < n:
        note(notes, f"the records from t = {times[decision['end_of_good']]:.6g} on belong to a blow-up (not finite, or "
             "grown faster than any physical rate): the window ends before them")
    first, last = decision["first"], decision["last"]
    if last - first < 4:
        raise RunError(f"| the window holds {max(last - first, 0)} outputs of good records; at least 4 are needed")
    return decision, {"t_start": float(times[first]), "t_end": float(times[last - 1]), "method": method}


def _averages(values, dt_out, long_name, units):
    """Mean, error and tau_int (in time units) of a window's values."""
    mean, error, tau, tau_error = saturation.mean_and_error(values)
    return {"mean": mean, "error": error, "long_name": long_name, "units": units, "tau_int": tau * dt_out,
            "tau_int_error": tau_error * dt_out, "samples": len(values),
            "rough": len(values) < saturation.MIN_TAU_WINDOWS * tau}


def _frames(ds, window, notes):
    """Enstrophy and time-averaged shell spectra over the frames of the window; (None, None)
    without a history or frames in the window."""
    if "ne" not in ds or ds.sizes.get("time", 0) == 0:
        note(notes, "no field history tavo.nc: no enstrophy, no spectra")
        return None, None
    inside = ds.sel(time=slice(window["t_start"], window["t_end"]))
    frames = inside.sizes["time"]
    if frames == 0:
        note(notes, "no frame of tavo.nc lies in the window: no enstrophy, no spectra")
        return None, None
    y = ds["y"].values
    hy = 1.0 / (y[1] - y[0]) if len(y) > 1 else 1.0
    totals = {"ne": 0.0, "phi": 0.0, "kinetic": 0.0}
    mean_square = {"ne": 0.0, "phi": 0.0}
    enstrophy = np.empty(frames)
    for r in range(frames):
        fields = {name: inside[name].isel(time=r).values.astype(float) for name in ("ne", "phi", "vorticity")}
        enstrophy[r] = 0.5 * np.mean((fields["ne"] - fields["vorticity"]) ** 2)
        for name in ("ne", "phi"):
            k, sums, ksums = shell_spectra(fields[name], hy)
            totals[name] = totals[name] + sums / frames
            if name == "phi":
                totals["kinetic"] = totals["kinetic"] + ksums / frames
            mean_square[name] += np.mean(fields[name] ** 2) / frames
    times = inside["time"].values
    step = float(np.median(np.diff(times))) if frames > 1 else 0.0
    quantity = _averages(enstrophy, step, ENSTROPHY[0], ENSTROPHY[1]) if frames >= 4 else None
    if quantity is None:
        note(notes, f"the window holds {frames} frame(s) of tavo.nc, fewer than 4: no enstrophy")
    spectra = {"frames": frames,
               "parseval": {name: {"sum_spectrum": float(np.sum(totals[name])),
                                   "grid_mean_square": float(mean_square[name])} for name in ("ne", "phi")},
               "k": k.tolist(), "power_ne": totals["ne"].tolist(), "power_phi": totals["phi"].tolist(),
               "kinetic": totals["kinetic"].tolist()}
    return quantity, spectra


def _finite(value):
    """value with every number that is not finite replaced by None (JSON has no inf)."""
    if isinstance(value, dict):
        return {k: _finite(v) for k, v in value.items()}
    if isinstance(value, (list, tuple)):
        return [_finite(v) for v in value]
    if isinstance(value, (float, np.floating)):
        return float(value) if np.isfinite(value) else None
    return value


def _verdict(decision, window, status, by_hand, times, series):
    """One sentence: saturated or not, why, what to do."""
    state, at = status["state"], status.get("t")
    after = ""
    if state == "crashed":
        after = f"; the run {status['message']}"
    elif state == "stopped":
        after = f"; the run was {status['message']}"
    elif state == "running":
        after = f"; the run is still {status['message']}"
    elif state in ("ended early", "failed"):
        after = f"; the run {status['message']}"
    if decision["saturated"]:
        return (f"saturated: the window t = {window['t_start']:.6g} … {window['t_end']:.6g} passed every test "
                f"(start, length, halves, drift){after}")
    reason = decision["reason"]
    if by_hand:
        return f"not saturated in the window t = {window['t_start']:.6g} … {window['t_end']:.6g}: {reason}{after}"
    end = window["t_end"]
    if decision["failed"] in ("start", "length") and state != "crashed":
        # The transient lasts at least to the searched start; the next analysis must find it in
        # the first half of the series and keep 20 autocorrelation times after it.
        t0 = times[0]
        first, last = decision["first"], decision["last"]
        dt_out = float(np.median(np.diff(times[first:last])))
        tau = max(saturation.mean_and_error(series[name][first:last])[2] for name in ("E", "flux"))
        needed = _round_up(window["t_start"] + max(window["t_start"] - t0, saturation.MIN_TAU_WINDOWS * tau * dt_out))
        needed = max(needed, _round_up(end * 1.2))
        advice = "" if state in ("running", "stopped") else "; continue it (incon 2)"
        why = (f"for its initial transient ({reason.split(':')[0]} by t = {end:.6g})" if decision["failed"] == "start"
               else f"({reason})")
        return f"not saturated: the run is too short {why}: run to t ≳ {needed:.6g}{advice}{after}"
    advice = "" if state in ("crashed", "running", "stopped") else "; continue the run (incon 2)"
    return f"not saturated by t = {end:.6g}: {reason}{advice}{after}"


def _steps(path):
    """The smallest, mean and largest step of a run with adaptive steps (the series dt_min, dt_max
    and steps of its field history), None without them."""
    history = os.path.join(path, "tavo.nc")
    if not os.path.isfile(history):
        return None
    import xarray as xr
    try:
        with xr.open_dataset(history) as ds:
            if "steps" not in ds:
                return None
            kept = np.isfinite(ds["series_time"].values) & np.isfinite(ds["steps"].values)
            times = ds["series_time"].values[kept]
            shortest, longest, steps = (ds[name].values[kept] for name in ("dt_min", "dt_max", "steps"))
            # The first frame is the output at the start, where the first entry's steps begin.
            start = float(ds["time"].values[0]) if ds.sizes.get("time", 0) else None
    except (OSError, ValueError, KeyError):
        return None  # a damaged history: open_run has said so in the notes
    if len(times) == 0 or steps.sum() <= 0:
        return None
    # Each entry counts the steps since the output before it.
    if start is not None and start < times[0]:
        span, counted = float(times[-1] - start), float(steps.sum())
    elif len(times) > 1 and steps[1:].sum() > 0:
        span, counted = float(times[-1] - times[0]), float(steps[1:].sum())
    else:
        return None
    return {"smallest": float(shortest.min()), "mean": span / counted, "largest": float(longest.max()),
            "steps": int(steps.sum()), "units": "L_perp/c_s"}


def analyse(run, tmin=None, tmax=None):
    """The summary of the run in directory run (a dict, what `tavo-analyse` writes to
    summary.json); tmin/tmax give the window by hand. Raises tavo.RunError with a "|" line when
    the run cannot be analysed."""
    with open_run(run) as ds:
        notes = list(ds.attrs["notes"])
        path = ds.attrs["run"]
        for name in ("E", "flux"):
            file = series_entry(name)[0]
            if not os.path.isfile(os.path.join(path, file)):
                raise RunError(f'| no "{file}" in {path}: nothing to analyse')
            if name not in ds or ds.sizes["series_time"] == 0:
                raise RunError(f'| "{file}" of {path} holds no record: nothing to analyse')
        times = ds["series_time"].values
        series = {name: ds[name].values for name in ("E", "flux")}
        decision, window = _window(times, series, tmin, tmax, notes)
        first, last = decision["first"], decision["last"]
        dt_out = float(np.median(np.diff(times[first:last])))
        quantities = {}
        for key, source, sign in QUANTITIES:
            if source not in ds:
                note(notes, f'no "{series_entry(source)[0]}": no {key}')
                continue
            values = sign * ds[source].values[first:last]
            long_name, units = GAMMA_C if key == "Gamma_c" else series_entry(source)[3:5]
            if key == "EZ_over_EK":
                # Without an E x B flow the program writes E_K and E_Z at their floor and the ratio 1.
                d2 = float(ds.attrs.get("delta", 1.0)) ** -2
                no_flow = (np.isclose(ds["E_K"].values[first:last], FLOW_FLOOR * d2, rtol=1e-5, atol=0)
                           & np.isclose(ds["E_Z"].values[first:last], FLOW_FLOOR * d2, rtol=1e-5, atol=0))
                if np.any(no_flow):
                    reason = (f"no E x B flow in {np.count_nonzero(no_flow)} of the window's {last - first} outputs "
                              "(E_K and E_Z at the program's floor 1e-12, and the ratio written as 1)")
                    quantities[key] = {"mean": None, "error": None, "undefined": reason, "long_name": long_name,
                                       "units": units}
                    note(notes, f"E_Z/E_K is undefined: {reason}")
                    continue
            quantities[key] = _averages(values, dt_out, long_name, units)
        enstrophy, spectra = _frames(ds, window, notes)
        if enstrophy is not None:
            quantities["enstrophy"] = enstrophy
        rough = [key for key, q in quantities.items() if q.pop("rough", False)]
        if rough:
            note(notes, f"the window holds fewer than {saturation.MIN_TAU_WINDOWS:g} autocorrelation times of "
                 f"{', '.join(rough)}: their error bars are rough")
        status = ds.attrs["status"]
        summary = {"program": "tavo", "version": _version(ds, path), "run": path, "status": status,
                   "saturated": bool(decision["saturated"])}
        if not decision["saturated"]:
            summary["reason"] = decision["reason"]
        summary["verdict"] = _verdict(decision, window, status, tmin is not None or tmax is not None, times,
                                      {name: ds[name].values for name in ("E", "flux")})
        summary.update({"window": window, "error_method": ERROR_METHOD, "quantities": quantities,
                        "saturation_tests": _finite(decision["tests"])})
        if spectra:
            summary["spectra"] = spectra
        steps = _steps(path)
        if steps:
            summary["steps"] = steps
        for key, q in quantities.items():
            if q["mean"] is not None and not (np.isfinite(q["mean"]) and np.isfinite(q["error"])):
                raise RunError(f"| the mean or error of {key} is not finite: the window holds records that are not "
                               "numbers")
        try:
            summary["parameters"] = read_parameters(path)
        except (OSError, ParameterError) as error:
            note(notes, f"no parameters in the summary: {error}")
        summary["notes"] = notes
    return summary


def write_summary(run, summary):
    """summary.json of the run, written whole under a temporary name and renamed."""
    path = os.path.join(run, "summary.json")
    text = json.dumps(summary, indent=2, allow_nan=False)
    with open(path + ".tmp", "w") as out:
        out.write(text + "\n")
    os.replace(path + ".tmp", path)
    return path


def report(summary):
    """The lines the command prints on standard output."""
    window = summary["window"]
    lines = [f"| window t = {window['t_start']:.6g} … {window['t_end']:.6g} ({window['method']})",
             f"| error: {summary['error_method']}"]
    for key, q in summary["quantities"].items():
        if q["mean"] is None:
            lines.append(f"| {key:<11} undefined: {q['undefined']}")
        else:
            lines.append(f"| {key:<11} {q['mean']:13.6e} ± {q['error']:.2e}   tau_int = {q['tau_int']:.3g} ± "
                         f"{q['tau_int_error']:.2g}   {q['long_name']}")
    steps = summary.get("steps")
    if steps:
        lines.append(f"| steps: {steps['steps']}, dt from {steps['smallest']:.4g} to {steps['largest']:.4g}, "
                     f"mean {steps['mean']:.4g}")
    spectra = summary.get("spectra")
    if spectra:
        for name, p in spectra["parseval"].items():
            lines.append(f"| Parseval {name}: sum of |{name}_k|^2 = {p['sum_spectrum']:.6e}, grid average of "
                         f"{name}^2 = {p['grid_mean_square']:.6e} ({spectra['frames']} frames)")
    lines.append(f"| {summary['verdict']}")
    return lines


def main(argv=None):
    """tavo-analyse RUN [--tmin T] [--tmax T] [--no-plot]"""
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0],
                                     formatter_class=argparse.RawDescriptionHelpFormatter,
                                     epilog="Writes RUN/summary.json and RUN/plots/spectra_time_averaged.png. Exit "
                                     "status 0 (also for a run that is not saturated: the verdict says so), or 1 with "
                                     'a line starting with "|" on standard error. The method: docs/analysis.md.')
    parser.add_argument("run", metavar="RUN", help="directory of a tavo run")
    parser.add_argument("--tmin", type=float, help="start of the window (default: the end of the transient)")
    parser.add_argument("--tmax", type=float, help="end of the window (default: the last good output)")
    parser.add_argument("--no-plot", action="store_true", help="draw no picture")
    args = parser.parse_args(argv)
    try:
        summary = analyse(args.run, args.tmin, args.tmax)
        print("\n".join(report(summary)))
        path = write_summary(summary["run"], summary)
        if not args.no_plot and "spectra" in summary:
            from .plots import draw_time_averaged_spectra
            draw_time_averaged_spectra(summary["run"], summary)
        print(f"| summary written to {path}")
    except (RunError, OSError) as failure:
        text = str(failure)
        print(f"| analyse: {text[2:] if text.startswith('| ') else text}", file=sys.stderr)
        return 1
    return 0
