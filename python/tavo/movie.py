"""A film of the density n_e and the potential phi side by side from a run's field history: the
command tavo-movie (scripts/movie in the checkout).

    tavo-movie RUN [--fps N] [--output FILE]

Reads the frames of RUN/tavo.nc through tavo.open_run (so a damaged history is trimmed first) and
writes RUN/movie.mp4 (H.264 through ffmpeg): one picture per frame, x horizontal and y vertical like
the pictures of tavo-plot, axes in rho_s, the time in the title. The colour limits follow each
frame, so that the small amplitudes of the early phase show as well as the turbulence: symmetric
about zero at the 99.5th percentile of |value|, written on the frame. A frame that is not finite (a
blow-up) ends the film before it, with a "|" note.
Exit status 0, or 1 with a line starting with "|" on standard error.
"""
import argparse
import os
import shutil
import sys

import numpy as np

from .runs import RunError, open_run


def film(run, output=None, fps=10):
    """Write the film of the run in directory run; returns (path, frames filmed)."""
    from matplotlib.animation import FFMpegWriter
    from matplotlib.figure import Figure
    if not os.path.isdir(run):
        raise RunError(f'| no run directory "{run}"')
    history = os.path.join(run, "tavo.nc")
    if not os.path.isfile(history):
        raise RunError(f'| no field history "{history}" (the run had nframe 0, or ran no step)')
    if shutil.which("ffmpeg") is None:
        raise RunError("| ffmpeg is not installed (Debian package ffmpeg)")
    if fps < 1:
        raise RunError(f"| --fps {fps}: expected a whole number >= 1")
    output = output or os.path.join(run, "movie.mp4")
    fields = [("ne", r"density $n_e$"), ("phi", r"potential $\phi$")]
    with open_run(run) as ds:
        frames = ds.sizes.get("time", 0) if "ne" in ds else 0
        if frames == 0:
            raise RunError(f'| "{history}" holds no frame that can be read')
        times = ds["time"].values
        finite = frames
        for r in range(frames):
            if not all(np.all(np.isfinite(ds[name].isel(time=r).values)) for name, _ in fields):
                finite = r
                break
        if finite == 0:
            raise RunError(f"| the first frame (t = {float(times[0]):.6g}) is not finite: nothing to film")
        if finite < frames:
            print(f"| movie: the frames from t = {float(times[finite]):.6g} on are not finite (a blow-up): the film "
                  "ends before them", file=sys.stderr)
        x, y = ds["x"].values, ds["y"].values
        spacing = (y[1] - y[0]) if len(y) > 1 else 1.0
        extent = [x[0], x[-1] + spacing, y[0], y[-1] + spacing]  # columns x, rows y (the field transposed)
        fig = Figure(figsize=(12, 5.2), layout="constrained")
        axes = fig.subplots(1, 2)
        images, titles = [], []
        for ax, (name, label) in zip(axes, fields):
            image = ax.imshow(ds[name].isel(time=0).values.T, origin="lower", extent=extent, cmap="RdBu_r",
                              interpolation="nearest")
            ax.set_xlabel(r"$x$ [$\rho_s$]")
            ax.set_ylabel(r"$y$ [$\rho_s$]")
            titles.append(ax.set_title(label))
            fig.colorbar(image, ax=ax, label=f"{label} [{ds[name].attrs.get('units', '')}]")
            images.append(image)
        stamp = fig.suptitle("")
        writer = FFMpegWriter(fps=fps, codec="libx264", extra_args=["-pix_fmt", "yuv420p"])
        with writer.saving(fig, output, dpi=100):
            for r in range(finite):
                for image, title, (name, label) in zip(images, titles, fields):
                    values = ds[name].isel(time=r).values
                    limit = float(np.percentile(np.abs(values), 99.5))
                    limit = limit if limit > 0 else 1.0
                    image.set_data(values.T)
                    image.set_clim(-limit, limit)
                    title.set_text(f"{label}, colour limits ±{limit:.3g}")
                stamp.set_text(f"t = {float(times[r]):.3f} $L_\\perp/c_s$")
                writer.grab_frame()
    return output, finite


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0],
                                     formatter_class=argparse.RawDescriptionHelpFormatter, epilog=__doc__)
    parser.add_argument("run", metavar="RUN", help="directory of a tavo run holding tavo.nc")
    parser.add_argument("--fps", type=int, default=10, help="frames per second (default 10)")
    parser.add_argument("--output", help="film file (default RUN/movie.mp4)")
    args = parser.parse_args(argv)
    try:
        output, frames = film(args.run, args.output, args.fps)
    except (RunError, OSError) as failure:
        text = str(failure)
        print(f"| movie: {text[2:] if text.startswith('| ') else text}", file=sys.stderr)
        return 1
    print(f"| movie of {frames} frames written to {output}")
    return 0
