"""scripts/scan collect: the saturation flag and the combined ensemble error in the collected
tables and the plot, the re-analysis of every point with another window, and a finished scan
extended by more seeds without running its done points again.

    python3 -m pytest tests/scripts/test_scan_collect.py
"""
import csv
import json
import os
import shutil
import subprocess
import sys

import numpy as np
import pytest

TOP = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
SCAN = os.path.join(TOP, "scripts", "scan")
sys.path.insert(0, os.path.join(TOP, "python"))
from tavo.parameters import with_values  # noqa: E402

# A cold-ion 16 x 16 base of 20 steps, written through the package's parameter writer.
with open(os.path.join(TOP, "examples", "default", "tavo.inp")) as _f:
    BASE = with_values(_f.read(), dict(nx=16, ny=16, ly=16, dt=0.02, itstp=5, itmax=20, ntrace=0, chat=-1, taui=0,
                                       delta=1, diff=1e-3, ihype=2, ipade=0, vorfree=0, incon=1, sigma=1, amp=0.5,
                                       b_plan=0, npar=1))
QUANTITIES = ["flux", "enn", "E_K", "E", "EZ_over_EK"]


def scan(cwd, *args, env=None):
    return subprocess.run([sys.executable, SCAN, *args], cwd=cwd, capture_output=True, text=True, timeout=300,
                          env=env)


def rows(path):
    with open(path, newline="") as f:
        return list(csv.DictReader(f))


# chat, seed -> (flux mean, flux error, saturated)
SUMMARIES = {("-1", "1"): (0.60, 0.025, True), ("-1", "2"): (0.61, 0.022, True),
             ("-2", "1"): (0.40, 0.02, True), ("-2", "2"): (0.55, 0.03, False)}


@pytest.fixture
def collected(tmp_path):
    """A scan chat=-1,-2 iseed=1,2 whose points hold summaries of known values."""
    base = tmp_path / "base"
    base.mkdir()
    (base / "tavo.inp").write_text(BASE)
    done = scan(tmp_path, "--slurm", "base", "out", "chat=-1,-2", "iseed=1..2")
    assert done.returncode == 0, done.stderr
    for (chat, seed), (mean, error, saturated) in SUMMARIES.items():
        summary = {"saturated": saturated,
                   "quantities": {q: {"mean": mean, "error": error} for q in QUANTITIES}}
        if not saturated:
            summary["reason"] = "the flux still falls (0.7 → 0.4 between the halves, 5 combined errors)"
        (tmp_path / "out" / f"chat_{chat}_iseed_{seed}" / "summary.json").write_text(json.dumps(summary))
    return tmp_path


def test_flag_and_combined_error_in_the_tables(collected):
    done = scan(collected, "collect", "out")
    assert done.returncode == 0, done.stderr
    table = rows(collected / "out" / "collect.csv")
    assert [(r["chat"], r["iseed"], r["saturated"]) for r in table] == [
        ("-1", "1", "true"), ("-1", "2", "true"), ("-2", "1", "true"), ("-2", "2", "false")]
    assert table[3]["reason"].startswith("the flux still falls")
    assert float(table[1]["flux_mean"]) == 0.61 and float(table[1]["flux_error"]) == 0.022
    ensemble = {r["chat"]: r for r in rows(collected / "out" / "ensemble.csv")}
    one = ensemble["-1"]
    spread = np.std([0.60, 0.61], ddof=1)
    assert float(one["flux_mean"]) == pytest.approx(0.605)
    assert float(one["flux_spread"]) == pytest.approx(spread)
    assert float(one["flux_error"]) == pytest.approx(np.sqrt(spread ** 2 / 2 + (0.025 ** 2 + 0.022 ** 2) / 4))
    assert (one["saturated_seeds"], one["saturated"]) == ("2", "true")
    assert (ensemble["-2"]["saturated_seeds"], ensemble["-2"]["saturated"]) == ("1", "false")
    assert "| point chat=-2 iseed=2 is not saturated: the flux still falls" in done.stderr
    assert "chat=-1" not in done.stderr
    # The paper's tables: C = |chat| with the kind of coupling, values as value(error), saturation.
    text = (collected / "out" / "collect.txt").read_text()
    assert "C = |chat|; chat < 0: the ordinary coupling" in text
    cells = [line.split() for line in text.splitlines() if line[:5].strip() in ("1", "2") and "(" in line]
    assert cells[:4] == [["1", "1"] + ["0.600(25)"] * 5 + ["yes"], ["1", "2"] + ["0.610(22)"] * 5 + ["yes"],
                        ["2", "1"] + ["0.400(20)"] * 5 + ["yes"], ["2", "2"] + ["0.55(3)"] * 5 + ["no"]]
    assert cells[4:] == [["1", "2"] + ["0.605(17)"] * 5 + ["yes", "(2", "of", "2)"],
                        ["2", "2"] + ["0.48(8)"] * 5 + ["no", "(1", "of", "2)"]]
    assert "Not saturated (their means are given for what they are):\n  chat_-2_iseed_2: the flux still falls" in text
    tex = (collected / "out" / "collect.tex").read_text()
    assert "1 & 2 & $0.610(22)$ & " in tex and tex.count(r"\begin{tabular}") == 2
    assert (collected / "out" / "flux_vs_chat.png").read_bytes()[:8] == b"\x89PNG\r\n\x1a\n"


def test_a_summary_without_a_decision_counts_as_not_saturated(collected):
    path = collected / "out" / "chat_-1_iseed_1" / "summary.json"
    summary = json.loads(path.read_text())
    del summary["saturated"]
    path.write_text(json.dumps(summary))
    done = scan(collected, "collect", "out")
    assert done.returncode == 0, done.stderr
    assert rows(collected / "out" / "collect.csv")[0]["saturated"] == "false"
    assert "| point chat=-1 iseed=1 is not saturated: the summary holds no saturation decision" in done.stderr


def test_collect_analyses_every_point_again_with_a_window(collected):
    # point series of a known mean: flux 0.5 + 0.1 sin, E 3
    t = np.arange(1, 201, dtype=float)
    for chat, seed in SUMMARIES:
        d = collected / "out" / f"chat_{chat}_iseed_{seed}"
        np.savetxt(d / "fne.dat", np.column_stack([t, np.where(t < 100, 1.0, 0.5 + 0.1 * np.sin(t))]))
        eng = np.column_stack([t, np.full_like(t, 1.0), np.full_like(t, 2.0), np.full_like(t, 0.1),
                               np.full_like(t, 3.0) + 0.01 * np.cos(t), np.full_like(t, 0.05)])
        np.savetxt(d / "eng.dat", eng)
    done = scan(collected, "collect", "--tmin", "100", "--tmax", "200", "out")
    assert done.returncode == 0, done.stderr
    want = np.mean(0.5 + 0.1 * np.sin(t[t >= 100]))
    for r in rows(collected / "out" / "collect.csv"):
        assert float(r["flux_mean"]) == pytest.approx(want, rel=1e-12)
    summary = json.loads((collected / "out" / "chat_-1_iseed_1" / "summary.json").read_text())
    assert summary["window"]["t_start"] == 100 and summary["window"]["method"].startswith("given by hand")


@pytest.mark.skipif(shutil.which("parallel") is None, reason="GNU parallel is not installed")
def test_a_finished_scan_is_extended_without_running_its_done_points(tmp_path):
    (tmp_path / "base").mkdir()
    (tmp_path / "base" / "tavo.inp").write_text(BASE)
    program = tmp_path / "program"
    program.write_text(f"#!/bin/sh\nbasename \"$PWD\" >> {tmp_path}/calls.log\necho '| TAVO end.'\n")
    program.chmod(0o755)
    analysis = tmp_path / "analysis"  # a point is done when its run ended well and its summary exists
    analysis.write_text("#!/bin/sh\necho '{}' > \"$1/summary.json\"\n")
    analysis.chmod(0o755)
    env = dict(os.environ, TAVO_ANALYSE=str(analysis))
    done = scan(tmp_path, "--tavo", str(program), "base", "out", "chat=-1,-2", "iseed=1", env=env)
    assert done.returncode == 0, done.stderr
    done = scan(tmp_path, "--tavo", str(program), "base", "out", "chat=-1,-2,-5", "iseed=1..2", env=env)
    assert done.returncode == 0, done.stderr
    calls = (tmp_path / "calls.log").read_text().split()
    assert sorted(calls[:2]) == ["chat_-1_iseed_1", "chat_-2_iseed_1"]
    assert sorted(calls[2:]) == ["chat_-1_iseed_2", "chat_-2_iseed_2", "chat_-5_iseed_1", "chat_-5_iseed_2"]
    record = json.loads((tmp_path / "out" / "scan.json").read_text())
    assert [p["dir"] for p in record["points"]][:2] == ["chat_-1_iseed_1", "chat_-2_iseed_1"]
    assert len(record["points"]) == 6
    # another scanned name is another scan
    done = scan(tmp_path, "--tavo", str(program), "base", "out", "chat=-1", "amp=1", env=env)
    assert done.returncode == 1 and "holds another scan" in done.stderr


def test_published_table_from_the_summaries(collected):
    for chat, seed in SUMMARIES:
        path = collected / "out" / f"chat_{chat}_iseed_{seed}" / "summary.json"
        summary = json.loads(path.read_text())
        summary.update(version="9.9", window={"t_start": 300.0, "t_end": 700.0})
        path.write_text(json.dumps(summary))
    readme = collected / "README.md"
    readme.write_text("# example\n\n<!-- published-table begin -->\nstale\n<!-- published-table end -->\n\nmore\n")
    published = os.path.join(TOP, "examples", "scan-coupling", "published.csv")
    done = subprocess.run([sys.executable, os.path.join(TOP, "scripts", "published-table"), str(collected / "out"),
                           published, "--readme", str(readme)], capture_output=True, text=True, timeout=120)
    assert done.returncode == 0, done.stderr
    text = readme.read_text()
    assert "stale" not in text and text.startswith("# example\n") and text.endswith("\n\nmore\n")
    lines = {line.split(" | ")[0]: line for line in text.splitlines() if line.startswith("| ")}
    # C = 1: two saturated seeds, the combined error, the hw2d value with its spread and source
    assert "⟨Γn⟩ 0.605(17), 2 seeds" in lines["| 1"]  # the combined error of the seeds, 0.0174
    assert "| yes (2 of 2) | t 300–700 | 0.60 ± 0.05 | 250+ | hw2d README" in lines["| 1"]
    for source in ("doi 10.17617/2.2085490", "doi 10.1088/1361-6587/aaa373", "doi 10.1063/1.871116",
                   "doi 10.1063/1.871566"):
        assert source in text
    # C = 2: one seed did not saturate: flagged, compared with nothing, its reason listed
    assert "| **no** (1 of 2) |" in lines["| 2"] and lines["| 2"].endswith("— (not saturated) |")
    assert "- C = 2, chat_-2_iseed_2: the flux still falls" in text
    assert "| 0.5 | ⟨Γn⟩ not in the scan |" in text
    assert "(program version 9.9) at commit " in text
    # a published value without a source is refused
    bare = collected / "bare.csv"
    bare.write_text("C,quantity,mean,spread,saturated_after,source\n1,flux,0.6,0.05,250,\n")
    done = subprocess.run([sys.executable, os.path.join(TOP, "scripts", "published-table"), str(collected / "out"),
                           str(bare)], capture_output=True, text=True, timeout=120)
    assert done.returncode == 1 and done.stderr.startswith("| published-table: ") and "has no source" in done.stderr


# What a summary holds, and the reason collect and open_scan give for not trusting it.
UNTRUSTED = [
    ("a flag that is a text", {"saturated": "false"}, 'saturated is "false", not true or false'),
    ("a flag that is a number", {"saturated": 1}, "saturated is 1, not true or false"),
    ("a NaN mean marked saturated", {"flux": {"mean": float("nan"), "error": 0.1}}, "the mean of flux is nan"),
    ("a mean that is a text", {"E": {"mean": "0.5", "error": 0.1}}, 'the mean of E is "0.5", not a number'),
    ("a negative error", {"enn": {"mean": 0.5, "error": -0.1}}, "the error of enn is -0.1, below 0"),
    ("a missing quantity", {"E_K": None}, "summary.json lacks E_K"),
]


@pytest.mark.parametrize("what, change, reason", UNTRUSTED, ids=[u[0] for u in UNTRUSTED])
def test_a_summary_that_cannot_be_trusted_is_refused(collected, what, change, reason):
    import tavo
    path = collected / "out" / "chat_-1_iseed_2" / "summary.json"
    summary = json.loads(path.read_text())
    for key, value in change.items():
        if key == "saturated":
            summary[key] = value
        elif value is None:
            del summary["quantities"][key]
        else:
            summary["quantities"][key] = value
    path.write_text(json.dumps(summary))
    done = scan(collected, "collect", "out")
    assert done.returncode == 1, what
    assert f"| point chat=-1 iseed=2 has no usable summary: summary.json" in done.stderr and reason in done.stderr, \
        done.stderr
    assert [r["iseed"] for r in rows(collected / "out" / "collect.csv") if r["chat"] == "-1"] == ["1"]
    ensemble = {r["chat"]: r for r in rows(collected / "out" / "ensemble.csv")}
    assert (ensemble["-1"]["seeds"], float(ensemble["-1"]["flux_mean"])) == ("1", 0.60)
    ds = tavo.open_scan(collected / "out")
    point = ds.sel(chat=-1.0, iseed=2)
    assert np.isnan(point["flux"]) and not point["saturated"] and reason in str(point["reason"].values)
    assert ds.attrs["missing"] == ["chat_-1_iseed_2"]
    assert bool(ds["saturated"].sel(chat=-1.0, iseed=1)) and str(ds["reason"].sel(chat=-2.0, iseed=2).values).startswith(
        "the flux still falls")
