"""scripts/scan on GNU parallel: its points (products, paired lists, the same value written twice),
a failing point reported with the program's message and left with its files, a stop that reaches
each program once and a second call that continues the stopped points exactly, what the scan
counts as done, the Slurm array of a scan, and the refusals.

A stand-in program (stand_in_program) plays tavo where only the scan's handling of a run is tested:
it logs its start mode and the signals it gets, and stops, finishes or fails as the test's plan
says. Where the numbers matter, the real program runs (TAVO).

    TAVO=build/tavo python3 -m pytest tests/scripts/test_scan.py
"""
import csv
import json
import os
import shutil
import signal
import subprocess
import sys
import time

import numpy as np
import pytest

TOP = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
SCAN = os.path.join(TOP, "scripts", "scan")
sys.path.insert(0, os.path.join(TOP, "python"))
from tavo.parameters import read_parameters, with_values  # noqa: E402

TAVO = os.environ.get("TAVO", os.path.join(TOP, "build", "tavo"))
needs_parallel = pytest.mark.skipif(shutil.which("parallel") is None, reason="GNU parallel is not installed")

with open(os.path.join(TOP, "examples", "default", "tavo.inp")) as _f:
    DEFAULT = _f.read()


def parameters(**changes):
    """A 16 x 16 bath of 20 steps in four outputs, one thread, no history (changes on top)."""
    values = dict(nx=16, ny=16, ly=16, dt=0.01, itstp=5, itmax=20, ntrace=0, incon=1, diff=1e-3, ihype=2, b_plan=0,
                  npar=1, nframe=0)
    values.update(changes)
    return with_values(DEFAULT, values)


def scan(cwd, *args, env=None, timeout=300):
    return subprocess.run([SCAN, *args], cwd=cwd, capture_output=True, text=True, timeout=timeout,
                          env=dict(os.environ, **(env or {})))


def make_base(tmp_path, **changes):
    (tmp_path / "base").mkdir()
    (tmp_path / "base" / "tavo.inp").write_text(parameters(**changes))


def executable(path, text):
    path.write_text(text)
    path.chmod(0o755)
    return str(path)


# The stand-in analysis: flux and E as the means of fne.dat column 2 and eng.dat column 5 (when the
# run wrote them), the other quantities fixed; each call is logged in calls-analyse.log.
ANALYSIS = f"""#!{sys.executable}
import json, os, sys
d = sys.argv[1]
with open(os.path.join(os.path.dirname(os.path.abspath(__file__)), "calls-analyse.log"), "a") as log:
    log.write(os.path.basename(d) + "\\n")
def mean(name, column):
    try:
        rows = [line.split() for line in open(os.path.join(d, name)) if line.strip()]
    except OSError:
        return 1.0
    return sum(float(r[column]) for r in rows) / len(rows)
q = dict(flux=(mean("fne.dat", 1), 0.25), enn=(1, 0.5), E_K=(2, 0.5), E=(mean("eng.dat", 4), 0.125), EZ_over_EK=(0.5, 0.5))
json.dump(dict(saturated=True, version="test", window=dict(t_start=0, t_end=0.2),
               quantities={{k: dict(mean=m, error=e) for k, (m, e) in q.items()}}), open(os.path.join(d, "summary.json"), "w"))
"""

# The stand-in program. Its plan (STAND_IN_PLAN, a JSON file: point directory -> list of actions, one
# for each start, the last repeated) says what it does:
#   finish  ends well; fail  a "|" message and status 1;
#   wait    waits for a signal, counts the signals for a second more (signals.txt), writes its
#           checkpoint and stops with 75, as the program does.
# Each start logs "<point> incon=<incon>" in calls.log beside the plan.
PROGRAM = f"""#!{sys.executable}
import json, os, signal, sys, time
sys.path.insert(0, {os.path.join(TOP, "python")!r})
from tavo.parameters import read_parameters
plan_file = os.environ["STAND_IN_PLAN"]
point = os.path.basename(os.getcwd())
with open(os.path.join(os.path.dirname(plan_file), "calls.log"), "a") as log:
    log.write(f"{{point}} incon={{read_parameters('tavo.inp')['incon']}}\\n")
actions = json.load(open(plan_file)).get(point, ["finish"])
starts = sum(1 for line in open("tavo.out") if line.startswith("| TAVO start")) if os.path.exists("tavo.out") else 0
action = actions[min(starts, len(actions) - 1)]
got = []
for number in (signal.SIGTERM, signal.SIGINT):
    signal.signal(number, lambda n, f: got.append(n))
print("_" * 41 + "\\n| TAVO start...", flush=True)
if action == "fail":
    print('| cannot open "eng.dat" for writing', file=sys.stderr)
    sys.exit(1)
if action == "wait":
    open("waiting", "w").close()
    while not got:
        time.sleep(0.02)
    time.sleep(1.0)
    open("signals.txt", "w").write(f"{{len(got)}}\\n")
    open("restart.dat", "w").write("1.000000e+00  \\n")
    print("| stopped by SIGTERM at t = 1 (step 5): checkpoint written, continue with incon 2", file=sys.stderr)
    sys.exit(75)
open("restart.dat", "w").write("2.000000e+00  \\n")
print("| TAVO end.", flush=True)
"""


@pytest.fixture
def stand_ins(tmp_path):
    """The stand-in program and analysis; returns (program, environment, plan writer)."""
    make_base(tmp_path)
    program = executable(tmp_path / "program", PROGRAM)
    analysis = executable(tmp_path / "analysis", ANALYSIS)
    plan = tmp_path / "plan.json"
    plan.write_text("{}")
    env = {"TAVO_ANALYSE": analysis, "STAND_IN_PLAN": str(plan)}
    return program, env, lambda actions: plan.write_text(json.dumps(actions))


def calls(tmp_path, name="calls.log"):
    path = tmp_path / name
    return path.read_text().split("\n")[:-1] if path.exists() else []


def wait_for(paths, seconds=60):
    end = time.time() + seconds
    while not all(os.path.exists(p) for p in paths):
        assert time.time() < end, f"waited {seconds} s for {paths}"
        time.sleep(0.05)


def test_points_of_products_and_paired_lists(tmp_path):
    make_base(tmp_path)
    done = scan(tmp_path, "--slurm", "base", "out", "chat=0.5,1,2:dt=0.01,0.008,0.005", "iseed=1..2")
    assert done.returncode == 0, done.stderr
    record = json.loads((tmp_path / "out" / "scan.json").read_text())
    assert record["groups"] == [["chat", "dt"], ["iseed"]]
    dirs = [p["dir"] for p in record["points"]]
    assert dirs == [f"chat_{c}_dt_{t}_iseed_{s}" for c, t in (("0.5", "0.01"), ("1", "0.008"), ("2", "0.005"))
                    for s in (1, 2)]
    values = read_parameters(str(tmp_path / "out" / "chat_1_dt_0.008_iseed_2"))
    assert (values["chat"], values["dt"], values["iseed"]) == (1.0, 0.008, 2)
    assert json.loads((tmp_path / "out" / dirs[0] / "point.json").read_text()) == {"chat": 0.5, "dt": 0.01, "iseed": 1}


def test_refusals_are_one_line_with_status_one(tmp_path):
    make_base(tmp_path)
    assert scan(tmp_path, "--slurm", "base", "out", "chat=1,2").returncode == 0
    cases = [
        (["base", "out2", "tau=1"], '| "tau" is not a value of tavo.inp'),
        (["base", "out2", "chat=1,x"], '| chat=1,x: "x" is not a number'),
        (["base", "out2", "iseed=5..1"], "| iseed=5..1: the range 5..1 is empty"),
        (["base", "out2", "chat=1", "chat=2"], "| chat is scanned twice"),
        (["base", "out2", "chat=0.5,0.50,5e-1"], "| the points chat=0.5 and chat=0.50 are the same run"),
        (["base", "out2", "nx=16,16.5"], "| the points nx=16 and nx=16.5 are the same run"),
        (["base", "out2", "chat=1,2:dt=0.01"], "| chat=1,2:dt=0.01: paired lists need the same length, these have chat 2, dt 1"),
        (["base", "out2", "chat=1:iseed=1", "iseed=2"], "| iseed is scanned twice"),
        (["nowhere", "out2", "chat=1"], "| cannot read the base parameter file nowhere/tavo.inp"),
        (["--slurm", "base", "out", "iseed=1,3"], f"| {tmp_path}/out holds another scan"),
        (["--slurm", "base", "out", "chat=1:dt=0.01"], f"| {tmp_path}/out holds another scan"),
        (["collect", "nowhere"], f"| {tmp_path}/nowhere holds no scan record"),
        (["base", "out2"], "| nothing to scan"),
    ]
    for arguments, message in cases:
        done = scan(tmp_path, *arguments)
        assert done.returncode == 1, arguments
        assert done.stderr.startswith(message) and done.stderr.count("\n") == 1, (arguments, done.stderr)
        assert done.stdout == "", arguments
    assert not (tmp_path / "out2").exists()


def test_the_same_value_written_otherwise_extends_nothing(tmp_path):
    make_base(tmp_path)
    assert scan(tmp_path, "--slurm", "base", "out", "chat=0.5").returncode == 0
    done = scan(tmp_path, "--slurm", "base", "out", "chat=5e-1,1")
    assert done.returncode == 0, done.stderr
    record = json.loads((tmp_path / "out" / "scan.json").read_text())
    assert [p["dir"] for p in record["points"]] == ["chat_0.5", "chat_1"]


def test_slurm_array_holds_one_task_per_point(tmp_path):
    make_base(tmp_path)
    done = scan(tmp_path, "--slurm", "-t", "2", "base", "out", "chat=0.5,-1", "iseed=1..3")
    assert done.returncode == 0, done.stderr
    script = (tmp_path / "out" / "scan.slurm").read_text()
    assert subprocess.run(["bash", "-n", str(tmp_path / "out" / "scan.slurm")]).returncode == 0
    assert "\n#SBATCH --array=0-5\n" in script and "\n#SBATCH --cpus-per-task=2\n" in script
    listed = script.split("points=(\n")[1].split("\n)\n")[0].split("\n")
    points = [f"chat_{c}_iseed_{s}" for c in ("0.5", "-1") for s in (1, 2, 3)]
    assert listed == [f"  {tmp_path}/out/{p}" for p in points]
    for p in points:
        values = read_parameters(str(tmp_path / "out" / p))
        assert (values["chat"], values["iseed"], values["npar"]) == (float(p.split("_")[1]), int(p[-1]), 2)
        assert not (tmp_path / "out" / p / "eng.dat").exists(), "nothing runs"


@needs_parallel
def test_a_failed_point_keeps_its_files_and_the_others_complete(tmp_path):
    """Three seeds of the real program, one of which cannot write its energies: the others are
    collected as their summaries say; the failed one keeps its message and files until its
    failed.txt is removed, and then runs."""
    make_base(tmp_path)
    executable(tmp_path / "analysis", ANALYSIS)
    (tmp_path / "out" / "iseed_2" / "eng.dat").mkdir(parents=True)
    env = {"TAVO_ANALYSE": str(tmp_path / "analysis")}
    arguments = ["-j", "2", "--tavo", TAVO, "base", "out", "iseed=1..3"]
    done = scan(tmp_path, *arguments, env=env)
    assert done.returncode == 1
    assert '| point iseed_2 failed: tavo failed (exit status 1): | cannot open "eng.dat"' in done.stderr
    assert sorted(calls(tmp_path, "calls-analyse.log")) == ["iseed_1", "iseed_3"]
    console = (tmp_path / "out" / "iseed_2" / "tavo.err").read_text()

    # Called again: the failed point is left as it is, with its files.
    done = scan(tmp_path, *arguments, env=env)
    assert done.returncode == 1 and "| running 0 of 3 points" in done.stdout, done.stdout + done.stderr
    assert "remove" in done.stderr and "failed.txt" in done.stderr
    assert (tmp_path / "out" / "iseed_2" / "tavo.err").read_text() == console

    # Mended and released: it runs, its console appended to the first one's.
    (tmp_path / "out" / "iseed_2" / "eng.dat").rmdir()
    (tmp_path / "out" / "iseed_2" / "failed.txt").unlink()
    done = scan(tmp_path, *arguments, env=env)
    assert done.returncode == 0, done.stderr
    assert calls(tmp_path, "calls-analyse.log")[2:] == ["iseed_2"]
    assert (tmp_path / "out" / "iseed_2" / "tavo.err").read_text().startswith(console)

    done = scan(tmp_path, "collect", "out")
    assert done.returncode == 0, done.stderr
    with open(tmp_path / "out" / "collect.csv", newline="") as f:
        rows = list(csv.DictReader(f))
    fluxes = []
    for seed, row in zip((1, 2, 3), rows):
        summary = json.loads((tmp_path / "out" / f"iseed_{seed}" / "summary.json").read_text())
        assert row["iseed"] == str(seed)
        assert float(row["flux_mean"]) == summary["quantities"]["flux"]["mean"]
        assert float(row["E_mean"]) == summary["quantities"]["E"]["mean"]
        fluxes.append(float(row["flux_mean"]))
    assert len(set(fluxes)) == 3, "three seeds, three baths"
    with open(tmp_path / "out" / "ensemble.csv", newline="") as f:
        (ensemble,) = list(csv.DictReader(f))
    assert float(ensemble["flux_mean"]) == pytest.approx(np.mean(fluxes), rel=1e-14)
    assert float(ensemble["flux_spread"]) == pytest.approx(np.std(fluxes, ddof=1), rel=1e-12)
    assert (tmp_path / "out" / "flux_vs_iseed.png").read_bytes()[:8] == b"\x89PNG\r\n\x1a\n"


@needs_parallel
def test_a_stop_reaches_each_program_once_and_the_next_call_continues(tmp_path, stand_ins):
    program, env, plan = stand_ins
    plan({"iseed_1": ["wait", "finish"], "iseed_2": ["wait", "finish"]})
    started = subprocess.Popen([SCAN, "-j", "2", "--tavo", program, "base", "out", "iseed=1..3"], cwd=tmp_path,
                               stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True, env=dict(os.environ, **env))
    wait_for([tmp_path / "out" / f"iseed_{s}" / "waiting" for s in (1, 2)])
    started.send_signal(signal.SIGTERM)
    stdout, stderr = started.communicate(timeout=120)
    assert started.returncode == 1
    for s in (1, 2):
        assert (tmp_path / "out" / f"iseed_{s}" / "signals.txt").read_text() == "1\n", f"iseed {s}: {stderr}"
        assert f"| point iseed_{s} stopped at t = 1: continued by the next call" in stderr
        assert not (tmp_path / "out" / f"iseed_{s}" / "failed.txt").exists()
    assert "| point iseed_3 never ran" in stderr and "| the scan was stopped by SIGTERM" in stderr
    assert "parallel:" not in stderr
    # The stopped points say at once that they continue; their first files are kept.
    for s in (1, 2):
        assert read_parameters(str(tmp_path / "out" / f"iseed_{s}"))["incon"] == 2
        assert (tmp_path / "out" / f"iseed_{s}" / "tavo.inp.first").read_text() == with_values(parameters(), {"iseed": s})

    done = scan(tmp_path, "-j", "2", "--tavo", program, "base", "out", "iseed=1..3", env=env)
    assert done.returncode == 0, done.stderr
    assert sorted(calls(tmp_path)) == ["iseed_1 incon=1", "iseed_1 incon=2", "iseed_2 incon=1", "iseed_2 incon=2",
                                       "iseed_3 incon=1"]
    assert read_parameters(str(tmp_path / "out" / "iseed_1"))["incon"] == 2
    # Called once more with a point added: the started points' files stay as they are.
    done = scan(tmp_path, "-j", "2", "--tavo", program, "base", "out", "iseed=1..4", env=env)
    assert done.returncode == 0, done.stderr
    assert read_parameters(str(tmp_path / "out" / "iseed_1"))["incon"] == 2
    assert calls(tmp_path)[5:] == ["iseed_4 incon=1"]


@needs_parallel
def test_a_finished_run_whose_analysis_failed_is_only_analysed_again(tmp_path, stand_ins):
    program, env, _ = stand_ins
    failing = executable(tmp_path / "failing", "#!/bin/sh\necho '| the analysis cannot read it' >&2\nexit 1\n")
    done = scan(tmp_path, "--tavo", program, "base", "out", "chat=1", env=dict(env, TAVO_ANALYSE=failing))
    assert done.returncode == 1
    assert "| point chat_1 failed: the analysis failed (exit status 1): | the analysis cannot read it" in done.stderr
    (tmp_path / "out" / "chat_1" / "failed.txt").unlink()
    done = scan(tmp_path, "--tavo", program, "base", "out", "chat=1", env=env)
    assert done.returncode == 0, done.stderr
    assert calls(tmp_path) == ["chat_1 incon=1"], "the finished run is not run again"
    assert calls(tmp_path, "calls-analyse.log") == ["chat_1"]


@needs_parallel
def test_a_stopped_scan_of_the_program_continues_to_the_files_of_one_run(tmp_path):
    """Ctrl-C to a scan of two real runs, then the scan called again: each point's files equal
    those of its run made without a stop."""
    make_base(tmp_path, nx=32, ny=32, itmax=6000, itstp=50, nckpt=4)
    started = subprocess.Popen([SCAN, "-j", "2", "--tavo", TAVO, "base", "out", "iseed=1..2"], cwd=tmp_path,
                               stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True,
                               env=dict(os.environ, TAVO_ANALYSE="true"))
    wait_for([tmp_path / "out" / f"iseed_{s}" / "eng.dat" for s in (1, 2)])
    end = time.time() + 120
    while any(len((tmp_path / "out" / f"iseed_{s}" / "eng.dat").read_text().splitlines()) < 3 for s in (1, 2)):
        assert time.time() < end and started.poll() is None, "the runs did not get going"
        time.sleep(0.02)
    started.send_signal(signal.SIGINT)
    _, stderr = started.communicate(timeout=120)
    assert started.returncode == 1
    for s in (1, 2):
        assert f"| point iseed_{s} stopped at t = " in stderr, stderr
        assert "| stopped by SIGINT" in (tmp_path / "out" / f"iseed_{s}" / "tavo.err").read_text()
    # `true` as the analysis writes no summary: the runs end, their points fail at the analysis
    scan(tmp_path, "-j", "2", "--tavo", TAVO, "base", "out", "iseed=1..2", env={"TAVO_ANALYSE": "true"})
    for s in (1, 2):
        point = tmp_path / "out" / f"iseed_{s}"
        whole = tmp_path / f"whole_{s}"
        whole.mkdir()
        shutil.copy(point / "tavo.inp.first", whole / "tavo.inp")
        assert subprocess.run([TAVO], cwd=whole, capture_output=True, timeout=300).returncode == 0
        for name in sorted(os.listdir(whole)):
            if name not in ("tavo.inp", "tavo.lock"):
                assert (whole / name).read_bytes() == (point / name).read_bytes(), f"iseed {s}: {name}"


@needs_parallel
def test_what_a_scan_counts_as_done(tmp_path, stand_ins):
    """Each case runs a one- or three-point scan in a fresh directory and must end with the status
    and the line given, leave no lock held, and a plain second call must finish every point."""
    program, env, plan = stand_ins
    hold = ("import fcntl, os, sys, time; f = os.open(sys.argv[1], os.O_RDWR | os.O_CREAT); "
            "fcntl.flock(f, fcntl.LOCK_EX); open(sys.argv[1] + '.held', 'w').close(); time.sleep(30)")
    cases = [
        ("an empty TAVO_ANALYSE is refused", ["chat=0.5"], {"TAVO_ANALYSE": ""}, 1, "| TAVO_ANALYSE is empty", 0),
        ("a TAVO_ANALYSE of several words is one command line", ["chat=0.5"],
         {"TAVO_ANALYSE": f"{sys.executable} {tmp_path}/analysis"}, 0, "| 1 of 1 points done", 1),
        ("a point whose directory a running program holds is not started", ["chat=0.5"], "held", 1,
         "| 0 of 1 points done", 0),
    ]
    for what, lists, extra, status, line, points_done in cases:
        for name in ("out", "calls.log"):
            shutil.rmtree(tmp_path / name, ignore_errors=True)
            if (tmp_path / name).is_file():
                (tmp_path / name).unlink()
        holder = None
        if extra == "held":
            (tmp_path / "out" / "chat_0.5").mkdir(parents=True)
            lock = tmp_path / "out" / "chat_0.5" / "tavo.lock"
            holder = subprocess.Popen([sys.executable, "-c", hold, str(lock)])
            wait_for([str(lock) + ".held"])
            extra = {}
        done = scan(tmp_path, "--tavo", program, "base", "out", *lists, env=dict(env, **extra))
        if holder:
            holder.kill()
            holder.wait()
            os.unlink(str(lock) + ".held")
        assert done.returncode == status, (what, done.stdout, done.stderr)
        assert line in done.stdout + done.stderr, (what, done.stdout, done.stderr)
        finished = [d for d in os.listdir(tmp_path / "out") if (tmp_path / "out" / d / "summary.json").exists()]
        assert len(finished) == points_done, what
        if status != 0 and "TAVO_ANALYSE" not in extra:
            again = scan(tmp_path, "--tavo", program, "base", "out", *lists, env=env)
            assert again.returncode == 0 and "| 1 of 1 points done" in again.stdout, (what, again.stderr)
