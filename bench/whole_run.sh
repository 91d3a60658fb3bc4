#!/usr/bin/env bash
# Whole-run timing: run bundled examples from start to end, as a user would, and print one table
# of wall-clock times (start-up, every step and every output file included).
#   bench/whole_run.sh                 default, hasegawa-wakatani, bath and shearflow
#   bench/whole_run.sh blob merger     any folders of examples/
#   WHOLE_RUN_REPEATS=5 bench/whole_run.sh   runs per example (default 3); the table shows the
#                                      median and, in brackets, the fastest and slowest run
# Each run works in a fresh temporary directory that is removed afterwards. The program is the
# Release build in build/ (built first when missing). The last columns split the median run by the
# program's own stage report: the share of the time steps (stages upd, poi1, poi2, pol, bnd, mem),
# of the output (out) and of the start (ini).
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
repeats=${WHOLE_RUN_REPEATS:-3}
[ "$#" -gt 0 ] || set -- default hasegawa-wakatani bath shearflow
if [ ! -x "$top/build/tavo" ]; then
  cmake -S "$top" -B "$top/build" -DCMAKE_BUILD_TYPE=Release >/dev/null
  cmake --build "$top/build" -j "$(nproc)" --target tavo >/dev/null
fi

# Value of a parameter of a parameter file, read by the program's rules (the Python package tavo).
value() { "$top/scripts/parameters" values "$1" "$2"; }

printf '| whole runs, %s per example, %s cores; wall clock in seconds\n' "$repeats" "$(nproc)"
printf '| %-18s %-10s %6s %3s  %-24s %9s  %6s %6s %6s\n' run grid steps thr "wall (fastest-slowest)" "ms/step" steps out ini
for name in "$@"; do
  input="$top/examples/$name/tavo.inp"
  [ -f "$input" ] || { echo "| no example \"$name\" (expected $input)" >&2; exit 1; }
  walls=()
  reports=()
  for ((run = 0; run < repeats; run++)); do
    dir=$(mktemp -d)
    cp "$input" "$dir/"
    start=$(date +%s.%N)
    if ! (cd "$dir" && "$top/build/tavo" >log 2>&1); then
      echo "| examples/$name failed; its last lines:" >&2
      tail -5 "$dir/log" >&2
      rm -rf "$dir"
      exit 1
    fi
    end=$(date +%s.%N)
    walls+=("$(awk -v a="$start" -v b="$end" 'BEGIN { printf "%.3f", b - a }')")
    reports+=("$(grep '| total times:' "$dir/log" || true)")
    rm -rf "$dir"
  done
  # The median run and the extremes.
  order=$(for k in "${!walls[@]}"; do echo "${walls[$k]} $k"; done | sort -g)
  median_index=$(echo "$order" | awk -v m=$(((repeats + 1) / 2)) 'NR == m { print $2 }')
  fastest=$(echo "$order" | awk 'NR == 1 { print $1 }')
  slowest=$(echo "$order" | awk 'END { print $1 }')
  median=${walls[$median_index]}
  nx=$(value "$input" nx)
  ny=$(value "$input" ny)
  steps=$(value "$input" itmax)
  threads=$(value "$input" npar)
  # Shares from "| total times: ini: a upd: b poi1: c poi2: d pol: e bnd: f out: g mem:h".
  shares=$(echo "${reports[$median_index]}" | sed 's/mem:/mem: /' | awk '{
      for (i = 1; i < NF; i++) t[$i] = $(i + 1)
      step = t["upd:"] + t["poi1:"] + t["poi2:"] + t["pol:"] + t["bnd:"] + t["mem:"]
      all = step + t["out:"] + t["ini:"]
      if (all > 0) printf "%5.1f%% %5.1f%% %5.1f%%", 100 * step / all, 100 * t["out:"] / all, 100 * t["ini:"] / all
      else printf "%6s %6s %6s", "-", "-", "-" }')
  per_step=$(echo "$median $steps" | awk '{ if ($2 > 0) printf "%.3f", 1000 * $1 / $2; else print "-" }')
  printf '| %-18s %-10s %6s %3s  %-24s %9s  %s\n' "$name" "${nx}x${ny}" "$steps" "$threads" \
    "$(printf '%.2f (%.2f-%.2f)' "$median" "$fastest" "$slowest")" "$per_step" "$shares"
done
