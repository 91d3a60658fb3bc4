"""What the tests of the commands around the program share: the checkout, the program (TAVO, else
build/tavo of the checkout), small parameter files and the commands of scripts/."""
import os
import subprocess
import sys

import pytest

TOP = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
sys.path.insert(0, os.path.join(TOP, "python"))
from tavo.parameters import with_values  # noqa: E402

TAVO = os.environ.get("TAVO", os.path.join(TOP, "build", "tavo"))


@pytest.fixture(scope="session")
def tavo_exe():
    if not os.access(TAVO, os.X_OK):
        pytest.fail(f"no program {TAVO}: build it, or name it in TAVO")
    return TAVO


def write_parameters(directory, **values):
    """The default example's parameter file with these values, in directory/tavo.inp."""
    with open(os.path.join(TOP, "examples", "default", "tavo.inp")) as f:
        text = with_values(f.read(), values)
    with open(os.path.join(directory, "tavo.inp"), "w") as f:
        f.write(text)


def run_tavo(directory, keep_console=False):
    """Run the program in directory; with keep_console its console goes to tavo.out and tavo.err
    as scripts/scan and scripts/run-example keep it."""
    done = subprocess.run([TAVO], cwd=directory, capture_output=True, text=True, timeout=300)
    if keep_console:
        with open(os.path.join(directory, "tavo.out"), "w") as f:
            f.write(done.stdout)
        with open(os.path.join(directory, "tavo.err"), "w") as f:
            f.write(done.stderr)
    return done


def command(name, *arguments, cwd=None):
    """A command of scripts/ (analyse, plot, movie), as a user calls it."""
    return subprocess.run([os.path.join(TOP, "scripts", name), *map(str, arguments)], capture_output=True, text=True,
                          timeout=300, cwd=cwd)
