"""The include check of the floors: the tree of src/ keeps its written order, and a tree that
breaks it is refused with every offending include named by file and line."""
import pathlib
import subprocess
import sys

CHECK = pathlib.Path(__file__).with_name("include_order.py")
SRC = pathlib.Path(__file__).resolve().parents[2] / "src"


def run(src):
    return subprocess.run([sys.executable, str(CHECK), str(src)], capture_output=True, text=True)


def test_the_sources_keep_their_order():
    result = run(SRC)
    assert result.returncode == 0, result.stdout + result.stderr


def test_includes_against_the_order_are_named(tmp_path):
    src = tmp_path / "src"
    for folder in ("low", "high", "stray"):
        (src / folder).mkdir(parents=True)
    (src / "README.md").write_text("Floors:\n\n1. `low`: below\n2. `high`: above\n")
    (src / "low" / "low.hpp").write_text("#pragma once\n")
    (src / "high" / "high.hpp").write_text('#pragma once\n#include "low/low.hpp"\n')  # downward: sound
    (src / "low" / "a.cpp").write_text('#include "low/low.hpp"\n#include "high/high.hpp"\n#include "bare.hpp"\n')
    result = run(src)
    assert result.returncode == 1
    lines = result.stdout.splitlines()
    named = [line.split(": ", 1)[0] for line in lines[:-1]]
    assert named == ["src/stray/", 'src/low/a.cpp:2', 'src/low/a.cpp:3'], result.stdout
    assert '#include "high/high.hpp": low/ (floor 1) includes high/ (floor 2)' in lines[1]
    assert "names no folder" in lines[2]
