#!/usr/bin/env bash
# Start-up with and without stored FFTW wisdom: a 200-step run on a 512 x 512 grid (the default
# example's physics with dt 0.001, measured plans, 2 threads) started cold (an empty cache
# directory: every plan measured) and warm (the cache holding the wisdom of an earlier run of this grid), alternated
# cold, warm, cold, warm ... so that the drift of a shared machine touches both alike. One table
# gives for each the median wall time of the run and of its start-up stage "ini" (parameters,
# tables, plans, initial state, first output) with the lowest and highest in brackets, and the
# median of the per-pair ratios warm/cold.
#   bench/wisdom_ab.sh             5 pairs
#   WISDOM_REPEATS=7 bench/wisdom_ab.sh
#   WISDOM_SIZE=1024 bench/wisdom_ab.sh   another grid (steps stay 200)
# The program is the Release build in build/ (built first when missing).
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
. "$top/bench/stats.sh"
repeats=${WISDOM_REPEATS:-5}
n=${WISDOM_SIZE:-512}
if [ ! -x "$top/build/tavo" ]; then
  cmake -S "$top" -B "$top/build" -DCMAKE_BUILD_TYPE=Release >/dev/null
  cmake --build "$top/build" -j "$(nproc)" --target tavo >/dev/null
fi
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
mkdir -p "$scratch/warm-cache"
# The default example's file with these values, through the package's parameter writer.
values() {
  "$top/scripts/parameters" with "$top/examples/default/tavo.inp" ly="$((n / 4))" nx="$n" ny="$n" \
    dt=0.001 itstp=100 itmax=200 ntrace=0 incon=0 sigma=2 diff=5e-4 ihype=2 b_plan=1 npar=2
}
# One run with the cache directory $1: prints "wall seconds, ini seconds".
run_once() {
  local dir="$scratch/run" start end
  rm -rf "$dir" && mkdir -p "$dir"
  values >"$dir/tavo.inp"
  start=$(date +%s.%N)
  (cd "$dir" && XDG_CACHE_HOME="$1" "$top/build/tavo" >log 2>&1) || { echo "| the run failed" >&2; tail -5 "$dir/log" >&2; exit 1; }
  end=$(date +%s.%N)
  grep '| total times:' "$dir/log" | awk -v a="$start" -v b="$end" '{ for (i = 1; i < NF; i++) if ($i == "ini:") ini = $(i + 1)
      printf "%.3f %.3f\n", b - a, ini }'
}
run_once "$scratch/warm-cache" >/dev/null  # fills the warm cache
rows=""
for ((r = 0; r < repeats; r++)); do
  rm -rf "$scratch/cold-cache"
  read -r cold_wall cold_ini < <(run_once "$scratch/cold-cache")
  read -r warm_wall warm_ini < <(run_once "$scratch/warm-cache")
  rows+="$cold_wall $cold_ini $warm_wall $warm_ini"$'\n'
done
column() { echo -n "$rows" | awk -v c="$1" 'NF { print $c }'; }
printf '| %s x %s, 200 steps, 2 threads, measured plans, %s pairs, %s cores, load %s; %s\n' "$n" "$n" "$repeats" \
  "$(nproc)" "$(cut -d' ' -f1-3 /proc/loadavg)" "$(date -u '+%Y-%m-%d %H:%M UTC')"
printf '| %-6s %-24s %-24s\n' start "wall (s)" "ini (s)"
printf '| %-6s %-24s %-24s\n' cold "$(column 1 | spread 2)" "$(column 2 | spread 2)"
printf '| %-6s %-24s %-24s\n' warm "$(column 3 | spread 2)" "$(column 4 | spread 2)"
printf '| warm/cold per pair: wall %s, ini %s\n' "$(echo -n "$rows" | awk 'NF { print $3 / $1 }' | spread 3)" \
  "$(echo -n "$rows" | awk 'NF { print $4 / $2 }' | spread 3)"
