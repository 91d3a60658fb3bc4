"""A run's state, read from its files: finished, stopped at t, crashed at t with its cause, and so on.

    tavo.run_status("runs/mycase")
    {'state': 'stopped', 't': 91.58, 't_end': 400.0, 'cause': '| stopped by SIGUSR1 at t = 91.58 ...',
     'message': 'stopped by SIGUSR1 at t = 91.58 of 400: continue with incon 2'}

state is one of
    running      a program holds the run's lock "tavo.lock" now
    finished     the run reached its last step
    stopped      stopped by a signal with its checkpoint written (exit status 75): continue with incon 2
    crashed      ended by the program's crash stop (a blow-up, or fields decayed to zero); cause holds
                 the program's own lines
    failed       refused at its start, or ended by an error; cause holds the program's "|" line
    ended early  ended before its last step without a checkpoint there (killed, or crashed while its
                 console was not kept)
    unknown      series without a checkpoint, a console or the lock file a run leaves: a copy of a
                 run's files, whose end the files do not tell
    not started  no output of a run
t is the time of the last output in the series (or of the stop), t_end the run's planned end
when known.

Sources, in this order: the lock (a program holding "tavo.lock" is listed in /proc/locks); the
console of the run's last start when it was kept in the directory as "tavo.out" and "tavo.err"
(scripts/scan, scripts/submit and `make run` keep it): its end line, its stop line, its crash lines
and the cause the program printed; otherwise the checkpoint "restart.nc", whose steps done and
steps planned tell a finished run from an unfinished one, beside the last time of "eng.dat".
Standard library only.
"""
import os
import re

STATES = ("running", "finished", "stopped", "crashed", "failed", "ended early", "unknown", "not started")


def _lock_holder(run):
    """The process number that holds the run's lock, else None (also where /proc/locks is missing)."""
    try:
        status = os.stat(os.path.join(run, "tavo.lock"))
        with open("/proc/locks") as f:
            locks = f.read().splitlines()
    except OSError:
        return None
    for line in locks:
        words = line.split()
        # "1: FLOCK  ADVISORY  WRITE 1234 fe:00:10954864 0 EOF" (blocked waiters are marked "->")
        if len(words) >= 6 and words[1] == "FLOCK" and words[0] != "->":
            device = words[5].split(":")
            if len(device) == 3 and device[2] == str(status.st_ino):
                try:
                    if (int(device[0], 16), int(device[1], 16)) != (os.major(status.st_dev), os.minor(status.st_dev)):
                        continue
                except ValueError:
                    continue
                return int(words[4])
    return None


def _last_time(run):
    """The time of the last complete record of eng.dat, None without one."""
    try:
        with open(os.path.join(run, "eng.dat"), "rb") as f:
            f.seek(0, os.SEEK_END)
            size = f.tell()
            f.seek(max(size - 4096, 0))
            tail = f.read().decode("ascii", "replace")
    except OSError:
        return None
    lines = [line for line in tail.split("\n")[:-1] if line.strip()]
    for line in reversed(lines):
        try:
            return float(line.split()[0])
        except (ValueError, IndexError):
            continue
    return None


def _checkpoint(run):
    """The global attributes of "restart.nc" (time, t0, step, steps, dt) as a dict; without it
    (or when it cannot be read) the time of "restart.dat" alone; None without either."""
    path = os.path.join(run, "restart.nc")
    if os.path.isfile(path):
        try:
            import netCDF4
            with netCDF4.Dataset(path) as nc:
                return {name: float(nc.getncattr(name)) for name in ("time", "t0", "step", "steps", "dt")}
        except Exception:  # a checkpoint the library cannot read: its text twin may tell the time
            pass
    try:
        with open(os.path.join(run, "restart.dat"), "rb") as f:
            return {"time": float(f.read(64).split()[0])}
    except (OSError, ValueError, IndexError):
        return None


def _console(run):
    """The lines of tavo.out from the run's last start on, and the lines of tavo.err (chains of
    jobs append every part to both), or None when the console was not kept."""
    out_path, err_path = os.path.join(run, "tavo.out"), os.path.join(run, "tavo.err")
    if not os.path.isfile(out_path):
        return None
    with open(out_path, errors="replace") as f:
        out = f.read().splitlines()
    starts = [k for k, line in enumerate(out) if line.startswith("| TAVO start")]
    out = out[starts[-1]:] if starts else out
    err = []
    if os.path.isfile(err_path):
        with open(err_path, errors="replace") as f:
            err = f.read().splitlines()
    return out, err


# The lines of a run's standard output that are no error: the banner, the start, the progress
# lines, the end report.
_CONSOLE = ("|t=", "| TAVO", "| parallel threads", "| initialisation", "| start time stepping", "| computing",
            "| total times", "| rela. times", "_")


def _fmt(t):
    return "?" if t is None else f"{t:.6g}"


def run_status(path, series_end=None):
    """The state of the run in directory path (see the module's description). series_end: the last
    output time when the caller has read the series already."""
    run = os.path.abspath(path)
    t = series_end if series_end is not None else _last_time(run)
    checkpoint = _checkpoint(run)
    t_end = None
    if checkpoint and checkpoint.get("dt", 0) > 0:
        t_end = checkpoint["t0"] + checkpoint["steps"] * checkpoint["dt"]

    def result(state, message, cause=None, at=t):
        return {"state": state, "t": at, "t_end": t_end, "cause": cause, "message": message}

    holder = _lock_holder(run)
    if holder is not None:
        return result("running", f"running (process {holder} holds tavo.lock), at t = {_fmt(t)}"
                      + (f" of {_fmt(t_end)}" if t_end else ""))
    console = _console(run)
    if console is not None:
        out, err = console
        if any(line.startswith("| TAVO end.") for line in out):
            return result("finished", f"finished at t = {_fmt(t)}")
        crash = [k for k, line in enumerate(out) if line.startswith("|TAVO CRASHED!")]
        if crash:
            progress = [line for line in out[:crash[-1]] if line.startswith("|t=")]
            found = re.match(r"\|t=([^ ]+)", progress[-1]) if progress else None
            at = float(found.group(1)) if found else t
            why = [line for line in err if line.startswith(("| the energy ", "| likely cause: "))][-2:]
            said = "; ".join(line[2:] for line in why) or out[crash[-1]][1:].strip()
            return result("crashed", f"crashed at t = {_fmt(at)}: {said}", "\n".join([out[crash[-1]]] + why), at)
        # A stop line of this part: the stop comes at or after the last output.
        for line in reversed([line for line in err if line.startswith("| stopped by ")]):
            found = re.search(r" at t = ([-+0-9.eE]+)", line)
            at = float(found.group(1)) if found else None
            if at is not None and (t is None or at >= t - 1e-6 * max(1.0, abs(t))):
                what = line[2:].split(":")[0]
                return result("stopped", f"{what}{' of ' + _fmt(t_end) if t_end else ''}: continue with incon 2",
                              line, at)
            break
        last = [line for line in out if line.strip() and line.strip() != "|"]
        if last and not last[-1].startswith(_CONSOLE):
            ran = any(line.startswith("|t=") for line in out)
            return result("failed", (f"failed at t = {_fmt(t)}: " if ran else "failed at its start: ") + last[-1][2:],
                          last[-1], t if ran else None)
    if t is None:
        return result("not started", "no output of a run (no eng.dat)")
    if checkpoint is not None and "step" not in checkpoint:
        at = checkpoint["time"]
        if abs(at - t) <= 1e-6 * max(1.0, abs(t)):
            return result("unknown", f"ended at t = {_fmt(t)} with its checkpoint (finished, or stopped: restart.nc, "
                          "which tells, is missing)")
    elif checkpoint is not None:
        at = checkpoint["time"]
        if checkpoint["step"] >= checkpoint["steps"] and abs(at - t) <= 1e-6 * max(1.0, abs(t)):
            return result("finished", f"finished at t = {_fmt(t)}")
        if checkpoint["step"] < checkpoint["steps"] and at >= t - 1e-6 * max(1.0, abs(t)):
            return result("stopped", f"stopped at t = {_fmt(at)} of {_fmt(t_end)} with its checkpoint: continue "
                          "with incon 2", at=at)
        return result("ended early", f"ended at t = {_fmt(t)} before its end{' t = ' + _fmt(t_end) if t_end else ''}, "
                      f"its last checkpoint at t = {_fmt(at)}: killed, or crashed (its console was not kept in "
                      "tavo.out and tavo.err)")
    if not os.path.exists(os.path.join(run, "tavo.lock")):
        return result("unknown", f"series to t = {_fmt(t)}; how the run ended is not known (no checkpoint, no console, "
                      "no tavo.lock: a copy of its files?)")
    return result("ended early", f"ended at t = {_fmt(t)} without a checkpoint there: killed, or crashed (its "
                  "console was not kept in tavo.out and tavo.err)")
