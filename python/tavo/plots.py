"""The pictures of a run, drawn with matplotlib from tavo.open_run: tavo.plots.draw(run) and the
command tavo-plot (scripts/plot in the checkout).

    tavo.plots.draw("runs/mycase")        # PNG pictures in runs/mycase/plots/, their paths returned

Pictures (name: what, from which file):
    density, potential, vorticity,     colour maps of the last output's snapshots (n2d, p2d, w2d,
    nonadiabatic                       i2d.dat) in rho_s with equal axes: x horizontal, y vertical;
                                       a box more than twice as long in y as in x is drawn lying (y
                                       horizontal). Signed fields on a blue-white-red scale centred on
                                       zero that ends at the 99.9th percentile of |value|, one-signed
                                       fields on a sequential one
    energy                             the energies on a log axis (E dashed beside enn), E_Z/E_K below
    flux, transfer, growth             Gamma_n, the transfer rates, the growth rate (and the frequency
                                       of a single-mode run) against time
    spectrum_ky_potential, _density,   the instantaneous spectra of pky_*.dat and pkx_p.dat on log
    _vorticity, _energy,               axes, with the running mean of a continued run
    spectrum_kx_potential
    zonal_flow, zonal_flow_map         the last zonal-flow profile and its x-t map (zfx.dat)
    profiles                           the radial profiles of xprof.dat
    probe_trace, probe_spectra         the windowed trace of probe 1 and the probes' frequency spectra
    overview                           one sheet: density and potential, energies, flux, spectra
    spectra_time_averaged              the time-averaged power spectra of tavo.analyse (drawn by
                                       tavo-analyse)
Every axis carries its quantity and unit. A picture whose input is missing or empty is skipped
with a "|" note; draw returns the paths drawn.
"""
import argparse
import os
import re
import sys

import numpy as np

from .runs import RunError, open_run

COLOURS = ("#0072b2", "#d55e00", "#009e73", "#cc79a7", "#000000")
TIME_LABEL = r"$t$ [$L_\perp/c_s$]"
# Pictures with few points get markers.
FEW = 40


def tex_units(units):
    """A unit of the files ("n0 T_e rho_s^2/L_perp^2") in matplotlib's math notation."""
    if units in ("1", "", None):
        return "1"
    text = units
    for plain, tex in (("rho_s", r"\rho_s"), ("L_perp", r"L_\perp"), ("n0", "n_0"), ("T_e", "T_e"), ("c_s", "c_s")):
        text = text.replace(plain, tex)
    text = re.sub(r"\^(\d+)", r"^{\1}", text)
    return "$" + text.replace(" ", r"\,") + "$"


def label(name, units):
    return f"{name} [{tex_units(units)}]"


def _subplots(rows=1, cols=1, figsize=(9, 7), **options):
    """A figure of its own (no pyplot state, no display needed) and its axes."""
    from matplotlib.figure import Figure
    fig = Figure(figsize=figsize, layout="constrained")
    return fig, fig.subplots(rows, cols, **options)


def _style(n):
    return {"marker": "o", "markersize": 3} if n <= FEW else {}


def _has(ds, *names):
    return all(name in ds and ds[name].size > 0 and np.any(np.isfinite(ds[name].values)) for name in names)


def _at(ds):
    t = ds.attrs.get("status", {}).get("t")
    if t is None and "series_time" in ds.dims and ds.sizes["series_time"]:
        t = float(ds["series_time"].values[-1])
    return f"  ($t$ = {t:.6g})" if t is not None else ""


def field_map(ax, fig, field, x, y, title, units, colorbar=True):
    """A colour map of field[x][y] on the positions x, y (rho_s): x horizontal, or y horizontal when
    the box is more than twice as long in y. Signed fields centred on zero."""
    values = np.asarray(field, dtype=float)
    finite = values[np.isfinite(values)]
    lo, hi = (float(finite.min()), float(finite.max())) if finite.size else (0.0, 1.0)
    clip = float(np.percentile(np.abs(finite), 99.9)) if finite.size else 1.0
    if lo >= 0:
        cmap, vmin, vmax = "viridis", lo, min(hi, clip) if clip > lo else hi
        if vmax <= vmin:
            vmax = vmin + 1.0
    else:
        m = min(max(-lo, hi), clip) if clip > 0 else max(-lo, hi)
        cmap, vmin, vmax = "RdBu_r", -m, m
    dx = x[1] - x[0] if len(x) > 1 else 1.0
    dy = y[1] - y[0] if len(y) > 1 else dx
    lx, ly = len(x) * dx, len(y) * dy
    lying = ly > 2 * lx
    if lying:
        image, extent = values, [y[0] - dy / 2, y[-1] + dy / 2, x[0] - dx / 2, x[-1] + dx / 2]
        names = (r"$y$", r"$x$")
    else:
        image, extent = values.T, [x[0] - dx / 2, x[-1] + dx / 2, y[0] - dy / 2, y[-1] + dy / 2]
        names = (r"$x$", r"$y$")
    shown = ax.imshow(image, origin="lower", extent=extent, cmap=cmap, vmin=vmin, vmax=vmax, interpolation="nearest",
                      aspect="equal")
    ax.set_xlabel(rf"{names[0]} [$\rho_s$]")
    ax.set_ylabel(rf"{names[1]} [$\rho_s$]")
    ax.set_title(title)
    if colorbar:
        long = max(lx, ly) / min(lx, ly) > 2
        fig.colorbar(shown, ax=ax, label=tex_units(units), orientation="horizontal" if long else "vertical",
                     shrink=0.8)
    return lying


def _figure_for_map(x, y):
    dx = x[1] - x[0] if len(x) > 1 else 1.0
    lx, ly = len(x) * dx, len(y) * dx
    ratio = max(lx, ly) / min(lx, ly)
    if ratio > 2:
        return (12, max(3.0, 12 / ratio + 2.2))
    return (9, 7.5)


class Drawing:
    """The pictures of one run: each method draws one picture or notes why not."""

    def __init__(self, ds, out):
        self.ds, self.out = ds, out
        self.drawn, self.notes = [], []

    def skip(self, name, why):
        line = f"| plot: skipped {name}.png: {why}"
        print(line)
        self.notes.append(line)

    def save(self, fig, name):
        path = os.path.join(self.out, name + ".png")
        fig.savefig(path, dpi=100)
        self.drawn.append(path)

    def snapshot(self, name, key, file, title):
        ds = self.ds
        if not _has(ds, key):
            return self.skip(name, f"{file} is missing or empty")
        x, y = ds["x"].values, ds["y"].values
        fig, ax = _subplots(figsize=_figure_for_map(x, y))
        field_map(ax, fig, ds[key].values, x, y, title + _at(ds), ds[key].attrs["units"])
        self.save(fig, name)

    def energy(self):
        ds = self.ds
        if not _has(ds, "enn", "E_K", "E"):
            return self.skip("energy", "eng.dat is missing or empty")
        t = ds["series_time"].values
        style = _style(len(t))
        fig, (top, bottom) = _subplots(2, 1, figsize=(9, 8), sharex=True)
        positive = lambda v: np.where(v > 0, v, np.nan)  # noqa: E731
        top.plot(t, positive(ds["E"].values), color=COLOURS[4], lw=3, ls="--", label=r"total $E = E_n + E_K$")
        top.plot(t, positive(ds["enn"].values), color=COLOURS[0], label=r"density energy $E_n$ (enn)", **style)
        top.plot(t, positive(ds["E_K"].values), color=COLOURS[1], label=r"$E\times B$ kinetic energy $E_K$", **style)
        if "E_Z" in ds:
            top.plot(t, positive(ds["E_Z"].values), color=COLOURS[2], label=r"zonal-flow energy $E_Z$", **style)
        top.set_yscale("log")
        top.set_ylabel(label("energy", ds["E"].attrs["units"]))
        top.set_title("Energies")
        top.legend(loc="best", fontsize=9)
        top.grid(alpha=0.3)
        if "EZ_over_EK" in ds:
            bottom.plot(t, ds["EZ_over_EK"].values, color=COLOURS[3], **style)
        bottom.set_ylabel(r"zonal fraction $E_Z/E_K$ [1]")
        bottom.set_xlabel(TIME_LABEL)
        bottom.grid(alpha=0.3)
        bottom.set_xlim(t[0], t[-1]) if len(t) > 1 else None
        self.save(fig, "energy")

    def flux(self):
        ds = self.ds
        if not _has(ds, "flux"):
            return self.skip("flux", "fne.dat is missing or empty")
        t = ds["series_time"].values
        fig, ax = _subplots(figsize=(9, 7))
        ax.plot(t, ds["flux"].values, color=COLOURS[0], **_style(len(t)))
        ax.axhline(0, color="black", lw=0.8)
        ax.set_title(r"Radial particle flux $\Gamma_n = \langle -n_e\,\partial_y\phi\rangle/\delta^2$")
        ax.set_xlabel(TIME_LABEL)
        ax.set_ylabel(label(r"$\Gamma_n$", ds["flux"].attrs["units"]))
        ax.grid(alpha=0.3)
        self.save(fig, "flux")

    def transfer(self):
        ds = self.ds
        if not _has(ds, "drive", "coupling", "dissipation", "rate_sum"):
            return self.skip("transfer", "eng-transfer.dat is missing or empty")
        t = ds["series_time"].values
        style = _style(len(t))
        fig, ax = _subplots(figsize=(9, 7))
        ax.plot(t, ds["drive"].values, color=COLOURS[0], label=r"drive $\langle -n_e\partial_y\phi - \tau_i N_i "
                r"\partial_y\phi_i\rangle$", **style)
        ax.plot(t, ds["coupling"].values, color=COLOURS[1], label=r"parallel coupling $\langle -C(\phi - n_e)^2"
                r"\rangle$", **style)
        ax.plot(t, ds["dissipation"].values, color=COLOURS[2], label="dissipation", **style)
        ax.plot(t, ds["rate_sum"].values, color=COLOURS[4], ls="--", label=r"sum $dE/dt$")
        ax.axhline(0, color="black", lw=0.8)
        ax.set_title("Energy transfer rates")
        ax.set_xlabel(TIME_LABEL)
        ax.set_ylabel(label("rate", ds["drive"].attrs["units"]))
        ax.legend(fontsize=9, loc="best")
        ax.grid(alpha=0.3)
        self.save(fig, "transfer")

    def growth(self):
        ds = self.ds
        if not _has(ds, "growth_rate"):
            return self.skip("growth", "gamma.dat is missing or empty")
        t = ds["gamma_time"].values
        style = _style(len(t))
        fig, ax = _subplots(figsize=(9, 7))
        ax.plot(t, ds["growth_rate"].values, color=COLOURS[0], label=r"growth rate $\gamma$", **style)
        ax.axhline(0, color="black", lw=0.8)
        # The second column is the frequency of a single ky mode, zero in other runs (or only the
        # place-holder speed 1e-9 sigma before the zero crossing has moved).
        sigma = abs(float(ds.attrs.get("sigma", 1.0)))
        speed = ds["drift_speed"].values if "drift_speed" in ds else np.zeros(0)
        if np.any(np.abs(speed) > 2e-9 * max(sigma, 1.0)):
            right = ax.twinx()
            right.plot(t, speed, color=COLOURS[1], label=r"frequency $\omega = k_y v_{phase}$ (right)", **style)
            right.set_ylabel(r"frequency [$c_s/L_\perp$]")
            ax.legend(handles=ax.get_lines()[:1] + right.get_lines(), loc="lower right")
        else:
            ax.legend(loc="lower right")
        ax.set_title("Growth rate of the vorticity amplitude")
        ax.set_xlabel(TIME_LABEL)
        ax.set_ylabel(r"rate [$c_s/L_\perp$]")
        ax.grid(alpha=0.3)
        self.save(fig, "growth")

    def spectrum(self, name, key, file, title, axis):
        ds = self.ds
        if not _has(ds, key):
            return self.skip(name, f"{file} is missing or empty")
        k, values = ds[axis].values, ds[key].values
        if not np.any(values > 0):
            return self.skip(name, f"{file} holds no positive value")
        fig, ax = _subplots(figsize=(9, 7))
        positive = np.where(values > 0, values, np.nan)
        mean = ds[key + "_mean"].values if key + "_mean" in ds else np.zeros(0)
        ax.loglog(k, positive, color=COLOURS[0], label="this instant", **_style(len(k)))
        if np.any(mean > 0):
            ax.loglog(k, np.where(mean > 0, mean, np.nan), color=COLOURS[1], label="running mean over the outputs")
            ax.legend()
        ax.set_title(title + _at(ds))
        ax.set_xlabel(label(f"$k_{axis[1]}$", ds[axis].attrs["units"]))
        ax.set_ylabel(ds[key].attrs["long_name"].split(": ")[-1].split(" (")[0] + f" [{tex_units(ds[key].attrs['units'])}]",
                      fontsize=9)
        ax.grid(alpha=0.3, which="both")
        self.save(fig, name)

    def zonal_flow(self):
        ds = self.ds
        if not _has(ds, "zonal_flow"):
            self.skip("zonal_flow", "zfx.dat is missing or empty")
            return
        vz, x, t = ds["zonal_flow"].values, ds["x"].values, ds["zonal_time"].values
        units = ds["zonal_flow"].attrs["units"]
        fig, ax = _subplots(figsize=(9, 7))
        ax.plot(x, vz[-1], color=COLOURS[0], **_style(len(x)))
        ax.axhline(0, color="black", lw=0.8)
        ax.set_title(rf"Zonal flow $v_z = \langle\partial_x\phi\rangle_y$  ($t$ = {t[-1]:.6g})")
        ax.set_xlabel(r"$x$ [$\rho_s$]")
        ax.set_ylabel(label("$v_z$", units))
        ax.grid(alpha=0.3)
        self.save(fig, "zonal_flow")
        if len(t) < 2:
            return self.skip("zonal_flow_map", "zfx.dat holds fewer than two profiles")
        fig, ax = _subplots(figsize=(9, 7))
        m = float(np.nanmax(np.abs(vz))) or 1.0
        shown = ax.pcolormesh(x, t, vz, cmap="RdBu_r", vmin=-m, vmax=m, shading="nearest")
        fig.colorbar(shown, ax=ax, label=label("$v_z$", units))
        ax.set_title(r"Zonal flow $v_z(x, t) = \langle\partial_x\phi\rangle_y$")
        ax.set_xlabel(r"$x$ [$\rho_s$]")
        ax.set_ylabel(TIME_LABEL)
        self.save(fig, "zonal_flow_map")

    def profiles(self):
        ds = self.ds
        if not _has(ds, "profile_phi"):
            return self.skip("profiles", "xprof.dat is missing or empty")
        x = ds["x"].values
        fig, axes = _subplots(3, 1, figsize=(9, 9), sharex=True)
        for key, colour, text, dash in (("profile_phi", 0, r"$\langle\phi\rangle$", "-"),
                                        ("profile_ne", 1, r"$\langle n_e\rangle$", "-"),
                                        ("profile_ni", 2, r"$\langle N_i\rangle$", "--")):
            axes[0].plot(x, ds[key].values, color=COLOURS[colour], ls=dash,
                         label=f"{text} [{tex_units(ds[key].attrs['units'])}]")
        axes[0].legend(fontsize=9)
        axes[0].set_ylabel("profile")
        axes[0].set_title("Radial profiles (averages along y)" + _at(ds))
        axes[1].plot(x, ds["profile_vorticity"].values, color=COLOURS[3])
        axes[1].set_ylabel(label(r"$\langle\nabla^2\phi\rangle$", ds["profile_vorticity"].attrs["units"]))
        axes[2].plot(x, ds["reynolds_stress"].values, color=COLOURS[4])
        axes[2].set_ylabel(label(r"$\langle\partial_x\phi\,\partial_y\phi\rangle$",
                                 ds["reynolds_stress"].attrs["units"]))
        axes[2].set_xlabel(r"$x$ [$\rho_s$]")
        for ax in axes:
            ax.axhline(0, color="black", lw=0.8)
            ax.grid(alpha=0.3)
        self.save(fig, "profiles")

    def probes(self):
        ds = self.ds
        if _has(ds, "probe_ne"):
            t = ds["trace_time"].values
            fig, ax = _subplots(figsize=(9, 7))
            ax.plot(t, ds["probe_ne"].values, color=COLOURS[0], label=r"density $n_e$", **_style(len(t)))
            ax.plot(t, ds["probe_phi"].values, color=COLOURS[1], label=r"potential $\phi$", **_style(len(t)))
            nx, ny, ly = (ds.attrs.get(k) for k in ("nx", "ny", "ly"))
            where = ""
            if nx and ny and ly:
                hy = ny / ly  # probe 1: lattice point i = 0, j = 1, grid point (nx/16, 3 ny/16)
                where = rf", at $x$ = {(nx // 16) / hy:.4g}, $y$ = {(3 * ny // 16) / hy:.4g} $\rho_s$"
            ax.set_title("Probe 1, windowed traces" + where)
            ax.set_xlabel(TIME_LABEL)
            ax.set_ylabel("windowed value")
            ax.axhline(0, color="black", lw=0.8)
            ax.legend()
            ax.grid(alpha=0.3)
            self.save(fig, "probe_trace")
        else:
            self.skip("probe_trace", "traces.dat is missing or empty")
        present = [(key, text, colour) for key, text, colour in (("probe_spectrum_ne", r"density $n_e$", 0),
                                                                 ("probe_spectrum_phi", r"potential $\phi$", 1))
                   if _has(ds, key) and np.any(ds[key].values > 0)]
        if not present:
            return self.skip("probe_spectra", "ptt_n.dat and ptt_p.dat are missing or empty")
        fig, ax = _subplots(figsize=(9, 7))
        w = ds["frequency"].values
        for key, text, colour in present:
            v = ds[key].values
            ax.loglog(w, np.where(v > 0, v, np.nan), color=COLOURS[colour], label=text, **_style(len(w)))
        ax.set_title("Frequency spectra summed over the 64 probes")
        ax.set_xlabel(r"$\omega$ [$c_s/L_\perp$]")
        ax.set_ylabel(r"$\Sigma_{probes}$ |Fourier transform of the windowed trace|")
        ax.legend()
        ax.grid(alpha=0.3, which="both")
        self.save(fig, "probe_spectra")

    def overview(self):
        """Fields, energies, flux and spectra on one sheet."""
        ds = self.ds
        if not _has(ds, "E", "flux"):
            return self.skip("overview", "eng.dat or fne.dat is missing or empty")
        fig, axes = _subplots(2, 3, figsize=(16, 9.5))
        for ax, key, title in ((axes[0, 0], "snapshot_ne", r"density $n_e$"),
                               (axes[0, 1], "snapshot_phi", r"potential $\phi$")):
            if _has(ds, key):
                field_map(ax, fig, ds[key].values, ds["x"].values, ds["y"].values, title + _at(ds),
                          ds[key].attrs["units"])
            else:
                ax.set_axis_off()
        t = ds["series_time"].values
        ax = axes[1, 0]
        for key, colour, text in (("E", 4, "$E$"), ("enn", 0, "$E_n$"), ("E_K", 1, "$E_K$"), ("E_Z", 2, "$E_Z$")):
            if key in ds:
                v = ds[key].values
                ax.plot(t, np.where(v > 0, v, np.nan), color=COLOURS[colour], label=text, ls="--" if key == "E" else "-")
        ax.set_yscale("log")
        ax.set_xlabel(TIME_LABEL)
        ax.set_ylabel(label("energy", ds["E"].attrs["units"]))
        ax.legend(fontsize=9)
        ax.grid(alpha=0.3)
        ax = axes[1, 1]
        ax.plot(t, ds["flux"].values, color=COLOURS[0])
        ax.axhline(0, color="black", lw=0.8)
        summary = ds.attrs.get("summary") or {}
        flux = summary.get("quantities", {}).get("flux")
        if flux and flux.get("mean") is not None:
            window = summary["window"]
            ax.axvspan(window["t_start"], window["t_end"], color=COLOURS[2], alpha=0.12)
            ax.axhline(flux["mean"], color=COLOURS[2], ls="--",
                       label=rf"$\langle\Gamma_n\rangle$ = {flux['mean']:.3g} ± {flux['error']:.2g}"
                       + ("" if summary.get("saturated") else " (not saturated)"))
            ax.legend(fontsize=9)
        ax.set_xlabel(TIME_LABEL)
        ax.set_ylabel(label(r"$\Gamma_n$", ds["flux"].attrs["units"]))
        ax.grid(alpha=0.3)
        ax = axes[0, 2]
        for key, colour, text in (("spectrum_ky_potential", 0, r"$\phi_i$"), ("spectrum_ky_density", 1, r"$n_e$")):
            if _has(ds, key) and np.any(ds[key].values > 0):
                v = ds[key].values
                ax.loglog(ds["ky"].values, np.where(v > 0, v, np.nan), color=COLOURS[colour], label=text)
        ax.set_xlabel(r"$k_y$ [$1/\rho_s$]")
        ax.set_ylabel(r"$\Sigma_x |\mathrm{Re}\, X_{k_y}|$, one instant")
        ax.set_title("$k_y$ spectra" + _at(ds))
        ax.legend(fontsize=9)
        ax.grid(alpha=0.3, which="both")
        ax = axes[1, 2]
        if _has(ds, "zonal_flow") and ds.sizes["zonal_time"] > 1:
            vz = ds["zonal_flow"].values
            m = float(np.nanmax(np.abs(vz))) or 1.0
            shown = ax.pcolormesh(ds["x"].values, ds["zonal_time"].values, vz, cmap="RdBu_r", vmin=-m, vmax=m,
                                  shading="nearest")
            fig.colorbar(shown, ax=ax, label=label("$v_z$", ds["zonal_flow"].attrs["units"]))
            ax.set_title("Zonal flow $v_z(x, t)$")
            ax.set_xlabel(r"$x$ [$\rho_s$]")
            ax.set_ylabel(TIME_LABEL)
        else:
            ax.set_axis_off()
        status = ds.attrs.get("status", {}).get("message", "")
        fig.suptitle(f"{os.path.basename(ds.attrs.get('run', ''))}: {status}")
        self.save(fig, "overview")


def draw(run):
    """Draw every picture of the run in directory run into run/plots/; returns the paths drawn.
    Raises tavo.RunError with a "|" line when the run cannot be read."""
    if not os.path.isdir(run):
        raise RunError(f'| no run directory "{run}"')
    out = os.path.join(os.path.abspath(run), "plots")
    try:
        os.makedirs(out, exist_ok=True)
    except OSError as e:
        raise RunError(f'| cannot write into "{out}": {e.strerror}')
    with open_run(run) as ds:
        pictures = Drawing(ds, out)
        for name, key, file, title in (
                ("density", "snapshot_ne", "n2d.dat", r"electron density $n_e$"),
                ("potential", "snapshot_phi", "p2d.dat", r"electrostatic potential $\phi$"),
                ("vorticity", "snapshot_vorticity", "w2d.dat", r"vorticity $\nabla^2\phi$"),
                ("nonadiabatic", "snapshot_nonadiabatic", "i2d.dat", r"non-adiabatic part $\phi - n_e$")):
            pictures.snapshot(name, key, file, title)
        pictures.energy()
        pictures.flux()
        pictures.transfer()
        pictures.growth()
        for name, key, file, title, axis in (
                ("spectrum_ky_potential", "spectrum_ky_potential", "pky_p.dat",
                 r"$k_y$ spectrum of the gyro-averaged potential $\phi_i$", "ky"),
                ("spectrum_ky_density", "spectrum_ky_density", "pky_n.dat", r"$k_y$ spectrum of the electron density "
                 r"$n_e$", "ky"),
                ("spectrum_ky_vorticity", "spectrum_ky_vorticity", "pky_w.dat",
                 r"$k_y$ spectrum of the vorticity $\nabla^2\phi$", "ky"),
                ("spectrum_ky_energy", "spectrum_ky_energy", "pky_e.dat",
                 r"$k_y$ spectrum of the $E\times B$ energy density $|\nabla\phi_i|^2$", "ky"),
                ("spectrum_kx_potential", "spectrum_kx_potential", "pkx_p.dat",
                 r"$k_x$ spectrum of the gyro-averaged potential $\phi_i$", "kx")):
            pictures.spectrum(name, key, file, title, axis)
        pictures.zonal_flow()
        pictures.profiles()
        pictures.probes()
        pictures.overview()
    return pictures.drawn


def draw_time_averaged_spectra(run, summary):
    """plots/spectra_time_averaged.png from the spectra of an analysis summary; returns its path."""
    spectra = summary["spectra"]
    k = np.asarray(spectra["k"])
    out = os.path.join(run, "plots")
    os.makedirs(out, exist_ok=True)
    fig, ax = _subplots(figsize=(8, 6))
    for key, text in (("power_ne", r"$\langle|n_k|^2\rangle$"), ("power_phi", r"$\langle|\phi_k|^2\rangle$"),
                      ("kinetic", r"$\langle k^2|\phi_k|^2\rangle$ (kinetic energy)")):
        v = np.asarray(spectra[key])
        ax.loglog(k[1:], np.where(v[1:] > 0, v[1:], np.nan), label=text)
    window = summary["window"]
    ax.set_xlabel(r"$k$ [$1/\rho_s$]")
    ax.set_ylabel("shell sum, time average")
    ax.set_title(f"{spectra['frames']} frames, t = {window['t_start']:.4g} … {window['t_end']:.4g} $L_\\perp/c_s$")
    ax.legend()
    ax.grid(True, which="both", alpha=0.3)
    path = os.path.join(out, "spectra_time_averaged.png")
    fig.savefig(path, dpi=110)
    return path


def main(argv=None):
    """tavo-plot RUN"""
    parser = argparse.ArgumentParser(description="Draw the pictures of a tavo run into RUN/plots/.",
                                     formatter_class=argparse.RawDescriptionHelpFormatter, epilog=__doc__)
    parser.add_argument("run", metavar="RUN", help="directory of a tavo run")
    args = parser.parse_args(argv)
    try:
        drawn = draw(args.run)
    except (RunError, OSError) as failure:
        text = str(failure)
        print(f"| plot: {text[2:] if text.startswith('| ') else text}", file=sys.stderr)
        return 1
    print(f"| plot: {len(drawn)} pictures in {os.path.join(os.path.abspath(args.run), 'plots')}")
    return 0
