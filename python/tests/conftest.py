"""Fixtures of the package's tests: the program (TAVO_EXE, else build/tavo of this checkout) and a
small real run made once per session."""
import os
import shutil
import subprocess
import sys

import pytest

TOP = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
sys.path.insert(0, os.path.join(TOP, "python"))

from tavo.parameters import with_values  # noqa: E402


@pytest.fixture(scope="session")
def tavo_exe():
    exe = os.environ.get("TAVO_EXE", os.path.join(TOP, "build", "tavo"))
    if not os.access(exe, os.X_OK):
        pytest.fail(f"no program {exe}: build it, or name it in TAVO_EXE")
    return exe


def small_parameters(**changes):
    """The default example's physics on a 32 x 32 grid, 100 steps in 10 outputs, one thread."""
    with open(os.path.join(TOP, "examples", "default", "tavo.inp")) as f:
        base = f.read()
    values = dict(diff=5e-3, ly=16.0, nx=32, ny=32, dt=0.02, itstp=10, itmax=100, ntrace=0, b_plan=0, npar=1,
                  nframe=2, nckpt=0)
    values.update(changes)
    return with_values(base, values)


def run_tavo(exe, directory, *arguments):
    return subprocess.run([exe, *arguments], cwd=directory, capture_output=True, text=True, timeout=300)


@pytest.fixture(scope="session")
def small_run(tavo_exe, tmp_path_factory):
    """A finished 32 x 32 bath run (read only: tests copy it before they change it)."""
    directory = tmp_path_factory.mktemp("run")
    (directory / "tavo.inp").write_text(small_parameters())
    done = run_tavo(tavo_exe, directory)
    assert done.returncode == 0, done.stdout + done.stderr
    return directory


@pytest.fixture
def run_copy(small_run, tmp_path):
    copy = tmp_path / "run"
    shutil.copytree(small_run, copy)
    return copy
