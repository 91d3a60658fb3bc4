"""tavo-scan: scans and ensembles of tavo runs on GNU parallel or a Slurm job array, and their collection.

  tavo-scan [options] BASE OUT name=values [name=values ...]
  tavo-scan collect [--quantity Q] [--against NAME] [--tmin T] [--tmax T] OUT

(scripts/scan in a checkout.) The first form makes one run directory OUT/<point> per point, each
with its own tavo.inp (BASE/tavo.inp with the point's values in their places) and point.json, and
runs them with GNU parallel; with --slurm it writes OUT/scan.slurm, a job array with one task per
point, instead. A list is comma-separated, an item a..b stands for the whole numbers a to b;
separate lists make their product, lists joined by ':' are paired (walked together):
    chat=0.1,0.5,1,2,5  iseed=1..5            25 points
    chat=0.5,1,2:dt=0.01,0.008,0.005          3 points, each C with its own dt
Two points the program would read as one run (0.5 and 5e-1) are refused. After each run that ends
well the analysis command writes its summary.json: TAVO_ANALYSE names it (one command line, run as
COMMAND DIR), else scripts/analyse.

Calling the scan again with the same arguments goes on with every point that is not done: a point
that was stopped continues from its checkpoint (incon 2), a finished run whose analysis is due is
only analysed, a point that never started starts. A point's tavo.inp is written once, when the
point is made, and never again; the consoles of all starts are appended to tavo.out and tavo.err.
A point that failed keeps its files and its failed.txt, and is left alone until failed.txt is
removed. More values or seeds (the same base, names, pairing and threads) extend the scan.

Stopping: SIGTERM or Ctrl-C (once) stops the scan cleanly: no point is started any more and every
running tavo gets exactly one signal, finishes its step, writes its checkpoint and stops (status
75); the scan reports where each point stands and exits with status 1. A second signal is passed
on once more and ends the running programs at once (their last checkpoints stay). Points running
on other hosts (--sshlogin) run to their end.

The second form reads every point's summary.json into OUT/collect.csv (full precision) and
OUT/ensemble.csv (over the seeds, when iseed is scanned), writes the tables a paper takes,
OUT/collect.txt and OUT/collect.tex (value(error), C = |chat|, the saturation column), and draws
OUT/<quantity>_vs_<name>.png. Summaries that cannot be trusted (a mean that is no finite number, a
saturation flag that is not true or false) are refused: their points are listed, and the exit
status is then 1. With --tmin/--tmax every point is first analysed again with that window.

Options of a scan:
  -j, --jobs N       runs at once (on each host), default 1
  -t, --threads N    threads of each run (value 19, npar), default the base file's
  --sshlogin HOSTS   spread the runs over these hosts (GNU parallel's --sshlogin); OUT, the
                     program and this package must have the same paths there
  --slurm            write the Slurm job array OUT/scan.slurm (submit it with sbatch), run nothing;
                     with --time T (default 1:00:00), --mem M (default from the grid),
                     --partition P, --account A, --lead S (seconds of the stop signal before
                     the time limit, default 120); see scripts/slurm-job
  --tavo PATH        the program, default build/tavo of the checkout (else tavo on the PATH)
"""
import argparse
import os
import shutil
import sys

from .points import ScanError

TOP = os.path.dirname(os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__)))))


def fail(message):
    print("| " + message, file=sys.stderr)
    sys.exit(1)


class Parser(argparse.ArgumentParser):
    """Command-line errors as a "|" line and exit status 1."""

    def error(self, message):
        fail(f"{self.prog}: {message} (see --help)")


def default_program():
    built = os.path.join(TOP, "build", "tavo")
    return built if os.path.exists(built) or not shutil.which("tavo") else shutil.which("tavo")


def scan(argv):
    from .run import make_points, run_scan, write_slurm
    name = "scan" if os.path.basename(sys.argv[0]) == "scan" else "tavo-scan"
    p = Parser(prog=name, description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    p.add_argument("-j", "--jobs", type=int, default=None, help="runs at once (on each host), default 1")
    p.add_argument("-t", "--threads", type=int, default=None, help="threads of each run (npar)")
    p.add_argument("--sshlogin", help="hosts for GNU parallel's --sshlogin")
    p.add_argument("--slurm", action="store_true", help="write OUT/scan.slurm instead of running")
    p.add_argument("--time", default="1:00:00", help="Slurm: time limit of each task, default 1:00:00")
    p.add_argument("--mem", default="", help="Slurm: memory of each task (e.g. 4G), default from the grid")
    p.add_argument("--partition", default="", help="Slurm: the partition (left out unless given)")
    p.add_argument("--account", default="", help="Slurm: the account (left out unless given)")
    p.add_argument("--lead", default="120", help="Slurm: seconds between the stop signal and the time limit")
    p.add_argument("--tavo", default=default_program(), help="the program (default build/tavo of the checkout, "
                   "else tavo on the PATH)")
    p.add_argument("base", metavar="BASE")
    p.add_argument("out", metavar="OUT")
    p.add_argument("values", metavar="name=values", nargs="*")
    args = p.parse_args(argv)
    if args.jobs is not None and args.jobs < 1:
        fail(f"--jobs {args.jobs}: at least one run at a time")
    tavo = os.path.abspath(args.tavo)
    if not (os.path.isfile(tavo) and os.access(tavo, os.X_OK)):
        fail(f"the program {tavo} does not exist or cannot run (build it: make build)")
    out = os.path.abspath(args.out)
    dirs = make_points(args.base, out, args.values, args.threads)
    if args.slurm:
        write_slurm(dirs, out, tavo, args.jobs, args.time, args.mem, args.partition, args.account, args.lead)
        return 0
    return run_scan(dirs, out, tavo, args.jobs or 1, args.sshlogin)


def collect(argv):
    from .collect import REQUIRED, collect as collect_scan
    p = Parser(prog="scan collect", description="Collect the summaries of a scan into tables and a plot.")
    p.add_argument("--quantity", default="flux", help="quantity to plot: " + ", ".join(REQUIRED) + " (default flux)")
    p.add_argument("--against", help="scanned value on the plot's x axis (default: the first one but iseed)")
    p.add_argument("--tmin", type=float, help="analyse every point again from this time on")
    p.add_argument("--tmax", type=float, help="analyse every point again up to this time")
    p.add_argument("out", metavar="OUT")
    args = p.parse_args(argv)
    text, report, status = collect_scan(args.out, args.quantity, args.against, args.tmin, args.tmax)
    sys.stdout.write(text)
    for line in report:
        print(line, file=sys.stdout if line.startswith(("| drew", "| every point")) else sys.stderr)
    return status


def run_point(argv):
    from .run import run_point as run
    p = Parser(prog="scan run-point", description="Run one point of a scan (the job engine calls this).")
    p.add_argument("--tavo", required=True)
    p.add_argument("--analyse", default="")
    p.add_argument("dir")
    args = p.parse_args(argv)
    return run(os.path.abspath(args.dir), args.tavo, args.analyse)


def slurm_part(argv):
    from .run import slurm_part as part
    if len(argv) < 5 or argv[3] != "--":
        fail("usage: slurm-job TAVO DIR ANALYSE -- COMMAND...")
    return part(argv[1], argv[0], argv[2], argv[4:])


def published(argv):
    """scripts/published-table: our scan's means beside published values, as a Markdown table."""
    from .collect import open_scan
    from .tables import published_table, read_published, replace_marked
    p = Parser(prog="published-table", formatter_class=argparse.RawDescriptionHelpFormatter,
               description="Our scan's means over the seeds beside published values, as a Markdown table.",
               epilog=PUBLISHED)
    p.add_argument("out", metavar="OUT", nargs="?", help="directory of a scan")
    p.add_argument("published", metavar="PUBLISHED.csv", help="the published values and their sources")
    p.add_argument("--unmeasured", action="store_true", help="no scan yet: the published values alone")
    p.add_argument("--readme", help="Markdown file whose marked table is replaced")
    args = p.parse_args(argv)
    if (args.out is None) != args.unmeasured:
        fail("published-table: give the scan directory OUT, or --unmeasured for a scan that has not run")
    rows = read_published(args.published)
    text = published_table(open_scan(args.out) if args.out else None, rows, TOP)
    if args.readme:
        replace_marked(args.readme, text)
        print(f"| table written into {args.readme}")
    else:
        sys.stdout.write(text)
    return 0


PUBLISHED = """\
  published-table OUT PUBLISHED.csv [--readme README.md]
  published-table --unmeasured PUBLISHED.csv [--readme README.md]

PUBLISHED.csv holds one published value a line: C,quantity,mean,spread,saturated_after,source
(quantity a key of summary.json such as flux; spread and saturated_after may be empty). For every
C = |chat| of the scan the table gives our mean over its seeds as mean(error) with the combined
error of tavo.saturation.ensemble, the saturated seeds and the window, beside each published value
with its spread and source, and how far apart the two are in units of their combined uncertainty.
With --readme the table replaces the text between the lines "<!-- published-table begin -->" and
"<!-- published-table end -->" of that file. --unmeasured writes the published values alone.
Exit status 0, or 1 with a line starting with "|" on standard error."""

COMMANDS = {"collect": collect, "run-point": run_point, "slurm-part": slurm_part}


def main(argv=None):
    argv = sys.argv[1:] if argv is None else argv
    command = COMMANDS.get(argv[0]) if argv else None
    try:
        status = command(argv[1:]) if command else scan(argv)
    except ScanError as e:
        fail(str(e))
    sys.exit(status)


def published_main(argv=None):
    try:
        status = published(sys.argv[1:] if argv is None else argv)
    except ScanError as e:
        fail(f"published-table: {e}")
    sys.exit(status)
