"""The points of a scan and the state of each point's run, from its files (standard library only).

Lists. A scan argument name=values holds one list: comma-separated numbers, an item a..b standing
for the whole numbers a to b (chat=0.1,0.5,1  iseed=1..5). Arguments joined by ':' are paired:
their lists have the same length and are walked together (chat=0.5,1,2:dt=0.01,0.008,0.005 makes
three points); separate arguments make the product of their lists. Two points whose values are
equal as the program reads them (0.5, 0.50 and 5e-1; whole values after their truncation) are one
point, and a scan that holds such a pair is refused.

Layout. OUT/scan.json records the base file, the scanned names and their pairing, the threads and
every point (its directory name and its values as written); OUT/<point>/ is one run directory:
tavo.inp, point.json (the point's values as numbers), the run's files and summary.json.

States. A point's run is
  done      it ran to its end ("| TAVO end." after the last start in tavo.out), has no failed.txt
            and, when the scan analyses its runs, its summary.json;
  analyse   it ran to its end, but the analysis is still due (never continued: a finished run
            run again would be a new run of itmax steps);
  failed    failed.txt says why; the point is left as it is, with every file, until the file is
            removed (then it runs again, from its checkpoint when it has one);
  resume    it holds a checkpoint of its own ("restart.dat" or "restart.nc", written by its own run:
            a scan makes the point's directory) and did not end: it continues with incon 2;
  fresh     nothing of its own to continue from: it starts with the point's own file.
"""
import itertools
import json
import math
import os
import re

from ..parameters import NAMES, typed

CHECKPOINTS = ("restart.dat", "restart.nc")
START_LINE = "| TAVO start..."
END_LINE = "| TAVO end."


class ScanError(Exception):
    """A scan that cannot be made, read or run; the message says why (without the leading "|")."""


# ---- the lists ----

def parse_list(name, text):
    """The values (as written) of one list "a,b,c" with ranges "i..j" of whole numbers."""
    values = []
    for item in text.split(","):
        item = item.strip()
        match = re.fullmatch(r"(-?\d+)\.\.(-?\d+)", item)
        if match:
            first, last = int(match.group(1)), int(match.group(2))
            if last < first:
                raise ScanError(f"{name}={text}: the range {item} is empty (write the smaller number first)")
            values += [str(v) for v in range(first, last + 1)]
            continue
        try:
            value = float(item)
        except ValueError:
            raise ScanError(f"{name}={text}: \"{item}\" is not a number (expected numbers or ranges a..b, "
                            "comma-separated)")
        if not math.isfinite(value):
            raise ScanError(f"{name}={text}: \"{item}\" is not a finite number")
        values.append(item)
    return values


def parse_groups(items):
    """The groups of the scan arguments, in their order: each a list of (name, [values]) whose lists
    are paired (one argument "a=..:b=.." is one group of two)."""
    groups, seen = [], set()
    for item in items:
        group = []
        for part in item.split(":"):
            name, sep, text = part.partition("=")
            if not sep or not text:
                raise ScanError(f"\"{part}\" is not name=values (for example chat=0.1,0.5 or iseed=1..5; "
                                "paired lists as chat=0.5,1:dt=0.01,0.005)")
            if name not in NAMES:
                raise ScanError(f"\"{name}\" is not a value of tavo.inp (one of {', '.join(NAMES)})")
            if name in seen:
                raise ScanError(f"{name} is scanned twice")
            seen.add(name)
            group.append((name, parse_list(name, text)))
        lengths = {len(values) for _, values in group}
        if len(lengths) > 1:
            raise ScanError(f"{item}: paired lists need the same length, these have "
                            + ", ".join(f"{name} {len(values)}" for name, values in group))
        groups.append(group)
    if not groups:
        raise ScanError("nothing to scan: give at least one name=values")
    return groups


def scanned_names(groups):
    return [name for group in groups for name, _ in group]


def group_names(groups):
    return [[name for name, _ in group] for group in groups]


def points_of(groups):
    """The points (name -> value as written) of the groups: the product of the groups, each group's
    lists walked together. Refuses two points that the program would read as the same run."""
    rows = [[dict(zip([n for n, _ in group], combination)) for combination in zip(*(v for _, v in group))]
            for group in groups]
    points = [dict(kv for part in combination for kv in part.items()) for combination in itertools.product(*rows)]
    refuse_duplicates(points)
    return points


def point_key(point):
    """The values of a point as the program reads them, in the order of the table: equal keys, one run."""
    return tuple((name, typed(name, float(point[name]))) for name in NAMES if name in point)


def refuse_duplicates(points):
    seen = {}
    for point in points:
        key = point_key(point)
        if key in seen:
            first = seen[key]
            shown = " ".join(f"{n}={point[n]}" for n in point)
            other = " ".join(f"{n}={first[n]}" for n in first)
            raise ScanError(f"the points {other} and {shown} are the same run (the program reads the same "
                            "values): give each value once")
        seen[key] = point


def point_dir(point):
    return "_".join(f"{name}_{value}" for name, value in point.items())


# ---- the record OUT/scan.json ----

def read_record(out):
    """The scan record of directory out (a dict), with "groups" (older records: one name a group)."""
    path = os.path.join(out, "scan.json")
    try:
        with open(path) as f:
            record = json.load(f)
    except (OSError, ValueError) as e:
        raise ScanError(f"{out} holds no scan record scan.json ({getattr(e, 'strerror', None) or e}): "
                        "make the scan first")
    if not isinstance(record, dict) or not isinstance(record.get("points"), list) or not isinstance(
            record.get("parameters"), list):
        raise ScanError(f"{path} is not a scan record (no list of points and parameters)")
    record.setdefault("groups", [[name] for name in record["parameters"]])
    try:
        refuse_duplicates([p["values"] for p in record["points"]])
    except (KeyError, TypeError, ValueError) as e:
        raise ScanError(f"{path}: a point without its values ({e})")
    return record


def write_record(out, record):
    path = os.path.join(out, "scan.json")
    with open(path + ".tmp", "w") as f:
        json.dump(record, f, indent=1)
        f.write("\n")
    os.replace(path + ".tmp", path)


# ---- the state of a point's run ----

def console_lines(directory, name="tavo.out"):
    try:
        with open(os.path.join(directory, name), errors="replace") as f:
            return [line.rstrip("\n") for line in f]
    except OSError:
        return []


def run_finished(directory):
    """Whether the last start of the program in directory ran to its end (its console tavo.out, to
    which the parts of a run are appended)."""
    lines = console_lines(directory)
    starts = [k for k, line in enumerate(lines) if line == START_LINE]
    last = starts[-1] if starts else 0
    return any(line == END_LINE for line in lines[last:])


def checkpoint_files(directory):
    """The checkpoint files of the directory (names), newest first."""
    found = [(os.path.getmtime(os.path.join(directory, n)), n) for n in CHECKPOINTS
             if os.path.isfile(os.path.join(directory, n))]
    return [n for _, n in sorted(found, reverse=True)]


def restart_time(directory):
    """The time of "restart.dat" as its header prints it, or None."""
    try:
        with open(os.path.join(directory, "restart.dat"), errors="replace") as f:
            words = f.readline().split()
        return words[0] if words else None
    except OSError:
        return None


def failure(directory):
    """The reason in the point's failed.txt (without its leading "|"), or None."""
    try:
        with open(os.path.join(directory, "failed.txt"), errors="replace") as f:
            text = f.read().strip()
    except OSError:
        return None
    return (text[2:] if text.startswith("| ") else text) or "failed (failed.txt is empty)"


def point_state(directory, analysed=True):
    """One of done, analyse, failed, resume and fresh (see the module's description)."""
    if failure(directory) is not None:
        return "failed"
    if run_finished(directory):
        if not analysed or os.path.isfile(os.path.join(directory, "summary.json")):
            return "done"
        return "analyse"
    if checkpoint_files(directory):
        return "resume"
    return "fresh"


def last_message(*paths):
    """The last line beginning with "|" of the first file that has one, leaving out the progress
    lines (a run that was killed has no message of its own, and its last progress line is none)."""
    for path in paths:
        try:
            with open(path, errors="replace") as f:
                lines = [line.rstrip("\n") for line in f
                         if line.startswith("|") and line.strip() != "|" and not line.startswith("| progress:")]
        except OSError:
            continue
        if lines:
            return lines[-1]
    return ""
