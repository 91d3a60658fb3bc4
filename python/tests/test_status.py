"""tavo.run_status: how a run ended, from its files (the lock, the console kept beside it, the
checkpoint) for runs the program really finished, refused, stopped or lost to a kill."""
import fcntl
import os
import shutil
import signal
import subprocess
import time

import pytest

from conftest import small_parameters
import tavo


def run_kept(exe, directory, text, stop=None, after_lines=3):
    """Run exe in directory on parameter file text with its console in tavo.out and tavo.err;
    stop: a signal sent once after_lines progress lines."""
    (directory / "tavo.inp").write_text(text)
    with open(directory / "tavo.out", "w") as out, open(directory / "tavo.err", "w") as err:
        run = subprocess.Popen([exe], cwd=directory, stdout=out, stderr=err)
        if stop is not None:
            deadline = time.time() + 120
            while time.time() < deadline and open(directory / "tavo.err").read().count("| progress") < after_lines:
                time.sleep(0.02)
            run.send_signal(stop)
        return run.wait(timeout=300)


def test_finished_and_copied(small_run, tmp_path):
    status = tavo.run_status(small_run)  # no console kept: the checkpoint tells
    assert (status["state"], status["t"], status["t_end"]) == ("finished", pytest.approx(2.0), pytest.approx(2.0))
    shutil.copy(small_run / "eng.dat", tmp_path)
    assert tavo.run_status(tmp_path)["state"] == "unknown"
    (tmp_path / "eng.dat").unlink()
    assert tavo.run_status(tmp_path)["state"] == "not started"


def test_refused_at_its_start(tavo_exe, tmp_path):
    assert run_kept(tavo_exe, tmp_path, small_parameters(nx=0)) == 1
    status = tavo.run_status(tmp_path)
    assert status["state"] == "failed" and status["cause"].startswith("| nx = 0 (value 10)")
    assert status["message"].startswith("failed at its start: nx = 0")


def test_running_while_the_lock_is_held(small_run, tmp_path):
    shutil.copytree(small_run, tmp_path / "run")
    with open(tmp_path / "run" / "tavo.lock", "r+") as lock:
        fcntl.flock(lock, fcntl.LOCK_EX | fcntl.LOCK_NB)
        status = tavo.run_status(tmp_path / "run")
    assert status["state"] == "running" and f"process {os.getpid()} holds tavo.lock" in status["message"]
    assert tavo.run_status(tmp_path / "run")["state"] == "finished"


@pytest.mark.parametrize("stop, nckpt, state, says", [
    (signal.SIGTERM, 0, "stopped", "stopped by SIGTERM at t = "),
    (signal.SIGKILL, 0, "ended early", "without a checkpoint there: killed, or crashed"),
])
def test_stopped_and_killed(tavo_exe, tmp_path, stop, nckpt, state, says):
    text = small_parameters(dt=0.002, itmax=100000, nckpt=nckpt, nframe=0)
    assert run_kept(tavo_exe, tmp_path, text, stop=stop) == (75 if stop == signal.SIGTERM else -signal.SIGKILL)
    status = tavo.run_status(tmp_path)
    assert status["state"] == state and says in status["message"], status
    assert status["t_end"] in (None, pytest.approx(200.0))
    if stop == signal.SIGTERM:
        # without its console the checkpoint still tells an unfinished run that stopped at its last output
        for name in ("tavo.out", "tavo.err"):
            (tmp_path / name).unlink()
        status = tavo.run_status(tmp_path)
        assert status["state"] == "stopped" and status["message"].endswith("continue with incon 2")
