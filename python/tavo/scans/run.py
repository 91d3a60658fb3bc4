"""Making and running the points of a scan: on GNU parallel, as a Slurm job array, and the parts of a
Slurm chain (standard library only).

Starting a point. The point's state (points.py) decides: a done point is left alone, a failed one
too (with its files); a finished run whose analysis is due is only analysed; a point holding a
checkpoint of its own continues it (incon 2 is set in its tavo.inp, the first file kept as
tavo.inp.first); any other starts afresh with its own file. A point's tavo.inp is written once,
when the point is made: a scan called again never rewrites it, so a point in the middle of its run
(or a file mended by hand) keeps what it has. The console of every start is appended to tavo.out
and tavo.err.

Stopping. The program stops cleanly on its first signal (it finishes the step, writes its
checkpoint and exits with 75) and ends at once on a second one. So exactly one signal must reach it
for each signal the user gives:
  - under GNU parallel, the job engine runs in a session of its own (a Ctrl-C at the terminal
    reaches the scan alone); the scan tells it to start no more points (SIGHUP, on which it waits
    for the running ones) and passes each signal it gets to every running point's runner once,
    which passes it to its program once;
  - in a Slurm part, the time limit's early signal (SIGUSR1) reaches the part's own process only
    and is passed on; SIGTERM (the time limit, scancel) reaches the program from Slurm itself and
    is not passed on.
A point stopped with 75 is no failure: the next call (or the next part of a chain) continues it.

A Slurm chain goes on after status 75, or after the program was killed (SIGKILL after the grace
time, or a second stop signal) when this part wrote a checkpoint, so that the next part starts
further on than this one did. It never goes on after the run finished, nor after a crash (a fault
signal, or an error of the program), nor after a kill that left nothing new: it ends with the
reason in failed.txt.
"""
import errno
import fcntl
import json
import os
import re
import shlex
import shutil
import signal
import subprocess
import sys
import threading
import time

from ..parameters import REQUIRED, ParameterError, parse_parameters, typed, value_spans, with_values
from .points import (ScanError, checkpoint_files, failure, group_names, last_message, point_dir, point_key,
                     point_state, points_of, read_record, parse_groups, restart_time, run_finished, scanned_names,
                     write_record)

TOP = os.path.dirname(os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__)))))
STOPPED = 75  # the program's status after a stop by a signal, checkpoint written
# Signals that end a process the way a stop or a scheduler's kill does; any other signal that ends
# the program (SIGSEGV, SIGABRT, SIGBUS, SIGFPE, SIGILL, ...) is a fault of the run.
KILLS = {signal.SIGKILL, signal.SIGTERM, signal.SIGINT, signal.SIGHUP, signal.SIGUSR1, signal.SIGXCPU}


def say(message, stream=sys.stdout):
    print(message, file=stream, flush=True)


def signal_name(number):
    try:
        return signal.Signals(number).name
    except ValueError:
        return f"signal {number}"


def held(path):
    """An open descriptor of path holding its exclusive flock, or None when another process holds it."""
    fd = os.open(path, os.O_RDWR | os.O_CREAT | os.O_CLOEXEC, 0o644)
    try:
        fcntl.flock(fd, fcntl.LOCK_EX | fcntl.LOCK_NB)
    except OSError as e:
        os.close(fd)
        if e.errno in (errno.EWOULDBLOCK, errno.EAGAIN, errno.EACCES):
            return None
        raise
    return fd


def program_holds(directory):
    """Whether a running program holds the directory's tavo.lock."""
    lock = held(os.path.join(directory, "tavo.lock"))
    if lock is None:
        return True
    os.close(lock)
    return False


# ---- making the points ----

def analysis_command():
    """The analysis command line: TAVO_ANALYSE, else scripts/analyse of this checkout."""
    command = os.environ.get("TAVO_ANALYSE")
    if command is not None:
        try:
            words = shlex.split(command)
        except ValueError as e:
            raise ScanError(f"TAVO_ANALYSE={command!r} is no command line: {e}")
        if not words:
            raise ScanError("TAVO_ANALYSE is empty: name the analysis command, or unset it for scripts/analyse")
        return command
    default = os.path.join(TOP, "scripts", "analyse")
    if os.path.isfile(default) and os.access(default, os.X_OK):
        return shlex.quote(default)
    installed = shutil.which("tavo-analyse")  # the package installed, away from a checkout
    if installed:
        return shlex.quote(installed)
    raise ScanError(f"no analysis command: {default} is missing and no tavo-analyse is installed; name one in "
                    "TAVO_ANALYSE")


def make_points(base, out, items, threads=None):
    """Make OUT, its record and the directories of the points not made yet; returns the point
    directories (absolute) in the record's order. A scan called again with more values or seeds
    (the same base file, scanned names, pairing and threads) adds the new points after the old."""
    base_path = os.path.join(base, "tavo.inp")
    try:
        with open(base_path) as f:
            base_text = f.read()
    except OSError as e:
        raise ScanError(f"cannot read the base parameter file {base_path}: {e.strerror}")
    if len(value_spans(base_text)) < REQUIRED:
        raise ScanError(f"{base_path} holds {len(value_spans(base_text))} values, expected {REQUIRED}")
    groups = parse_groups(items)
    names = scanned_names(groups)
    if threads is not None:
        if threads < 1:
            raise ScanError(f"--threads {threads}: a run needs at least one thread")
        if "npar" in names:
            raise ScanError("npar is scanned: leave out --threads")
    points = points_of(groups)
    files = []
    # Every point's file must make a run: refused here, before any directory is made.
    for point in points:
        values = dict(point, **({"npar": str(threads)} if threads is not None else {}))
        text = with_values(base_text, values)
        try:
            parse_parameters(text)
        except ParameterError as error:
            raise ScanError(f"point {point_dir(point)}: {str(error).lstrip('| ')}")
        files.append(text)
    record = {"base": os.path.abspath(base), "base_text": base_text, "threads": threads, "parameters": names,
              "groups": group_names(groups), "points": [{"dir": point_dir(p), "values": p} for p in points]}
    texts = {point_dir(p): text for p, text in zip(points, files)}

    out = os.path.abspath(out)
    os.makedirs(out, exist_ok=True)
    if os.path.exists(os.path.join(out, "scan.json")):
        old = read_record(out)
        if any(old.get(key) != record[key] for key in ("base", "base_text", "threads", "parameters", "groups")):
            raise ScanError(f"{out} holds another scan (other base file, scanned names, pairing or threads): "
                            "choose a new directory")
        # The old points keep their places (and their job numbers in the job log), the new follow; a
        # value written otherwise (0.50 for 0.5) is the old point.
        known = {point_key(p["values"]) for p in old["points"]}
        added = [p for p in record["points"] if point_key(p["values"]) not in known]
        record["points"] = old["points"] + added
        if added:
            write_record(out, record)
    else:
        write_record(out, record)
    for point in record["points"]:
        path = os.path.join(out, point["dir"])
        os.makedirs(path, exist_ok=True)
        if not os.path.exists(os.path.join(path, "tavo.inp")) and point["dir"] in texts:
            with open(os.path.join(path, "tavo.inp"), "w") as f:
                f.write(texts[point["dir"]])
            with open(os.path.join(path, "point.json"), "w") as f:
                json.dump({n: typed(n, float(v)) for n, v in point["values"].items()}, f)
                f.write("\n")
    with open(os.path.join(out, "points.txt"), "w") as f:
        for point in record["points"]:
            f.write(os.path.join(out, point["dir"]) + "\n")
    return [os.path.join(out, p["dir"]) for p in record["points"]]


# ---- one start of a point's program ----

def set_start_mode(directory):
    """Make the point's tavo.inp start as its state asks: incon 2 when it holds a checkpoint of its
    own, else the start mode of its first file. Returns "resume" or "fresh"."""
    path = os.path.join(directory, "tavo.inp")
    first = os.path.join(directory, "tavo.inp.first")
    with open(path) as f:
        text = f.read()
    incon = parse_parameters(text, check=False)["incon"]
    if checkpoint_files(directory):
        if incon != 2:
            if not os.path.exists(first):
                shutil.copyfile(path, first)
            replace_file(path, with_values(text, {"incon": 2}))
        return "resume"
    if incon == 2:
        # A continuation without a checkpoint cannot start: the first file's start mode again.
        if not os.path.exists(first):
            raise ScanError(f"{path} continues (incon 2), but the point holds no checkpoint and no tavo.inp.first "
                            "with its first start mode: set incon in tavo.inp")
        with open(first) as f:
            start = parse_parameters(f.read(), check=False)["incon"]
        replace_file(path, with_values(text, {"incon": start}))
    return "fresh"


def replace_file(path, text):
    with open(path + ".new", "w") as f:
        f.write(text)
    os.replace(path + ".new", path)


class Child:
    """The one child process a runner waits on, and the signals passed on to it: each signal of
    `passed` the runner gets reaches the child once, also one that came while no child ran (it is
    given to the next child as soon as it starts); the signals of `kept` are only noted."""

    def __init__(self, passed, kept):
        self.process = None
        self.stopped = 0  # the first signal the runner got
        self.pending = []
        for number in passed:
            signal.signal(number, self.forward)
        for number in kept:
            signal.signal(number, self.note)

    def note(self, number, frame):
        self.stopped = self.stopped or number

    def forward(self, number, frame):
        self.note(number, frame)
        if self.process is not None and self.process.poll() is None:
            try:
                self.process.send_signal(number)
            except OSError:
                pass
        else:
            self.pending.append(number)

    def run(self, command, **options):
        self.process = subprocess.Popen(command, **options)
        for number in self.pending:
            self.process.send_signal(number)
        self.pending = []
        status = self.process.wait()
        self.process = None
        return status


def console(directory):
    """tavo.out and tavo.err of the directory opened for appending (the parts of a run follow each
    other in them)."""
    return (open(os.path.join(directory, "tavo.out"), "a"), open(os.path.join(directory, "tavo.err"), "a"))


def program_status(status):
    """A child's status as words: "exit status N" or "killed by SIGxxx"."""
    return f"exit status {status}" if status >= 0 else f"killed by {signal_name(-status)}"


def analyse(child, directory, command, summary=True):
    """Run the analysis command on directory; None when it ended well (and, with summary, wrote
    summary.json), else why not."""
    with open(os.path.join(directory, "analyse.log"), "w") as log:
        try:
            status = child.run(shlex.split(command) + [directory], stdout=log, stderr=subprocess.STDOUT)
        except (OSError, ValueError) as e:
            return f"cannot start the analysis {command}: {getattr(e, 'strerror', None) or e}"
    if status != 0:
        return f"the analysis failed ({program_status(status)}): {last_message(os.path.join(directory, 'analyse.log'))}"
    if summary and not os.path.isfile(os.path.join(directory, "summary.json")):
        return f"the analysis {command} wrote no summary.json"
    return None


def give_up(directory, message):
    """Mark the point failed: failed.txt holds the reason as a "|" line."""
    with open(os.path.join(directory, "failed.txt"), "w") as f:
        f.write("| " + message + "\n")
    say(f"| {directory}: {message}", sys.stderr)


def run_point(directory, tavo, analysis):
    """One point under GNU parallel (the scan's runner): start, continue or analyse it as its state
    asks. Exit status 0 when the point is done, 75 when it was stopped, else 1."""
    child = Child(passed=(signal.SIGTERM, signal.SIGINT), kept=())
    # One runner per point (point.lock, held to the end), and none while a program holds the
    # directory: nothing of the directory is touched before both are clear.
    if held(os.path.join(directory, "point.lock")) is None:
        say(f"| {directory}: another scan runs this point; not started", sys.stderr)
        return 1
    if program_holds(directory):
        say(f"| {directory}: a running program holds tavo.lock; not started", sys.stderr)
        return 1
    state = point_state(directory, analysed=True)
    if state == "done":
        return 0
    if state == "failed":
        say(f"| {directory}: failed earlier ({failure(directory)}); not started", sys.stderr)
        return 1
    if state != "analyse":
        try:
            set_start_mode(directory)
        except (OSError, ScanError, ParameterError) as e:
            give_up(directory, f"cannot set the start mode: {e}")
            return 1
        if child.stopped:
            return STOPPED
        out, err = console(directory)
        with out, err:
            try:
                status = child.run([tavo], cwd=directory, stdout=out, stderr=err)
            except OSError as e:
                give_up(directory, f"cannot start {tavo}: {e.strerror}")
                return 1
        stopped = last_message(os.path.join(directory, "tavo.err"))
        if status == STOPPED or (status < 0 and child.stopped):
            set_start_mode(directory)  # the file says at once what the next start does
        if status == STOPPED:
            say(f"| {directory}: {stopped.lstrip('| ')}; the scan called again continues it", sys.stderr)
            return STOPPED
        if status < 0 and child.stopped:
            # Ended at once (a second signal, or one before it could stop cleanly): what any kill
            # leaves, which the next call continues from the last checkpoint or starts afresh.
            say(f"| {directory}: ended by {signal_name(-status)} without a stop of its own; the scan called "
                "again goes on from its last checkpoint", sys.stderr)
            return STOPPED
        if status != 0:
            message = last_message(os.path.join(directory, "tavo.out"), os.path.join(directory, "tavo.err"))
            give_up(directory, f"tavo failed ({program_status(status)})" + (f": {message}" if message else ""))
            return 1
    if child.stopped:
        return STOPPED
    if os.path.exists(os.path.join(directory, "summary.json")):
        os.remove(os.path.join(directory, "summary.json"))
    problem = analyse(child, directory, analysis)
    if problem and child.stopped:
        say(f"| {directory}: stopped during the analysis; the scan called again analyses it", sys.stderr)
        return STOPPED
    if problem:
        give_up(directory, problem)
        return 1
    return 0


# ---- a scan on GNU parallel ----

def runners(pid):
    """The process ids of the point runners below pid (from /proc)."""
    children = {}
    for entry in os.listdir("/proc"):
        if not entry.isdigit():
            continue
        try:
            with open(f"/proc/{entry}/stat") as f:
                fields = f.read().rsplit(")", 1)[1].split()
            children.setdefault(int(fields[1]), []).append(int(entry))
        except (OSError, IndexError, ValueError):
            continue
    found, queue = [], [pid]
    while queue:
        for child in children.get(queue.pop(0), []):
            queue.append(child)
            try:
                with open(f"/proc/{child}/cmdline", "rb") as f:
                    words = f.read().split(b"\0")
            except OSError:
                continue
            if b"run-point" in words:
                found.append(child)
    return found


def describe(directory):
    """The state of a point that is not done, in words, for the scan's report."""
    name = os.path.basename(directory)
    why = failure(directory)
    if why is not None:
        again = ("to analyse it again" if run_finished(directory) else
                 "to run it again, from its checkpoint" if checkpoint_files(directory) else "to run it again")
        return f"| point {name} failed: {why} (its files are kept: remove {directory}/failed.txt and call the scan {again})"
    state = point_state(directory)
    if state == "resume":
        at = restart_time(directory)
        return f"| point {name} stopped" + (f" at t = {float(at):g}" if at else "") + ": continued by the next call"
    if state == "analyse":
        return f"| point {name} ran to its end; its analysis is due: done by the next call"
    if os.path.exists(os.path.join(directory, "tavo.out")):
        return f"| point {name} did not end and has no checkpoint: started afresh by the next call"
    return f"| point {name} never ran"


def run_scan(dirs, out, tavo, jobs, sshlogin=None):
    """Run the points of dirs that are not done with GNU parallel; returns the exit status."""
    if shutil.which("parallel") is None:
        raise ScanError("GNU parallel is not installed (Debian package parallel; scripts/install-deps installs it)")
    analysis = analysis_command()
    todo = [d for d in dirs if point_state(d) not in ("done", "failed")]
    with open(os.path.join(out, "todo.txt"), "w") as f:
        for d in todo:
            f.write(d + "\n")
    # -q: the command's words reach the runner as they are (GNU parallel otherwise joins them for a
    # shell, which drops an empty word and splits one with blanks). The runner is this interpreter
    # on this package: no second choice of interpreter, and its signal handlers are set at once.
    command = ["parallel", "--will-cite", "-q", "--joblog", "+" + os.path.join(out, "joblog"), "-j", str(jobs)]
    if sshlogin:
        command += ["--sshlogin", sshlogin]
    command += [sys.executable, "-m", "tavo.scans", "run-point", "--tavo", tavo, "--analyse", analysis, "{}",
                "::::", os.path.join(out, "todo.txt")]
    environment = dict(os.environ)
    package = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
    environment["PYTHONPATH"] = package + (os.pathsep + environment["PYTHONPATH"] if environment.get("PYTHONPATH") else "")
    failed = [d for d in dirs if point_state(d) == "failed"]
    say(f"| running {len(todo)} of {len(dirs)} points in {out} ({jobs} at once)"
        + (f"; {len(failed)} failed earlier and are left as they are" if failed else ""))
    signals = []
    signalled = {}  # runner -> signals passed to it
    engine = None

    def stop(number, frame):
        signals.append(number)

    def pass_on():
        # The engine starts no more points (SIGHUP: it waits for the running ones); every runner
        # gets each signal once, also one the engine started while it winds down.
        if engine is None or engine.poll() is not None:
            return
        if not signalled:
            try:
                engine.send_signal(signal.SIGHUP)
            except OSError:
                pass
            signalled[engine.pid] = len(signals)
        for pid in runners(engine.pid):
            for number in signals[signalled.get(pid, 0):]:
                try:
                    os.kill(pid, number)
                except OSError:
                    pass
            signalled[pid] = len(signals)

    signal.signal(signal.SIGTERM, stop)
    signal.signal(signal.SIGINT, stop)
    if todo:
        # The engine's own lines about the stop ("SIGHUP received ...") are left out: the scan says
        # what happened; the runners' lines pass.
        engine = subprocess.Popen(command, start_new_session=True, env=environment, stderr=subprocess.PIPE,
                                  text=True, errors="replace")

        def relay():
            for line in engine.stderr:
                if not (signalled and line.startswith("parallel: ")):
                    sys.stderr.write(line)
                    sys.stderr.flush()

        relaying = threading.Thread(target=relay, daemon=True)
        relaying.start()
        while engine.poll() is None:
            try:
                engine.wait(timeout=0.5)
            except subprocess.TimeoutExpired:
                pass
            if signals:
                pass_on()
        relaying.join(timeout=5)
    done = [d for d in dirs if point_state(d) == "done"]
    for d in dirs:
        if d not in done:
            say(describe(d), sys.stderr)
    say(f"| {len(done)} of {len(dirs)} points done in {out}")
    if signals:
        say(f"| the scan was stopped by {signal_name(signals[0])}", sys.stderr)
    if len(done) < len(dirs):
        say("| call the scan again with the same arguments to go on with the points not done", sys.stderr)
        return 1
    return 0


# ---- a scan as a Slurm job array ----

def point_values(path):
    """The values of a point's parameter file (as text), in their order."""
    with open(path) as f:
        text = f.read()
    return [text[start:end] for start, end in value_spans(text)]


def write_slurm(dirs, out, tavo, jobs=None, time_limit="1:00:00", mem="", partition="", account="", lead="120"):
    """OUT/scan.slurm: one array task per point; each task runs its point through scripts/slurm-job,
    which continues a point stopped at the time limit in a new task of the same index and leaves
    finished points alone, so submitting the array again runs only what is not finished."""
    script = os.path.join(out, "scan.slurm")
    threads = []
    for d in dirs:
        try:
            threads.append(int(float(point_values(os.path.join(d, "tavo.inp"))[18])))
        except (ValueError, IndexError, OSError):
            raise ScanError(f"{d}/tavo.inp: npar (value 19) is not a thread count")
    cpus = max(threads)
    if cpus < 1:
        raise ScanError(f"npar {cpus}: a run needs at least one thread")
    if not re.fullmatch(r"\d+", lead):
        raise ScanError(f"--lead {lead}: a number of seconds")
    if not mem:
        # About fifty fields of nx*ny doubles, twice over, and room for the libraries.
        values = point_values(os.path.join(dirs[0], "tavo.inp"))
        mem = f"{int(float(values[9]) * float(values[10]) * 8 * 100 / 1048576) + 512}M"
    options = [f"--array=0-{len(dirs) - 1}" + (f"%{jobs}" if jobs else ""),
               "--ntasks=1", f"--cpus-per-task={cpus}", f"--time={time_limit}", f"--mem={mem}",
               f"--signal=B:USR1@{lead}", '--output="' + os.path.join(out, "slurm-%A_%a.log") + '"']
    if partition:
        options.append(f"--partition={partition}")
    if account:
        options.append(f"--account={account}")
    lines = ["#!/bin/bash",
             "# A tavo scan as a Slurm job array: task i runs the point in line i of the list below, with",
             "# OMP_NUM_THREADS from --cpus-per-task; a point stopped at the time limit continues in a new",
             "# task of its index, a finished point is left alone (see scripts/slurm-job).",
             "#   sbatch " + shlex.quote(script),
             "#SBATCH --job-name=tavo-scan"]
    lines += ["#SBATCH " + o for o in options]
    lines += ["points=("]
    lines += ["  " + shlex.quote(d) for d in dirs]
    lines += [")",
              'point=${points[$SLURM_ARRAY_TASK_ID]}',
              "exec " + shlex.quote(os.path.join(TOP, "scripts", "slurm-job")) + " " + shlex.quote(tavo)
              + ' "$point" ' + shlex.quote(analysis_command())
              + ' -- sbatch --array="$SLURM_ARRAY_TASK_ID" ' + shlex.quote(script)]
    with open(script, "w") as f:
        f.write("\n".join(lines) + "\n")
    os.chmod(script, 0o755)
    busy = [os.path.basename(d) for d in dirs if queued_part(d)]
    say(f"| wrote {script}: {len(dirs)} array tasks; submit it with: sbatch {script}")
    if busy:
        say(f"| {len(busy)} point(s) have a part queued or running ({', '.join(busy[:5])}"
            + (", ..." if len(busy) > 5 else "") + "): a task of the array submitted again leaves them to it")


# ---- one part of a Slurm chain ----

def job_id():
    """This job's id as sbatch printed it (the array's id for a task of an array)."""
    return os.environ.get("SLURM_ARRAY_JOB_ID") or os.environ.get("SLURM_JOB_ID") or ""


def queued_part(directory):
    """The job id of the chain's next part (recorded in slurm-next when it was submitted) while
    Slurm still holds it, else None."""
    try:
        with open(os.path.join(directory, "slurm-next")) as f:
            recorded = f.read().split()
    except OSError:
        return None
    if not recorded or shutil.which("squeue") is None:
        return None
    try:
        listed = subprocess.run(["squeue", "-h", "-j", recorded[0], "-o", "%i"], capture_output=True, text=True,
                                timeout=60)
    except (OSError, subprocess.SubprocessError):
        return None
    return recorded[0] if listed.returncode == 0 and listed.stdout.strip() else None


def slurm_part(directory, tavo, analysis, submit):
    """One part of a run's Slurm chain (scripts/slurm-job); returns the exit status."""
    child = Child(passed=(signal.SIGUSR1,), kept=(signal.SIGTERM, signal.SIGINT))
    try:
        os.chdir(directory)
    except OSError as e:
        say(f"| cannot enter {directory}: {e.strerror}", sys.stderr)
        return 1
    directory = os.getcwd()
    # One part at a time: a part of a chain submitted twice (the array submitted again while parts
    # were queued) finds the point taken, or the chain's next part queued, and does nothing.
    if held(os.path.join(directory, "point.lock")) is None:
        say(f"| {directory}: another part of this run is running; this job does nothing")
        return 0
    waiting = queued_part(directory)
    if waiting and waiting != job_id():
        say(f"| {directory}: job {waiting} is the next part of this run's chain; this job does nothing")
        return 0
    if os.path.exists("finished"):
        say(f"| {directory}: finished already, nothing to do")
        return 0
    why = failure(directory)
    if why is not None:
        say(f"| {directory}: failed earlier ({why}); remove failed.txt to run it again", sys.stderr)
        return 1
    with open("slurm-parts", "a") as f:
        f.write(f"{os.environ.get('SLURM_JOB_ID', 'none')} {time.strftime('%Y-%m-%dT%H:%M:%SZ', time.gmtime())}\n")
    with open("slurm-parts") as f:
        parts = sum(1 for _ in f)
    threads = os.environ.get("SLURM_CPUS_PER_TASK", "1")

    def fail(message):
        give_up(directory, message)
        return 1

    if not run_finished(directory):
        try:
            set_start_mode(directory)
        except (OSError, ScanError, ParameterError) as e:
            return fail(f"cannot set the start mode: {e}")
        if child.stopped or child.pending:
            number = child.stopped or child.pending[0]
            if number == signal.SIGUSR1:
                return fail("the stop signal (SIGUSR1) came before tavo started: is the signal's lead (--lead) "
                            "as long as the time limit?")
            say(f"| {directory}: {signal_name(number)} before tavo started; the part ends here")
            return 0
        began = time.time()
        out, err = console(directory)
        with out, err:
            try:
                status = child.run([tavo], stdout=out, stderr=err, env=dict(os.environ, OMP_NUM_THREADS=threads))
            except OSError as e:
                return fail(f"cannot start {tavo}: {e.strerror}")
        if status != 0:
            message = last_message("tavo.err", "tavo.out")
            killed = status < 0 and -status in KILLS
            saved = any(os.path.getmtime(n) >= began for n in checkpoint_files(directory))
            if status == STOPPED or (killed and saved):
                return next_part(directory, status, parts, submit)
            if killed:
                return fail(f"tavo was {program_status(status)} before this part wrote a checkpoint: nothing to "
                            "continue from (out of memory, or a stop signal's lead too short for a step and a "
                            "checkpoint?)")
            return fail(f"tavo failed ({program_status(status)})" + (f": {message}" if message else ""))
    # The run is finished: analysed (once; a finished run is never run again), then marked.
    if analysis:
        # The scan's collection reports a point without a summary; the chain needs the analysis to end well.
        problem = analyse(child, directory, analysis, summary=False)
        if problem:
            return fail(problem)
    with open("finished", "w"):
        pass
    say(f"| {directory}: finished in {parts} part(s)")
    return 0


def next_part(directory, status, parts, submit):
    """Submit the next part of a stopped run; returns the exit status."""
    how = "stopped" if status == STOPPED else program_status(status)
    set_start_mode(directory)  # the file says at once what the next part does
    if os.path.exists("stop-chain"):
        say(f"| {directory}: {how} in part {parts}; stop-chain exists, no next part")
        return 0
    limit = int(os.environ.get("TAVO_MAX_PARTS", "100"))
    if parts >= limit:
        give_up(directory, f"{how} after {parts} parts (TAVO_MAX_PARTS): {last_message('tavo.err', 'tavo.out')}")
        return 1
    say(f"| {directory}: {how} in part {parts}, continuing: {' '.join(submit)}")
    try:
        done = subprocess.run(submit, capture_output=True, text=True, timeout=300)
    except (OSError, subprocess.SubprocessError) as e:
        give_up(directory, f"cannot submit the next part: {' '.join(submit)}: {e}")
        return 1
    sys.stdout.write(done.stdout)
    sys.stderr.write(done.stderr)
    if done.returncode != 0:
        give_up(directory, f"cannot submit the next part: {' '.join(submit)}: {last_line(done.stderr)}")
        return 1
    number = re.search(r"(\d+)", done.stdout)
    if number:
        with open("slurm-next", "w") as f:
            f.write(number.group(1) + "\n")
    return 0


def last_line(text):
    lines = [line for line in text.splitlines() if line.strip()]
    return lines[-1] if lines else "(no message)"
