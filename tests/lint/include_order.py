#!/usr/bin/python3
"""Hold the includes of src/ to the order of its floors.

usage: include_order.py [SRC_DIR]   (default: the src/ beside tests/)

The floors, lowest first, are the numbered list of SRC_DIR/README.md whose lines begin
"N. `folder`". A source file may include the headers of its own floor and of the floors below it.
Every #include "..." of a .cpp or .hpp file must name a folder of that list, and every folder of
SRC_DIR must be in it. Each include against the order is printed as "file:line: ..." and the exit
status is 1; a tree that keeps the order prints one line and exits with 0.
"""
import pathlib
import re
import sys

FLOOR = re.compile(r"^\s*(\d+)\.\s+`([A-Za-z0-9_]+)`")
INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]*)"')


def floors(src):
    """The folders of the written order, lowest first."""
    readme = src / "README.md"
    if not readme.is_file():
        sys.exit(f"| {readme}: no such file, which holds the order of the floors")
    order = [m.group(2) for m in map(FLOOR.match, readme.read_text().splitlines()) if m]
    if not order:
        sys.exit(f"| {readme}: no numbered list of floors (lines \"N. `folder`: ...\")")
    return order


def problems(src):
    """Every include against the order, as 'file:line: text' lines."""
    order = floors(src)
    rank = {folder: k for k, folder in enumerate(order)}
    found = []
    for folder in sorted(p for p in src.iterdir() if p.is_dir()):
        if folder.name not in rank:
            found.append(f"{folder.relative_to(src.parent)}/: the folder is not in the order of {src / 'README.md'}")
    for path in sorted(src.rglob("*")):
        if path.suffix not in (".cpp", ".hpp", ".h") or not path.is_file():
            continue
        own = path.relative_to(src).parts[0] if len(path.relative_to(src).parts) > 1 else None
        for number, line in enumerate(path.read_text(errors="replace").splitlines(), 1):
            m = INCLUDE.match(line)
            if not m:
                continue
            name = m.group(1)
            where = f"{path.relative_to(src.parent)}:{number}: #include \"{name}\""
            target = name.split("/")[0] if "/" in name else None
            if own not in rank:
                found.append(f"{where}: the file lies in no folder of the order")
            elif target is None:
                found.append(f"{where}: names no folder")
            elif target not in rank:
                found.append(f"{where}: {target}/ is not in the order")
            elif rank[target] > rank[own]:
                found.append(f"{where}: {own}/ (floor {rank[own] + 1}) includes {target}/ (floor "
                             f"{rank[target] + 1}), a floor above it")
    return found


def main(argv):
    if any(a in ("-h", "--help") for a in argv):
        print(__doc__.strip())
        return 0
    if len(argv) > 1:
        print("| include_order.py: at most one argument, the src directory (see --help)", file=sys.stderr)
        return 1
    src = pathlib.Path(argv[0]) if argv else pathlib.Path(__file__).resolve().parents[2] / "src"
    found = problems(src)
    for line in found:
        print(line)
    if found:
        print(f"| {len(found)} include(s) against the order of the floors in {src / 'README.md'}")
        return 1
    print(f"| the includes of {src} keep the order of its {len(floors(src))} floors")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
