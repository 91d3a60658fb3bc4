#!/usr/bin/env bash
# Adaptive steps against fixed ones on developed turbulence: the wall time per simulated time unit
# and the mean particle flux of each, the runs alternated in rounds (A B C ... A B C ...) so that
# the drift of a shared machine touches all alike.
#   bench/adaptive_ab.sh                  3 rounds of the runs below
#   AB_REPEATS=5 bench/adaptive_ab.sh     rounds
#   AB_CASES="c1-cfl0.5 c1-0.0075" bench/adaptive_ab.sh        a choice of runs
#   AB_WORK=dir bench/adaptive_ab.sh      keep the runs in dir
# The runs: examples/hw-benchmark (512^2, ordinary coupling, cold ions, nu k^4 5e-6, bath of seed 1)
# from the bath to t = 200 (t = 201 for dt 0.0075: whole outputs), 2 threads, measured plans, no
# field history, no checkpoint during the run:
#   c1-cfl0.5, c1-cfl0.8   C = 1, adaptive steps of cfl 0.5 and 0.8 (at most dt 0.05)
#   c1-0.0075              C = 1, fixed dt 0.0075, the largest fixed step that holds
#   c1-0.005               C = 1, fixed dt 0.005, the examples' step
#   c5-cfl0.5, c5-cfl0.8   C = 5, adaptive steps
#   c5-0.004               C = 5, fixed dt 0.004, below the explicit coupling's limit 0.0042
# and the cost of one step, 500 steps of dt 0.001 from the bath (the adaptive ones take that step
# too, but for their start), the step time of the timing report per step:
#   step-k4-fixed, step-k4-adaptive                the same dissipation (nu k^4): the same transforms
#   step-biharmonic-fixed, step-biharmonic-adaptive  the biharmonic Laplacian: in the sweep with
#                                                  fixed steps, implicit (a transform pair more) with adaptive
# (the adaptive ones at cfl 0.5: the step is dt 0.001 all the same)
# and the same comparison shrunk to fit a short quiet window: 256^2 on the same box, ordinary
# coupling C = 0.5, cold ions, nu k^4 5e-5, from the bath of seed 1 to t = 200 (where fixed dt 0.015
# blew up at t = 162 and 0.0125 held in earlier trials), and C = 5 to t = 300:
#   s256-c0.5-cfl0.5, s256-c0.5-cfl0.8   C = 0.5, adaptive steps (at most dt 0.05)
#   s256-c0.5-0.0125, s256-c0.5-0.01     C = 0.5, fixed dt 0.0125 (the largest that held) and 0.01
#   s256-c5-cfl0.5, s256-c5-0.004        C = 5, adaptive, and fixed dt 0.004 below the coupling's 0.0042
# Per run: steps, mean step, wall seconds per time unit and milliseconds per step (medians of the
# rounds, lowest-highest), and the mean flux with its error from scripts/analyse (its own window);
# per adaptive run the median of the per-round ratios of the fixed runs' time per unit to its own.
# Each fixed run's flux is that of one realisation, the adaptive ones of others (the steps differ):
# they agree when they lie within their errors.
# The program is build/tavo.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
. "$top/bench/stats.sh"
repeats=${AB_REPEATS:-3}
cases=${AB_CASES:-"c1-cfl0.5 c1-cfl0.8 c1-0.0075 c1-0.005 c5-cfl0.5 c5-cfl0.8 c5-0.004 step-k4-fixed step-k4-adaptive step-biharmonic-fixed step-biharmonic-adaptive"}
exe="$top/build/tavo"
python=${TAVO_PYTHON:-$(command -v /usr/bin/python3 || command -v python3 || echo python3)}
if [ -n "${AB_WORK:-}" ]; then work=$AB_WORK; mkdir -p "$work"; else work=$(mktemp -d); trap 'rm -rf "$work"' EXIT; fi

# name -> chat dt itstp itmax cfl ihype diff grid
setting() {
  case "$1" in
    c1-cfl*) echo -1 0.05 20 4000 "${1#c1-cfl}" 2 5e-6 512 ;;
    c1-0.0075) echo -1 0.0075 200 26800 0 2 5e-6 512 ;;
    c1-0.005) echo -1 0.005 200 40000 0 2 5e-6 512 ;;
    c5-cfl*) echo -5 0.05 20 4000 "${1#c5-cfl}" 2 5e-6 512 ;;
    c5-0.004) echo -5 0.004 250 50000 0 2 5e-6 512 ;;
    s256-c0.5-cfl*) echo -0.5 0.05 20 4000 "${1#s256-c0.5-cfl}" 2 5e-5 256 ;;
    s256-c0.5-0.0125) echo -0.5 0.0125 80 16000 0 2 5e-5 256 ;;
    s256-c0.5-0.01) echo -0.5 0.01 100 20000 0 2 5e-5 256 ;;
    s256-c5-cfl*) echo -5 0.05 20 6000 "${1#s256-c5-cfl}" 2 5e-5 256 ;;
    s256-c5-0.004) echo -5 0.004 250 75000 0 2 5e-5 256 ;;
    step-k4-fixed) echo -1 0.001 100 500 0 2 5e-6 512 ;;
    step-k4-adaptive) echo -1 0.001 100 500 0.5 2 5e-6 512 ;;
    step-biharmonic-fixed) echo -1 0.001 100 500 0 0 5e-6 512 ;;
    step-biharmonic-adaptive) echo -1 0.001 100 500 0.5 0 5e-6 512 ;;
    warmup-*) echo -1 0.001 50 50 0 2 5e-6 "${1#warmup-}" ;;
    *) echo "| unknown case \"$1\"" >&2; exit 1 ;;
  esac
}

# One run of case $1 in round $2: appends "case round wall time steps" to $work/times and keeps
# the run's directory for the analysis (the first round's).
run_once() {
  local name=$1 round=$2 dir="$work/$1-$2" start end
  read -r chat dt itstp itmax c ihype diff grid <<<"$(setting "$name")"
  mkdir -p "$dir"
  PYTHONPATH="$top/python" "$python" -m tavo with "$top/examples/hw-benchmark/tavo.inp" chat="$chat" dt="$dt" \
    itstp="$itstp" itmax="$itmax" nx="$grid" ny="$grid" ihype="$ihype" diff="$diff" iseed=1 nframe=0 nckpt=0 npar=2 b_plan=1 cfl="$c" \
    >"$dir/tavo.inp"
  start=$(date +%s.%N)
  (cd "$dir" && "$exe" >stdout.txt 2>stderr.txt) || { echo "| $name (round $round) failed: $(tail -3 "$dir/stdout.txt")" >&2; return; }
  end=$(date +%s.%N)
  local steps
  steps=$(grep -o '^| steps: [0-9]*' "$dir/stderr.txt" | awk '{print $3}' || true)
  [ -n "$steps" ] || steps=$itmax
  echo "$name $round $(echo "$end - $start" | bc -l) $(echo "$itmax * $dt" | bc -l) $steps $(step_seconds "$dir/stdout.txt")" \
    >>"$work/times"
}

echo "| $(date -u '+%Y-%m-%d %H:%M UTC'), commit $(git -C "$top" rev-parse --short HEAD), $repeats rounds; load before: $(cut -d' ' -f1-3 /proc/loadavg)"
# A first short run of each grid stores its measured plans (wisdom), so that no round pays for planning.
for name in $cases; do setting "$name" | awk '{print $8}'; done | sort -u | while read -r grid; do
  run_once "warmup-$grid" 0 >/dev/null 2>&1 || true
done
: >"$work/times"
for round in $(seq 1 "$repeats"); do
  for name in $cases; do run_once "$name" "$round"; done
done
echo "| load after: $(cut -d' ' -f1-3 /proc/loadavg)"

printf '| %-24s %7s %9s %22s %19s %18s\n' run steps "mean dt" "wall s per time unit" "ms per step" "flux (analyse)"
for name in $cases; do
  rows=$(grep "^$name " "$work/times" || true)
  [ -n "$rows" ] || continue
  per_unit=$(echo "$rows" | awk '{print $3 / $4}' | spread 3)
  per_step=$(echo "$rows" | awk '{print $6 / $5}' | spread 2 1000)
  read -r steps span <<<"$(echo "$rows" | head -1 | awk '{print $5, $4}')"
  flux=""
  [ "${name#step-}" != "$name" ] || flux=$("$top/scripts/analyse" --no-plot "$work/$name-1" 2>/dev/null |
    awk '$2 == "flux" {printf "%.4g ± %.2g", $3, $5}')
  printf '| %-24s %7s %9.5f %22s %19s %18s\n' "$name" "$steps" "$(echo "$span / $steps" | bc -l)" "$per_unit" \
    "$per_step" "${flux:-–}"
done
for adaptive in $(echo "$cases" | tr ' ' '\n' | grep -- '-cfl'); do
  c=${adaptive%-cfl*}
  for fixed in $(echo "$cases" | tr ' ' '\n' | grep "^$c-0"); do
    ratios=$(join <(grep "^$fixed " "$work/times" | awk '{print $2, $3 / $4}' | sort) \
      <(grep "^$adaptive " "$work/times" | awk '{print $2, $3 / $4}' | sort) | awk '{print $2 / $3}' | spread 2)
    echo "| $fixed / $adaptive, time per unit: $ratios"
  done
done
