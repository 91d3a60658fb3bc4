#!/usr/bin/env bash
# Cost of the field history and of the checkpoints in whole runs: the default example on a grid
# of N x N points (default 256) for STEPS steps, run alternately with neither (nframe 0, nckpt 0),
# with a frame at every output (nframe 1, nckpt 0) and with a checkpoint at every output
# (nframe 0, nckpt 1), REPEATS times each in one session. Prints per setting the median wall time
# and its spread, and the extra time per output over the run with neither, from the medians.
#   bench/history_cost.sh [N] [STEPS]          e.g. bench/history_cost.sh 1024 400
#   HISTORY_COST_REPEATS=5 bench/history_cost.sh
# The runs use measured plans from the wisdom of the first run and work in a temporary directory
# that is removed afterwards.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
n=${1:-256}
steps=${2:-2000}
repeats=${HISTORY_COST_REPEATS:-3}
exe="$top/build/tavo"
[ -x "$exe" ] || { echo "| no $exe: build it first (make build)" >&2; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# ly scales with the grid so that the spacing stays that of the example; itstp 100 as there.
ly=$(awk -v n="$n" 'BEGIN { print n / 4 }')
settings=("0 0" "1 0" "0 1")
declare -A walls
for ((r = 0; r < repeats; r++)); do
  for s in "${settings[@]}"; do
    read -r frame ckpt <<<"$s"
    rm -f "$work"/*
    "$top/scripts/parameters" with "$top/examples/default/tavo.inp" nx="$n" ny="$n" ly="$ly" \
      itmax="$steps" ntrace=0 nframe="$frame" nckpt="$ckpt" >"$work/tavo.inp"
    start=$(date +%s.%N)
    (cd "$work" && "$exe" >/dev/null)
    end=$(date +%s.%N)
    walls[$s]+="$(awk -v a="$start" -v b="$end" 'BEGIN { printf "%.3f", b - a }') "
  done
done
outputs=$((steps / 100))
printf '| %d x %d, %d steps, %d outputs, %d runs each, %s cores; wall clock in seconds\n' "$n" "$n" "$steps" "$outputs" "$repeats" "$(nproc)"
printf '| %-22s %-26s %s\n' setting "median (fastest-slowest)" "extra per output"
base=""
for s in "${settings[@]}"; do
  read -r frame ckpt <<<"$s"
  stats=$(echo "${walls[$s]}" | tr ' ' '\n' | grep . | sort -g | awk '{ v[NR] = $1 } END { m = NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2; printf "%.3f %.3f %.3f", m, v[1], v[NR] }')
  read -r median low high <<<"$stats"
  [ -n "$base" ] || base=$median
  extra=$(awk -v m="$median" -v b="$base" -v o="$outputs" 'BEGIN { printf "%.1f ms (%.1f %%)", 1000 * (m - b) / o, 100 * (m - b) / b }')
  printf '| nframe %s nckpt %s        %-26s %s\n' "$frame" "$ckpt" "$median ($low-$high)" "$extra"
done
