"""The package's parameter reader against the program: the same table, the same values, the
same refusals; and the copies of the table (the package's and docs/parameters.md's) up to date."""
import json
import math
import os
import subprocess
import sys

import pytest

from conftest import TOP, run_tavo, small_parameters
from tavo.parameters import (NAMES, TABLE, ParameterError, number, parse_parameters, read_parameters,
                             with_values)
import tavo


def test_the_copies_of_the_table_are_the_programs(tavo_exe):
    done = subprocess.run([tavo_exe, "--parameters=json"], capture_output=True, text=True, check=True)
    assert json.loads(done.stdout) == TABLE
    check = subprocess.run([sys.executable, os.path.join(TOP, "scripts", "parameter-table"), "--check", tavo_exe],
                           capture_output=True, text=True)
    assert check.returncode == 0, check.stderr


def test_the_package_version_is_the_programs(tavo_exe):
    done = subprocess.run([tavo_exe, "--version"], capture_output=True, text=True, check=True)
    with open(os.path.join(TOP, "python", "pyproject.toml")) as f:
        assert f'version = "{done.stdout.split()[1]}"' in f.read()


@pytest.mark.parametrize("word, value", [("0.01", 0.01), ("1e-3", 1e-3), ("+16", 16.0), ("0x1p-4", 0.0625),
                                         ("-0X.8", -0.5), (".5", 0.5), ("7.", 7.0), ("inf", math.inf),
                                         ("-Infinity", -math.inf)])
def test_numbers_in_the_forms_strtod_reads(word, value):
    assert number(word) == value


@pytest.mark.parametrize("word", ["0,01", "1_000", "256abc", "1e", "dt=0.01", "", "0x", " 1", "infinit"])
def test_words_that_are_no_number_in_full(word):
    assert number(word) is None


def test_values_typed_with_defaults_and_as_the_history_stores_them(small_run):
    values = read_parameters(small_run)
    assert list(values) == NAMES
    assert values["nx"] == 32 and isinstance(values["nx"], int)
    assert isinstance(values["dt"], float) and values["dt"] == 0.02
    assert values["iseed"] == 0 and values["nframe"] == 2
    import netCDF4
    with netCDF4.Dataset(small_run / "tavo.nc") as ds:
        for name in NAMES:
            if name not in ds.ncattrs():
                # cfl at its default is left out, so that a run of fixed steps writes the file of
                # earlier versions
                assert name == "cfl" and values[name] == 0
                continue
            stored = ds.getncattr(name)
            assert stored == values[name], name
            whole = next(p for p in TABLE if p["name"] == name)["kind"] == "whole"
            assert (stored.dtype.kind == "i") == whole, name


def test_a_file_of_nineteen_values_gets_the_defaults():
    text = small_parameters()
    nineteen = "\n".join(line for line in text.splitlines() if not line.startswith(("nframe", "nckpt", "iseed")))
    values = parse_parameters(nineteen)
    assert (values["nframe"], values["nckpt"], values["iseed"]) == (1, 10, 0)


# The program and the package refuse the same files with the same line (the program's --check
# reads and refuses exactly as a run does).
@pytest.mark.parametrize("changes", [dict(dt=0), dict(dt=-0.01), dict(dt="nan"), dict(dt="inf"), dict(ly="inf"),
                                     dict(nx=0.5), dict(delta=0), dict(ipade=2), dict(itmax=3e9), dict(nframe=1.5),
                                     dict(iseed=-1), dict(npar=0)])
def test_refusals_are_the_programs(tavo_exe, tmp_path, changes):
    text = with_values(small_parameters(), changes)
    (tmp_path / "tavo.inp").write_text(text)
    done = run_tavo(tavo_exe, tmp_path, "--check")
    assert done.returncode == 1
    line = [l for l in (done.stdout + done.stderr).splitlines() if l.startswith("| ") and " = " in l][-1]
    with pytest.raises(ParameterError) as refused:
        parse_parameters(text)
    assert str(refused.value) == line
    assert sorted(os.listdir(tmp_path)) == ["tavo.inp"]


@pytest.mark.parametrize("old, new", [("dt      = 0.02", "dt=0.02"), ("dt      = 0.02", "dt = 0,02"),
                                      ("npar    = 1", "npar = 1 # k=2"), ("ly      = 16.0", "ly = 16cm")])
def test_files_the_program_cannot_read_are_refused(tavo_exe, tmp_path, old, new):
    text = small_parameters()
    assert old in text
    (tmp_path / "tavo.inp").write_text(text.replace(old, new))
    assert run_tavo(tavo_exe, tmp_path, "--check").returncode == 1
    with pytest.raises(ParameterError):
        parse_parameters(text.replace(old, new))


def test_values_put_in_their_places_round_trip():
    text = small_parameters()
    changed = with_values(text, {"dt": 0.005, "iseed": 7})
    values, before = parse_parameters(changed), parse_parameters(text)
    assert values["dt"] == 0.005 and values["iseed"] == 7
    assert {k: v for k, v in values.items() if k not in ("dt", "iseed")} == \
        {k: v for k, v in before.items() if k not in ("dt", "iseed")}
    assert tavo.read_parameters is read_parameters
