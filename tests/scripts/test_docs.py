"""The documentation: the README a door of at most 150 lines that starts with the two commands,
every link between the pages leading to a file and a heading that exist, and `tavo --help` naming
the guide beside the program.

    python3 -m pytest tests/scripts/test_docs.py      (TAVO: the program)
"""
import glob
import os
import re
import subprocess

import pytest

from conftest import TOP

PAGES = sorted(glob.glob(os.path.join(TOP, "docs", "*.md")) + glob.glob(os.path.join(TOP, "examples", "*", "*.md"))
               + [os.path.join(TOP, name) for name in ("README.md", "examples/README.md", "bench/README.md")])
LINK = re.compile(r"\]\(([^)\s]+)\)")


def slug(heading):
    """The anchor a forge gives a Markdown heading: lower case, no punctuation, spaces to hyphens."""
    text = re.sub(r"[^\w\- ]", "", heading.strip().lower())
    return text.replace(" ", "-")


def anchors(path):
    with open(path) as f:
        return {slug(line.lstrip("#")) for line in f if line.startswith("#")}


def test_the_readme_is_a_door():
    with open(os.path.join(TOP, "README.md")) as f:
        lines = f.read().splitlines()
    assert len(lines) <= 150, f"README.md has {len(lines)} lines"
    block = lines[lines.index("```sh") + 1:lines.index("```sh") + 3]
    assert block[0].startswith("make run ") and block[1].startswith("make test "), block
    assert lines.index("```sh") < 5


@pytest.mark.parametrize("page", PAGES, ids=[os.path.relpath(p, TOP) for p in PAGES])
def test_every_link_leads_somewhere(page):
    with open(page) as f:
        text = f.read()
    broken = []
    for target in LINK.findall(text):
        if re.match(r"[a-z]+:", target):
            continue  # a web address
        file, _, anchor = target.partition("#")
        path = os.path.normpath(os.path.join(os.path.dirname(page), file)) if file else page
        if not os.path.exists(path):
            broken.append(f"{target}: no {os.path.relpath(path, TOP)}")
        elif anchor and path.endswith(".md") and anchor not in anchors(path):
            broken.append(f"{target}: no heading #{anchor} in {os.path.relpath(path, TOP)}")
    assert broken == [], "\n".join(broken)


def test_help_names_the_guide_beside_the_program(tavo_exe):
    done = subprocess.run([tavo_exe, "--help"], capture_output=True, text=True, check=True)
    guide = done.stdout.rsplit("User guide: ", 1)[1].strip()
    assert os.path.isfile(guide), guide
    assert os.path.samefile(guide, os.path.join(TOP, "docs", "README.md"))
