"""The Slurm batch scripts of scripts/scan --slurm and scripts/submit, without a Slurm: their options,
and their parts run by hand with stand-ins for tavo, sbatch and squeue, in directories whose paths
hold a blank. A part goes on only after a stop (75) or after a kill that followed a checkpoint of
its own; it never runs a finished run again; a part submitted twice does nothing; every other end
leaves a "|" reason in failed.txt. The real Slurm runs these scripts in make test-slurm.

    python3 -m pytest tests/scripts/test_slurm_scripts.py
"""
import json
import os
import shlex
import subprocess
import sys

import pytest

TOP = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
sys.path.insert(0, os.path.join(TOP, "python"))
from tavo.parameters import read_parameters, with_values  # noqa: E402

with open(os.path.join(TOP, "examples", "default", "tavo.inp")) as _f:
    BASE = with_values(_f.read(), dict(nx=16, ny=16, itmax=20, itstp=5, incon=1, npar=2, b_plan=0))

# The stand-in tavo: each start logs "threads=<OMP_NUM_THREADS> incon=<incon>" in calls.txt and does
# the next action of the file plan (one word a line, the last repeated):
#   stop        writes its checkpoint and stops with 75;  finish  ends well;
#   fail        a "|" message and status 1;
#   kill-saved  writes its checkpoint, then is killed (SIGKILL);  kill-early  is killed at once;
#   crash       writes its checkpoint, then dies of SIGSEGV.
PROGRAM = f"""#!{sys.executable}
import os, signal, sys
sys.path.insert(0, {os.path.join(TOP, "python")!r})
from tavo.parameters import read_parameters
done = open("calls.txt").read().count("\\n") if os.path.exists("calls.txt") else 0
open("calls.txt", "a").write(f"threads={{os.environ.get('OMP_NUM_THREADS')}} incon={{read_parameters('tavo.inp')['incon']}}\\n")
plan = open("plan").read().split() if os.path.exists("plan") else ["stop", "finish"]
action = plan[min(done, len(plan) - 1)]
print("_" * 41 + "\\n| TAVO start...", flush=True)
if action in ("stop", "kill-saved", "crash", "finish"):
    open("restart.dat", "w").write(f"{{done + 1:e}}  \\n")
if action == "stop":
    print("| stopped by SIGUSR1 at t = 1 (step 5): checkpoint written, continue with incon 2", file=sys.stderr)
    sys.exit(75)
if action == "fail":
    print("| tavo cannot go on: the disk is full", file=sys.stderr)
    sys.exit(1)
if action in ("kill-saved", "kill-early"):
    os.kill(os.getpid(), signal.SIGKILL)
if action == "crash":
    signal.signal(signal.SIGSEGV, signal.SIG_DFL)
    os.kill(os.getpid(), signal.SIGSEGV)
print("| TAVO end.")
"""
# sbatch logs its arguments and hands out job numbers from 101 on; squeue lists the jobs of queue.txt.
SBATCH = """#!/bin/bash
bin=$(dirname "$0")
printf '%s\\n' "$*" >> "$bin/sbatch.txt"
echo "Submitted batch job $((100 + $(wc -l < "$bin/sbatch.txt")))"
"""
SQUEUE = """#!/bin/bash
bin=$(dirname "$0")
while [ $# -gt 0 ]; do [ "$1" = -j ] && job=$2; shift; done
grep -x "$job" "$bin/queue.txt" 2> /dev/null || true
"""


def shell(cwd, command, env=None):
    done = subprocess.run(["bash", "-c", command], cwd=cwd, capture_output=True, text=True, timeout=120,
                          env=dict(os.environ, **(env or {})))
    return done.returncode, done.stdout + done.stderr


@pytest.fixture
def place(tmp_path):
    """A directory with a blank in its name holding base/tavo.inp and the stand-ins in bin/."""
    top = tmp_path / "with blank"
    (top / "base").mkdir(parents=True)
    (top / "base" / "tavo.inp").write_text(BASE)
    (top / "bin").mkdir()
    for name, text in (("tavo", PROGRAM), ("sbatch", SBATCH), ("squeue", SQUEUE)):
        (top / "bin" / name).write_text(text)
        (top / "bin" / name).chmod(0o755)
    return top


def array(place, options="", lists="chat=0.5,1"):
    status, output = shell(place, f"TAVO_ANALYSE=true '{TOP}/scripts/scan' --slurm --tavo bin/tavo {options} base out "
                                  + lists)
    assert status == 0, output


def task(place, index, job="500", analysis=None):
    """Run array task index by hand as job `job` of the array 500; (status, output)."""
    env = {"PATH": f"{place}/bin:{os.environ['PATH']}", "SLURM_ARRAY_TASK_ID": str(index),
           "SLURM_CPUS_PER_TASK": "2", "SLURM_JOB_ID": job, "SLURM_ARRAY_JOB_ID": job}
    if analysis is not None:
        quoted = shlex.quote(shlex.quote(analysis))  # a word of the script that holds one command line
        script = (place / "out" / "scan.slurm").read_text().replace(" true -- sbatch", f" {quoted} -- sbatch")
        (place / "out" / "scan.slurm").write_text(script)
    return shell(place, "bash out/scan.slurm", env)


def submitted(place):
    path = place / "bin" / "sbatch.txt"
    return path.read_text().splitlines() if path.exists() else []


def test_scan_array_asks_for_its_resources_and_continues_a_stopped_point(place):
    array(place, "--time 2:00:00 --mem 3G --partition short --account plasma --lead 90")
    script = (place / "out" / "scan.slurm").read_text()
    for line in ("#SBATCH --array=0-1", "#SBATCH --cpus-per-task=2", "#SBATCH --time=2:00:00", "#SBATCH --mem=3G",
                 "#SBATCH --partition=short", "#SBATCH --account=plasma", "#SBATCH --signal=B:USR1@90",
                 f'#SBATCH --output="{place}/out/slurm-%A_%a.log"', f"  '{place}/out/chat_1'"):
        assert "\n" + line + "\n" in script, line
    assert shell(place, "bash -n out/scan.slurm")[0] == 0
    point = place / "out" / "chat_1"
    status, output = task(place, 1)
    assert status == 0, output
    assert (point / "calls.txt").read_text() == "threads=2 incon=1\n"
    assert read_parameters(str(point))["incon"] == 2
    assert read_parameters(str(point / "tavo.inp.first"))["incon"] == 1
    assert submitted(place) == [f"--array=1 {place}/out/scan.slurm"]
    assert (point / "slurm-next").read_text() == "101\n"
    # The array made again while the point is in its chain: its file stays as it is.
    array(place, "--time 2:00:00 --mem 3G --partition short --account plasma --lead 90")
    assert read_parameters(str(point))["incon"] == 2
    status, output = task(place, 1, job="101")
    assert status == 0 and (point / "finished").exists(), output
    status, output = task(place, 1, job="102")
    assert status == 0 and "finished already" in output, output
    assert (point / "calls.txt").read_text() == "threads=2 incon=1\nthreads=2 incon=2\n"
    assert len(submitted(place)) == 1
    assert not (place / "out" / "chat_0.5" / "calls.txt").exists(), "task 0 never ran"


# action of the program's first start, whether the chain goes on, the start of failed.txt
ENDS = [
    ("stop", True, None),
    ("kill-saved", True, None),
    ("kill-early", False, "| tavo was killed by SIGKILL before this part wrote a checkpoint"),
    ("crash", False, "| tavo failed (killed by SIGSEGV)"),
    ("fail", False, "| tavo failed (exit status 1): | tavo cannot go on: the disk is full"),
]


@pytest.mark.parametrize("action, goes_on, reason", ENDS, ids=[e[0] for e in ENDS])
def test_a_part_goes_on_only_from_a_checkpoint_of_its_own(place, action, goes_on, reason):
    array(place, lists="chat=1")
    point = place / "out" / "chat_1"
    (point / "plan").write_text(action + "\n")
    status, output = task(place, 0)
    assert bool(submitted(place)) == goes_on, output
    assert read_parameters(str(point))["incon"] == (2 if goes_on else 1)
    if goes_on:
        assert status == 0 and not (point / "failed.txt").exists(), output
    else:
        assert status == 1 and (point / "failed.txt").read_text().startswith(reason), output
        # A later job leaves the failed point alone until failed.txt is removed.
        status, output = task(place, 0, job="501")
        assert status == 1 and "remove failed.txt" in output, output
        assert (point / "calls.txt").read_text().count("\n") == 1


def test_a_finished_run_is_never_run_again(place):
    array(place, lists="chat=1")
    point = place / "out" / "chat_1"
    (point / "plan").write_text("finish\n")
    failing = place / "bin" / "analysis"
    failing.write_text("#!/bin/sh\n[ -e \"$1/mended\" ] || { echo '| the analysis cannot read it'; exit 1; }\n")
    failing.chmod(0o755)
    status, output = task(place, 0, analysis=str(failing))
    assert status == 1 and (point / "failed.txt").read_text().startswith("| the analysis failed (exit status 1)")
    (point / "failed.txt").unlink()
    (point / "mended").touch()
    status, output = task(place, 0, job="501")
    assert status == 0 and (point / "finished").exists(), output
    assert (point / "calls.txt").read_text() == "threads=2 incon=1\n", "analysed again, not run again"
    assert submitted(place) == []


def test_a_part_submitted_twice_does_nothing(place):
    array(place, lists="chat=1")
    point = place / "out" / "chat_1"
    # A part of the point runs (it holds point.lock): another job does nothing.
    hold = ("import fcntl, os, sys, time; f = os.open(sys.argv[1], os.O_RDWR | os.O_CREAT); "
            "fcntl.flock(f, fcntl.LOCK_EX); print(flush=True); time.sleep(30)")
    holder = subprocess.Popen([sys.executable, "-c", hold, str(point / "point.lock")], stdout=subprocess.PIPE)
    holder.stdout.readline()
    status, output = task(place, 0)
    holder.kill()
    holder.wait()
    assert status == 0 and "another part of this run is running" in output, output
    # The chain's next part is queued: a job of the array submitted again does nothing; the part
    # itself runs; once it has left the queue, a new submission runs too.
    (point / "slurm-next").write_text("101\n")
    (place / "bin" / "queue.txt").write_text("101\n")
    status, output = task(place, 0, job="600")
    assert status == 0 and "job 101 is the next part of this run's chain" in output, output
    assert not (point / "calls.txt").exists() and not (point / "failed.txt").exists()
    status, output = task(place, 0, job="101")
    assert status == 0 and (point / "calls.txt").read_text() == "threads=2 incon=1\n", output
    (place / "bin" / "queue.txt").write_text("")
    status, output = task(place, 0, job="700")
    assert status == 0 and (point / "finished").exists(), output


def test_submit_writes_a_self_continuing_job(place):
    run = place / "a run"
    run.mkdir()
    (run / "tavo.inp").write_text(with_values(BASE, {"npar": 3}))
    status, output = shell(run, f"'{TOP}/scripts/submit' --no-submit --tavo ../bin/tavo --time 30 --lead 60 .")
    assert status == 0, output
    script = (run / "tavo.slurm").read_text()
    for line in ("#SBATCH --cpus-per-task=3", "#SBATCH --time=30", "#SBATCH --signal=B:USR1@60",
                 f'#SBATCH --output="{run}/slurm-%j.log"'):
        assert "\n" + line + "\n" in script, line
    assert "#SBATCH --mem=" in script and "--partition" not in script
    env = {"PATH": f"{place}/bin:{os.environ['PATH']}", "SLURM_CPUS_PER_TASK": "3", "SLURM_JOB_ID": "7"}
    status, output = shell(run, "bash tavo.slurm", env)
    assert status == 0 and read_parameters(str(run))["incon"] == 2, output
    assert submitted(place) == [f"{run}/tavo.slurm"]
    status, output = shell(run, "bash tavo.slurm", dict(env, SLURM_JOB_ID="101"))
    assert status == 0 and (run / "finished").exists(), output
    assert (run / "calls.txt").read_text() == "threads=3 incon=1\nthreads=3 incon=2\n"
    assert json.loads("[" + ",".join((run / "slurm-parts").read_text().split()[::2]) + "]") == [7, 101]
