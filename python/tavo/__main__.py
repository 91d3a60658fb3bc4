"""Shell scripts' access to the parameter reader (standard library only), as scripts/parameters
in the checkout or python3 -m tavo:

    python3 -m tavo values FILE NAME...   the named values of parameter file FILE on one line
                                          (FILE - reads standard input)
    python3 -m tavo with FILE NAME=VALUE...   parameter file FILE with these values in their
                                          places (optional ones added), on standard output
    python3 -m tavo table                 the parameter table as JSON

A file the program refuses is refused the same way: its "|" line on standard error, status 1.
"""
import json
import sys

from .parameters import NAMES, TABLE, ParameterError, parse_parameters, with_values


def read_text(path):
    if path == "-":
        return sys.stdin.read()
    with open(path, errors="replace") as f:
        return f.read()


def main(argv=None):
    argv = sys.argv[1:] if argv is None else argv
    if len(argv) >= 2 and argv[0] == "with":
        changes = dict(item.partition("=")[::2] for item in argv[2:])
        unknown = [name for name in changes if name not in NAMES]
        if unknown:
            print(f"| no value named {', '.join(unknown)}", file=sys.stderr)
            return 1
        try:
            text = with_values(read_text(argv[1]), changes)
            parse_parameters(text)
        except OSError as e:
            print(f"| cannot read {argv[1]}: {e.strerror}", file=sys.stderr)
            return 1
        except ParameterError as e:
            print(e, file=sys.stderr)
            return 1
        sys.stdout.write(text)
        return 0
    if len(argv) >= 2 and argv[0] == "values":
        try:
            values = parse_parameters(read_text(argv[1]))
        except (OSError, ParameterError) as e:
            print(e if isinstance(e, ParameterError) else f"| cannot read {argv[1]}: {e.strerror}", file=sys.stderr)
            return 1
        unknown = [name for name in argv[2:] if name not in values]
        if unknown:
            print(f"| no value named {', '.join(unknown)}", file=sys.stderr)
            return 1
        print(" ".join(repr(values[name]) for name in argv[2:]))
        return 0
    if argv == ["table"]:
        json.dump(TABLE, sys.stdout, indent=1)
        print()
        return 0
    print(__doc__, file=sys.stderr)
    return 1


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
