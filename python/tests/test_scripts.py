"""The scripts' interpreter choice, and the one parameter table: no other list of the values in
the program, the scripts, the benchmarks or the tests."""
import os
import re
import subprocess
import sys

import pytest

from conftest import TOP
from tavo.parameters import NAMES

ANALYSE = os.path.join(TOP, "scripts", "analyse")


@pytest.fixture
def bare_python(tmp_path):
    """Debian's interpreter without its site packages: an interpreter that lacks numpy & co."""
    path = tmp_path / "bare-python3"
    path.write_text("#!/bin/sh\nexec /usr/bin/python3 -S -I \"$@\"\n")
    path.chmod(0o755)
    return str(path)


def test_a_script_started_by_another_interpreter_moves_to_one_with_the_modules(bare_python, small_run):
    env = dict(os.environ)
    env.pop("TAVO_PYTHON", None)
    done = subprocess.run([bare_python, ANALYSE, "--help"], capture_output=True, text=True, env=env, timeout=120)
    assert done.returncode == 0, done.stderr
    assert done.stdout.startswith("usage: analyse ")


def test_tavo_python_without_the_modules_says_what_is_missing(bare_python):
    for chosen, says in [(bare_python, "lacks numpy, xarray, netCDF4, matplotlib"), ("/nonexistent/python3",
                                                                                     "/nonexistent/python3")]:
        env = dict(os.environ, TAVO_PYTHON=chosen)
        done = subprocess.run([ANALYSE, "--help"], capture_output=True, text=True, env=env, timeout=120)
        assert done.returncode == 1
        assert done.stderr.startswith("| analyse: no Python interpreter has the modules"), done.stderr
        assert says in done.stderr and "TAVO_PYTHON" in done.stderr
        assert done.stderr.count("\n") == 1


# A list of the values: twelve or more names of values in the table's order, one after the other
# within 30 lines (as the values of a parameter file, an array of names, a table of their
# meanings). Lines that look names up in the table (value_index("nx"), at("nx")) are no list.
WORD = re.compile(r"(?:\b|(?<=v_)|(?<=\\n))(%s)\b" % "|".join(NAMES))  # also v_nx and "\nnx = "
LOOKUP = re.compile(r'\w\("(%s)"' % "|".join(NAMES))
EXEMPT = {
    "src/setup/parameters.hpp",       # the table
    "python/tavo/parameters.json",    # its copy, checked against the program
    "src/common/state.hpp",           # the program's globals that the values set, one declaration each
    "tests/setup/test_initpar.cpp",   # a parameter file's text as a fixture: data, as examples/ are
    "tests/support/run_setup.cpp",    # the small test run's values set by name: a fixture, as above
    "tests/setup/test_parameters.cpp",  # the table test: the documented ranges stated independently
    "python/tests/test_scripts.py",   # this check and its samples
}
DATA = ("tests/fuzz/corpus/", "tests/reference-runs/", "tests/fuzz/regressions/")


def code_files():
    for folder in ("src", "scripts", "bench", "tests", "python", "CMakeLists.txt", "Makefile"):
        path = os.path.join(TOP, folder)
        walk = [(TOP, [], [folder])] if os.path.isfile(path) else os.walk(path)
        for parent, dirs, files in walk:
            dirs[:] = [d for d in dirs if d != "__pycache__"]
            for name in files:
                relative = os.path.relpath(os.path.join(parent, name), TOP)
                if relative not in EXEMPT and not relative.startswith(DATA):
                    yield relative


def ordered_runs(text):
    """(first line, length) of every run of names in the table's order, each next name within 30
    lines of the run's first."""
    mentions = [(number, NAMES.index(m.group(1))) for number, line in enumerate(text.splitlines(), 1)
                if not LOOKUP.search(line) for m in WORD.finditer(line)]
    runs = []
    for k, (line, place) in enumerate(mentions):
        length = 1
        while (k + length < len(mentions) and mentions[k + length][1] == place + length
               and mentions[k + length][0] - line <= 30):
            length += 1
        runs.append((line, length))
    return runs


def test_no_list_of_the_values_outside_the_table():
    lists = []
    for relative in code_files():
        with open(os.path.join(TOP, relative), errors="replace") as f:
            found = [(line, n) for line, n in ordered_runs(f.read()) if n >= 12]
        if found:
            lists.append(f"{relative}:{found[0][0]}: {found[0][1]} values in their order")
    assert lists == [], "lists of the values outside src/setup/parameters.hpp:\n" + "\n".join(lists)


def test_the_check_finds_the_lists_there_were():
    names = 'NAMES = ["chat", "taui", "delta", "diff", "incon", "sigma", "amp", "vorfree", "ly", "nx", "ny", "dt"]'
    array = "local names=(chat taui delta diff incon sigma amp vorfree ly nx ny dt itstp itmax)"
    heredoc = ("incon = 1  sigma = 1.0  amp = 0.5  vorfree = 0\nly = 64  nx = $n  ny = $n  dt = 0.01  itstp = 1  "
               "itmax = 1  ntrace = 0  ipade = 0\nihype = 2")
    for text in (names, array, heredoc):
        assert max(n for _, n in ordered_runs(text)) >= 12, text
    assert ordered_runs('ly = at("ly");\nnx = to_int(at("nx"));') == []


def test_the_console_entry_points_are_the_checkouts_commands():
    """Every command pyproject.toml installs is a main(argv) of the package, and the script of the
    checkout with its name calls the same function."""
    import importlib
    with open(os.path.join(TOP, "python", "pyproject.toml")) as f:
        table = f.read().split("[project.scripts]", 1)[1]
    entries = dict(re.findall(r'^(tavo-[\w-]+) = "([\w.]+:\w+)"', table, re.M))
    assert {"tavo-analyse", "tavo-plot", "tavo-movie"} <= set(entries)
    for command, target in entries.items():
        module, function = target.split(":")
        with pytest.raises(SystemExit) as done:
            getattr(importlib.import_module(module), function)(["--help"])
        assert done.value.code == 0, command
        with open(os.path.join(TOP, "scripts", command[len("tavo-"):])) as f:
            assert module in f.read(), command
