"""The Python interpreter the scripts of the checkout run with: the one choice for all of them.

The scripts (scripts/analyse, plot, movie, scan, parameters, ...) start with whatever `python3` the
PATH names (or whatever a user started them with) and call use_interpreter(modules) before
importing anything else; the shell scripts run Python only through scripts/parameters, which does
the same. It keeps or replaces the interpreter in this order: TAVO_PYTHON when set (and then only
that one), else Debian's system interpreter /usr/bin/python3, else `python3` on the PATH; the first
that has every module is run (os.execv, with the same arguments). When none has them, the script
stops with a "|" line naming each interpreter tried and what it lacks. The commands installed with
the package (tavo-analyse, tavo-plot, tavo-movie, ...) run in the interpreter they were installed
for. Standard library only.
"""
import importlib.util
import os
import shutil
import subprocess
import sys

MODULES = ("numpy", "xarray", "netCDF4", "matplotlib")


def _same(a, b):
    try:
        return os.path.samefile(a, b)
    except OSError:
        return False


def _lacking_here(modules):
    """The modules this interpreter cannot import (found by name only, nothing is imported)."""
    return [m for m in modules if importlib.util.find_spec(m) is None]


def _lacking(python, modules):
    """The modules a fresh start of python cannot import."""
    code = ("import importlib.util, sys; "
            "print(' '.join(m for m in sys.argv[1:] if importlib.util.find_spec(m) is None))")
    try:
        done = subprocess.run([python, "-c", code, *modules], capture_output=True, text=True, timeout=60)
    except (OSError, subprocess.SubprocessError) as e:
        return [f"(cannot start it: {e})"]
    if done.returncode != 0:
        return ["(it does not run)"]
    return done.stdout.split()


def candidates():
    """The interpreters to try, in order."""
    chosen = os.environ.get("TAVO_PYTHON")
    if chosen:
        return [shutil.which(chosen) or chosen]
    found = []
    for python in ("/usr/bin/python3", shutil.which("python3")):
        if python and os.path.exists(python) and not any(_same(python, f) for f in found):
            found.append(python)
    return found


def use_interpreter(modules=MODULES, script=None):
    """Go on in this interpreter, or re-run the script in the first candidate that has the
    modules, or stop with a "|" line saying what is missing."""
    script = script or os.path.abspath(sys.argv[0])
    tried = []
    for python in candidates():
        if _same(python, sys.executable) and not _lacking_here(modules):
            os.environ.pop("TAVO_PYTHON_STARTED", None)
            return
        lacking = _lacking(python, modules)
        if not lacking and os.environ.get("TAVO_PYTHON_STARTED") != python:
            # Marked, so that an interpreter that lacks them after all is not started again.
            os.environ["TAVO_PYTHON_STARTED"] = python
            os.execv(python, [python, script, *sys.argv[1:]])
        tried.append(f"{python} lacks {', '.join(lacking or _lacking_here(modules))}")
    if not tried:
        tried.append("no python3 was found (TAVO_PYTHON unset, no /usr/bin/python3, none on the PATH)")
    name = os.path.basename(script)
    print(f"| {name}: no Python interpreter has the modules {', '.join(modules)}: {'; '.join(tried)}. "
          "Install Debian's python3-numpy python3-xarray python3-netcdf4 python3-matplotlib, or name an "
          "interpreter that has them in TAVO_PYTHON", file=sys.stderr)
    sys.exit(1)


def command(module, modules=MODULES):
    """Run the command of a module of the package (its main(), whose value is the exit status) in
    the interpreter chosen above: what each script of the checkout does."""
    use_interpreter(modules)
    import importlib
    sys.exit(importlib.import_module(module).main(sys.argv[1:]))
