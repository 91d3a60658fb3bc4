"""The values of "tavo.inp", read by the program's own rules, from the program's parameter table.

The table (number, name, kind, default, range, unit, meaning of every value) is parameters.json
next to this file: the output of `tavo --parameters=json`, copied by scripts/parameter-table and
checked against the program by the tests. The rules: a word holding '=' is a marker; the word after
a marker is the next value (a value word holding '=' is a marker too); every other word is a
comment. A value is a number in full, as C's strtod reads it. Whole values (kind "whole") are
truncated toward zero for values 1 .. 19 and must be whole numbers for the optional ones; every
value must be finite and inside its range. This module needs only the standard library.
"""
import json
import math
import os
import re

_HERE = os.path.dirname(os.path.abspath(__file__))


class ParameterError(ValueError):
    """A parameter file the program would refuse; the message is the program's kind of "|" line."""


def table():
    """The parameter table: a list of dicts (number, name, kind, optional, default, low, high,
    low_open, high_open, nonzero, range, unit, meaning) in the order of "tavo.inp"."""
    with open(os.path.join(_HERE, "parameters.json")) as f:
        return json.load(f)


TABLE = table()
NAMES = [p["name"] for p in TABLE]
REQUIRED = sum(1 for p in TABLE if not p["optional"])
BY_NAME = {p["name"]: p for p in TABLE}

# strtod's forms: decimal with optional exponent, hexadecimal with optional binary exponent, inf,
# infinity and nan (any case), each with an optional sign.
_DECIMAL = re.compile(r"[+-]?(\d+\.?\d*|\.\d+)([eE][+-]?\d+)?")
_HEX = re.compile(r"[+-]?0[xX]([0-9a-fA-F]+\.?[0-9a-fA-F]*|\.[0-9a-fA-F]+)([pP][+-]?\d+)?")
_SPECIAL = re.compile(r"[+-]?(inf|infinity|nan)", re.IGNORECASE)


def number(word):
    """The value of a word that is a number in full as strtod reads it, else None."""
    if _DECIMAL.fullmatch(word) or _SPECIAL.fullmatch(word):
        return float(word)
    if _HEX.fullmatch(word):
        sign = -1.0 if word.startswith("-") else 1.0
        body = word.lstrip("+-")
        if "p" not in body.lower():
            body += "p0"
        return sign * float.fromhex(body)
    return None


def value_spans(text):
    """(start, end) of every value word of a parameter file's text, in order."""
    words = [(m.start(), m.end()) for m in re.finditer(r"\S+", text)]
    return [words[k + 1] for k in range(len(words) - 1) if "=" in text[words[k][0]:words[k][1]]]


def _refusal(p, v):
    """The program's message for value v of table entry p, or None when it is allowed."""
    name, place = p["name"], f"(value {p['number']})"
    meaning = p["meaning"] + ("" if p["unit"] in ("-", "1") else f", in {p['unit']}")
    shown = _g(v)
    if not math.isfinite(v):
        return f"| {name} = {shown} {place} is not a finite number ({meaning})"
    x = math.trunc(v) if p["kind"] == "whole" else v
    if p["kind"] == "whole" and p["optional"] and x != v:
        return f"| {name} = {shown} {place} is not a whole number ({meaning})"
    low = -math.inf if p["low"] is None else p["low"]
    high = math.inf if p["high"] is None else p["high"]
    high_open = p.get("high_open", False)
    if (x <= low if p["low_open"] else x < low) or (x >= high if high_open else x > high) or (p["nonzero"] and x == 0):
        bound = f"below {_g(high)}" if high_open and x >= high else f"at most {high:.0f}" if x > high else p["range"]
        truncated = " after truncation toward zero" if p["kind"] == "whole" and not p["optional"] and x != v else ""
        return f"| {name} = {shown} {place} is outside its range: {name} must be {bound}{truncated} ({meaning})"
    return None


def _g(v):
    """%g of C."""
    if math.isnan(v):
        return "nan"
    if math.isinf(v):
        return "inf" if v > 0 else "-inf"
    return "%g" % v


def typed(name, value):
    """A value as the program uses it: int for whole values (truncated), int for a switch that
    holds a whole number, else float."""
    kind = BY_NAME[name]["kind"]
    if kind == "whole" or (kind == "switch" and math.isfinite(value) and value == math.trunc(value)):
        return int(math.trunc(value))
    return float(value)


def parse_parameters(text, check=True):
    """The values of a parameter file's text by name (dict in the file's order), the optional ones
    with their defaults, typed (see typed). With check, a file the program refuses raises
    ParameterError with the program's message."""
    values = []
    for start, end in value_spans(text):
        word = text[start:end]
        v = number(word)
        if v is None:
            if len(values) < len(TABLE):
                raise ParameterError(f'| value {len(values) + 1} of "tavo.inp", "{word[:40]}", is not a number')
            break
        values.append(v)
    if len(values) < REQUIRED:
        raise ParameterError(f'| "tavo.inp" holds {len(values)} values, expected {REQUIRED} '
                             "(each after a word containing '=')")
    values = values[:len(TABLE)]
    values += [p["default"] for p in TABLE[len(values):]]
    if check:
        for p, v in zip(TABLE, values):
            message = _refusal(p, v)
            if message:
                raise ParameterError(message)
    return {p["name"]: typed(p["name"], v) for p, v in zip(TABLE, values)}


def read_parameters(path, check=True):
    """The values of a parameter file by name, typed, with the optional values' defaults.
    path is the file or a run directory holding "tavo.inp"."""
    if os.path.isdir(path):
        path = os.path.join(path, "tavo.inp")
    with open(path, errors="replace") as f:
        return parse_parameters(f.read(), check)


def with_values(text, values):
    """The parameter file text with the values (name -> text or number) put in their places;
    values beyond the file's last one are added as "name = value" lines (the optional values
    between get their defaults)."""
    spans = value_spans(text)
    places = {NAMES.index(name): str(value) for name, value in values.items()}
    for n in sorted((n for n in places if n < len(spans)), reverse=True):
        start, end = spans[n]
        text = text[:start] + places[n] + text[end:]
    missing = [n for n in places if n >= len(spans)]
    if missing:
        if text and not text.endswith("\n"):
            text += "\n"
        for n in range(len(spans), max(missing) + 1):
            value = places.get(n, _g(TABLE[n]["default"]))
            text += f"{NAMES[n]:<8}= {value}\n"
    return text


def markdown_table(entries=None):
    """The parameter table as the Markdown table of docs/parameters.md."""
    lines = ["| # | name | kind | default | range | unit | meaning |", "|---|---|---|---|---|---|---|"]
    for p in entries or TABLE:
        default = "–" if p["default"] is None else _g(p["default"])
        unit = "–" if p["unit"] in ("-", "1") else p["unit"]
        meaning = p["meaning"].replace("|", "\\|")
        lines.append(f"| {p['number']} | `{p['name']}` | {p['kind']} | {default} | {p['range']} | {unit} | {meaning} |")
    return "\n".join(lines) + "\n"
