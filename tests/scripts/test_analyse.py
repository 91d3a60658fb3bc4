"""tavo.analyse and scripts/analyse: error bars and correlation times recovered from synthetic
series of known statistics, the spectra's Parseval identity, Gamma_c and the enstrophy against the
frames of a real run, the steps of a run with adaptive steps, the verdict's advice for runs that are too short, stopped or crashed, the
refusal of series that cannot be trusted, and the film of a run.

    python3 -m pytest tests/scripts/test_analyse.py      (TAVO: the program)
"""
import json
import os
import shutil
import signal
import subprocess
import time

import numpy as np
import pytest

from conftest import TAVO, command, run_tavo, write_parameters
from tavo import analysis, saturation


def ar1(rng, n, phi, mean, sigma=1.0):
    """An AR(1) series x[i+1] - mean = phi (x[i] - mean) + noise, started in its stationary law;
    its integrated autocorrelation time is (1 + phi) / (2 (1 - phi)) samples."""
    noise = rng.normal(0.0, sigma, n)
    x = np.empty(n)
    x[0] = noise[0] / np.sqrt(1 - phi * phi)
    for i in range(1, n):
        x[i] = phi * x[i - 1] + noise[i]
    return x + mean


# ---- synthetic series and fields ----

@pytest.mark.parametrize("phi", [0.0, 0.8, 0.95])
def test_mean_and_correlation_time_of_a_known_series(phi):
    rng = np.random.default_rng(7)
    tau_true = (1 + phi) / (2 * (1 - phi))
    mean, error, tau, tau_error = saturation.mean_and_error(ar1(rng, 40000, phi, 3.0))
    assert abs(mean - 3.0) < 3 * error, f"mean {mean} ± {error}"
    assert abs(tau - tau_true) < 3 * tau_error, f"tau {tau} ± {tau_error}, true {tau_true}"
    # the stated error is that of an AR(1) mean: sqrt(2 tau var / n), var = 1/(1-phi^2)
    want = np.sqrt(2 * tau_true / (1 - phi * phi) / 40000)
    assert abs(error / want - 1) < 0.15, f"error {error}, expected {want}"


def test_stated_error_is_the_spread_of_independent_means():
    rng = np.random.default_rng(11)
    results = [saturation.mean_and_error(ar1(rng, 2000, 0.9, -1.0)) for _ in range(300)]
    means = np.array([r[0] for r in results])
    stated = np.mean([r[1] for r in results])
    # 300 means give their spread to about 4 % (1/sqrt(2*300)); the estimator's bias for a window
    # of 5 tau_int is a few per cent
    assert abs(stated / np.std(means) - 1) < 0.15, f"stated {stated}, spread {np.std(means)}"


@pytest.mark.parametrize("phi", [0.0, 0.7])
def test_saturated_phase_starts_after_the_growth(phi):
    rng = np.random.default_rng(3)
    growth = 1e-6 * np.exp(np.arange(60) * np.log(1e6) / 60)  # e-fold to saturation at index 60
    start, _ = saturation.mser_start(np.concatenate([growth, ar1(rng, 140, phi, 1.0, 0.05)]))
    assert 55 <= start <= 80


@pytest.mark.parametrize("nx, ny, hy", [(32, 32, 0.5), (48, 16, 2.0)])
def test_parseval_and_a_single_mode(nx, ny, hy):
    field = np.random.default_rng(5).normal(size=(nx, ny))
    k, sums, ksums = analysis.shell_spectra(field, hy)
    assert np.sum(sums) / np.mean(field ** 2) == pytest.approx(1.0, abs=1e-12)
    assert len(k) == len(sums)
    # a cos of amplitude A along y: all of A^2/2 sits in the shell of its wavenumber, and the
    # kinetic-energy spectrum is k^2 times it (the grid average of (dy f)^2)
    ky = 2 * np.pi * 3 / (ny / hy)
    mode = 0.7 * np.cos(ky * np.arange(ny) / hy)[None, :] * np.ones((nx, 1))
    k, sums, ksums = analysis.shell_spectra(mode, hy)
    shell = int(np.argmax(sums))
    assert k[shell] == pytest.approx(ky, abs=1e-12)
    assert sums[shell] == pytest.approx(0.7 ** 2 / 2, abs=1e-12)
    assert ksums[shell] == pytest.approx(ky ** 2 * 0.7 ** 2 / 2, abs=1e-12)


# ---- a small real run ----

@pytest.fixture(scope="module")
def small_run(tmp_path_factory, tavo_exe):
    """A 32 x 32 cold-ion Hasegawa-Wakatani bath (ordinary coupling, C = 1) of 30 outputs, a frame
    at every second output, its console kept."""
    directory = tmp_path_factory.mktemp("run")
    write_parameters(directory, chat=-1.0, taui=0.0, ipade=0, diff=5e-3, ly=16.0, nx=32, ny=32, dt=0.02, itstp=10,
                     itmax=300, ntrace=0, b_plan=0, npar=1, nframe=2, nckpt=0)
    done = run_tavo(directory, keep_console=True)
    assert done.returncode == 0, done.stdout + done.stderr
    return directory


@pytest.fixture
def run_copy(small_run, tmp_path):
    copy = tmp_path / "run"
    shutil.copytree(small_run, copy)
    return copy


def test_the_summary_and_its_picture(run_copy):
    done = command("analyse", run_copy)
    assert done.returncode == 0, done.stdout + done.stderr
    summary = json.loads((run_copy / "summary.json").read_text())
    assert summary["program"] == "tavo" and summary["status"]["state"] == "finished"
    assert set(summary["window"]) == {"t_start", "t_end", "method"}
    assert set(summary["quantities"]) == {"flux", "Gamma_c", "enn", "E_K", "E", "EZ_over_EK", "enstrophy"}
    eng = np.loadtxt(run_copy / "eng.dat")
    inside = (eng[:, 0] >= summary["window"]["t_start"]) & (eng[:, 0] <= summary["window"]["t_end"])
    assert summary["quantities"]["E_K"]["mean"] == pytest.approx(np.mean(eng[inside, 2]), rel=1e-12)
    for q in summary["quantities"].values():
        assert q["error"] > 0 and {"mean", "error", "long_name", "units"} <= set(q)
    for name, p in summary["spectra"]["parseval"].items():
        assert p["sum_spectrum"] == pytest.approx(p["grid_mean_square"], rel=1e-6), name
    # The verdict: on standard output (the last line before the file's name) and in the summary.
    assert f"| {summary['verdict']}\n" in done.stdout
    assert (run_copy / "plots" / "spectra_time_averaged.png").read_bytes()[:8] == b"\x89PNG\r\n\x1a\n"


def test_gamma_c_and_the_enstrophy_against_the_frames(small_run):
    """Gamma_c = C <(phi - n)^2> and, with cold ions (Gamma = 1, P = k^2, so that nabla^2 phi =
    n_e - N_i), the enstrophy 1/2 <(n_e - nabla^2 phi)^2> = 1/2 <N_i^2>: both from the frames, which
    the program writes apart from its series."""
    import xarray as xr
    summary = analysis.analyse(small_run)
    window = summary["window"]
    with xr.open_dataset(os.path.join(small_run, "tavo.nc")) as ds:
        frames = ds.sel(time=slice(window["t_start"], window["t_end"]))
        ni = frames["ni"].values.astype(float)
        coupling = 1.0 * np.mean((frames["phi"].values.astype(float) - frames["ne"].values.astype(float)) ** 2,
                                 axis=(1, 2))
        series = ds["coupling"].sel(series_time=frames["time"].values).values
    assert -series == pytest.approx(coupling, rel=1e-4)
    assert summary["quantities"]["enstrophy"]["mean"] == pytest.approx(np.mean(0.5 * np.mean(ni ** 2, axis=(1, 2))),
                                                                     rel=1e-3)
    eng_transfer = np.loadtxt(os.path.join(small_run, "eng-transfer.dat"))
    inside = (eng_transfer[:, 0] >= window["t_start"]) & (eng_transfer[:, 0] <= window["t_end"])
    assert summary["quantities"]["Gamma_c"]["mean"] == pytest.approx(-np.mean(eng_transfer[inside, 2]), rel=1e-12)


def test_the_steps_of_adaptive_steps_are_the_programs_own(small_run, tmp_path):
    # The summary's steps come from the history's series; the program counts them itself at the end.
    write_parameters(tmp_path, chat=-1.0, taui=0.0, ipade=0, diff=5e-3, ly=16.0, nx=32, ny=32, dt=0.05, itstp=4,
                     itmax=120, ntrace=0, b_plan=0, npar=1, nframe=2, nckpt=0, cfl=0.5)
    done = run_tavo(tmp_path)
    assert done.returncode == 0, done.stdout + done.stderr
    line = next(line for line in done.stderr.splitlines() if line.startswith("| steps: "))
    words = line.replace(",", "").split()
    steps = analysis.analyse(tmp_path)["steps"]
    assert steps["steps"] == int(words[2])
    for key, word in (("smallest", 11), ("largest", 13), ("mean", 15)):
        assert f"{steps[key]:.4g}" == words[word], (key, line)
    assert "steps" not in analysis.analyse(small_run)  # fixed steps: none


def test_analysis_refuses_what_it_cannot_use(small_run, tmp_path):
    (tmp_path / "empty").mkdir()
    for args, says in [([tmp_path / "missing"], 'no run directory'), ([tmp_path / "empty"], 'no "eng.dat"'),
                       ([small_run, "--tmin", "1e9"], "the window t = 1e+09")]:
        done = command("analyse", *args)
        assert done.returncode == 1
        assert done.stderr.startswith(f"| analyse: {says}"), done.stderr
        assert "Traceback" not in done.stderr


# ---- series that cannot be trusted (each once analysed as if sound) ----

def series(t, energy, flux):
    eng = np.column_stack([t, energy / 2, energy / 2, 0.1 * energy, energy, np.full_like(t, 0.2)])
    return eng, np.column_stack([t, flux])


def damaged(name):
    """(eng.dat text, fne.dat text) of a damaged pair."""
    rng = np.random.default_rng(1)
    t = np.arange(1, 401, dtype=float)
    eng, fne = series(t, ar1(rng, 400, 0.8, 4.0, 0.2), ar1(rng, 400, 0.8, 0.6, 0.05))
    text = lambda a: "".join("  ".join(f"{v:.8f}" if j == 0 else f"{v:.6e}" for j, v in enumerate(r)) + "\n"  # noqa
                             for r in a)
    if name == "written twice over":
        return text(np.vstack([eng, eng])), text(np.vstack([fne, fne]))
    if name == "a line deleted":
        return text(eng), text(np.delete(fne, 150, axis=0))
    if name == "empty":
        return "", text(fne)
    if name == "binary":
        return b"\x89HDF\r\n\x1a\n" + bytes(range(256)), text(fne)
    if name == "a word that is no number":
        return text(eng).replace("1.00000000", "1.0OOOOOOO", 1), text(fne)
    if name == "all zero":
        return text(np.column_stack([t] + [np.zeros(400)] * 5)), text(np.column_stack([t, np.zeros(400)]))
    if name == "constant":
        return text(series(t, np.full(400, 4.0), np.full(400, 0.6))[0]), text(np.column_stack([t, np.full(400, 0.6)]))
    raise KeyError(name)


@pytest.mark.parametrize("name, refused, says", [
    ("written twice over", True, 'the times of "eng.dat" do not increase: record 401 holds t = 1 after t = 400'),
    ("a line deleted", True, '"fne.dat" and "eng.dat" disagree on the times: record 151 is t = 152 in "fne.dat"'),
    ("empty", True, '"eng.dat" of '),
    ("binary", True, '"eng.dat" is not a text table: byte 0'),
    ("a word that is no number", True, '"eng.dat" line 1 holds "1.0OOOOOOO", which is not a number'),
    ("all zero", False, "the energy E is zero in all"),
    ("constant", False, "the energy E is 4 in all"),
])
def test_series_that_cannot_be_trusted(tmp_path, name, refused, says):
    eng, fne = damaged(name)
    (tmp_path / "eng.dat").write_bytes(eng if isinstance(eng, bytes) else eng.encode())
    (tmp_path / "fne.dat").write_text(fne)
    done = command("analyse", tmp_path, "--no-plot")
    assert "Traceback" not in done.stderr
    if refused:
        assert done.returncode == 1, done.stdout
        assert done.stderr.startswith("| analyse: " + says), done.stderr
        assert not (tmp_path / "summary.json").exists()
    else:
        assert done.returncode == 0, done.stderr
        summary = json.loads((tmp_path / "summary.json").read_text())
        assert summary["saturated"] is False and summary["reason"].startswith(says), summary["reason"]


def test_a_last_line_cut_short_is_left_out(tmp_path):
    eng, fne = damaged("constant")
    (tmp_path / "eng.dat").write_text(eng + "401.00000000  2.0000")
    (tmp_path / "fne.dat").write_text(fne)
    summary = analysis.analyse(tmp_path)
    assert summary["window"]["t_end"] == 400
    assert any('the last line of "eng.dat" has no line end' in n for n in summary["notes"])


def test_no_flow_is_no_zonal_share(tmp_path):
    # E_K and E_Z at the program's floor: eng.dat holds the ratio 1, which is no average
    t = np.arange(1, 201, dtype=float)
    enn = 1.0 + 0.01 * np.sin(t)
    eng = np.column_stack([t, enn, np.full_like(t, 1e-12), np.full_like(t, 1e-12), enn + 1e-12, np.ones_like(t)])
    np.savetxt(tmp_path / "eng.dat", eng, fmt="%.6e")
    np.savetxt(tmp_path / "fne.dat", np.column_stack([t, 0.01 * np.cos(t)]), fmt="%.6e")
    q = analysis.analyse(tmp_path)["quantities"]["EZ_over_EK"]
    assert q["mean"] is None and "no E x B flow" in q["undefined"]


# ---- the verdict ----

def test_a_run_too_short_for_its_transient_is_told_how_long_to_run(tmp_path):
    # a growth to t = 130, saturated after it: the transient ends beyond the first half of the
    # series, where the start of the window is searched
    rng = np.random.default_rng(4)
    t = np.arange(1, 201, dtype=float)
    energy = np.where(t < 130, 4 * np.exp((t - 130) / 15), ar1(rng, 200, 0.8, 4.0, 0.2))
    eng, fne = series(t, energy, 0.15 * energy)
    np.savetxt(tmp_path / "eng.dat", eng)
    np.savetxt(tmp_path / "fne.dat", fne)
    summary = analysis.analyse(tmp_path)
    assert not summary["saturated"]
    verdict = summary["verdict"]
    assert verdict.startswith("not saturated: the run is too short for its initial transient (the energy E has not "
                              "settled by t = 200)"), verdict
    assert float(verdict.split("run to t ≳ ")[1].split(";")[0]) >= 240


@pytest.fixture(scope="module")
def crashed(tmp_path_factory, tavo_exe):
    """A warm-ion run with dt above the coupling's limit: it blows up after t = 16 (see
    test_saturation.py), its console kept."""
    directory = tmp_path_factory.mktemp("crash")
    write_parameters(directory, chat=0.1, taui=1.0, diff=5e-4, ly=64.0, nx=64, ny=64, dt=0.1, itstp=10, itmax=3000,
                     nckpt=1, nframe=0, ntrace=0, incon=1, amp=0.5, b_plan=0, npar=1)
    done = run_tavo(directory, keep_console=True)
    assert done.returncode == 1, done.stdout + done.stderr
    return directory


def test_a_crashed_run_gets_its_cause_and_no_advice_to_continue(crashed):
    done = command("analyse", crashed, "--no-plot")
    assert done.returncode == 0, done.stderr
    summary = json.loads((crashed / "summary.json").read_text())
    assert summary["status"]["state"] == "crashed"
    verdict = summary["verdict"]
    assert "; the run crashed at t = " in verdict and "likely cause: the parallel coupling" in verdict
    assert "incon 2" not in verdict
    assert f"| {verdict}\n" in done.stdout


def test_a_stopped_run_is_told_to_continue(tmp_path, tavo_exe):
    write_parameters(tmp_path, chat=-1.0, taui=0.0, ipade=0, diff=5e-3, ly=16.0, nx=32, ny=32, dt=0.002, itstp=10,
                     itmax=200000, ntrace=0, b_plan=0, npar=1, nframe=0, nckpt=0)
    with open(tmp_path / "tavo.out", "w") as out, open(tmp_path / "tavo.err", "w") as err:
        run = subprocess.Popen([TAVO], cwd=tmp_path, stdout=out, stderr=err)
        deadline = time.time() + 120
        while time.time() < deadline and sum(1 for _ in open(tmp_path / "tavo.err")) < 12:
            time.sleep(0.05)
        run.send_signal(signal.SIGTERM)
        assert run.wait(timeout=120) == 75
    summary = analysis.analyse(tmp_path)
    assert summary["status"]["state"] == "stopped"
    assert "; the run was stopped by SIGTERM at t = " in summary["verdict"]
    assert summary["verdict"].endswith("continue with incon 2")


# ---- the film ----

@pytest.mark.skipif(shutil.which("ffmpeg") is None, reason="ffmpeg is not installed")
def test_movie_has_a_picture_per_frame(run_copy):
    done = command("movie", run_copy, "--fps", "5")
    assert done.returncode == 0, done.stdout + done.stderr
    probe = subprocess.run(["ffprobe", "-v", "error", "-count_frames", "-select_streams", "v:0", "-show_entries",
                            "stream=nb_read_frames", "-of", "csv=p=0", str(run_copy / "movie.mp4")],
                           capture_output=True, text=True, timeout=120)
    assert probe.stdout.strip() == "16"
