#!/usr/bin/env bash
# Soak check (not part of make test): resident memory of a long run and a leak check of a short one.
#  1. A 512 by 512 run with many diagnostics calls (SOAK_CALLS, default 200, of SOAK_ITSTP = 5
#     steps each): the resident set size (VmRSS) is sampled at every progress line. Memory must be
#     flat after the first intervals: from call SOAK_SETTLE (default 10) to the end it may grow by
#     at most SOAK_SLACK_KB (default 2048 kB). The figures are printed as a table.
#  2. A 32 by 32 run with probe traces under valgrind's memcheck: no definite or indirect leak and
#     no memory error.
# Builds the program into build-soak/ (SOAK_BUILD names another build directory).
# Usage: bench/soak.sh   (takes a few minutes)
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
calls=${SOAK_CALLS:-200}
itstp=${SOAK_ITSTP:-5}
settle=${SOAK_SETTLE:-10}
slack=${SOAK_SLACK_KB:-2048}
threads=${SOAK_THREADS:-1}

build=${SOAK_BUILD:-$top/build-soak}
# Debug information for valgrind's reports, and no -march=native: valgrind does not know every
# instruction of the newest processors.
cmake -S "$top" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTAVO_NATIVE=OFF >/dev/null
cmake --build "$build" -j 2 --target tavo >/dev/null
exe="$build/tavo"

# parameters name=value ... : the default example's parameter file with these values.
parameters() { "$top/scripts/parameters" with "$top/examples/default/tavo.inp" "$@"; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# ---- 1. resident memory of a long run ----
mkdir "$work/long"
parameters diff=0.0002 vorfree=1 nx=512 ny=512 dt=0.005 itstp="$itstp" itmax=$((calls * itstp)) b_plan=0 \
  npar="$threads" > "$work/long/tavo.inp"
echo "| soak: 512 x 512, $calls diagnostics calls of $itstp steps, $threads thread(s)"
(cd "$work/long" && exec "$exe" > stdout.txt) &
pid=$!
samples="$work/rss.txt"
: > "$samples"
seen=0
while kill -0 "$pid" 2>/dev/null; do
  done_calls=$(grep -c '^|t=' "$work/long/stdout.txt" 2>/dev/null || true)
  if [ "${done_calls:-0}" -gt "$seen" ]; then
    rss=$(awk '/^VmRSS/ {print $2}' "/proc/$pid/status" 2>/dev/null || true)
    [ -n "$rss" ] && echo "$done_calls $rss" >> "$samples"
    seen=$done_calls
  fi
  sleep 0.2
done
wait "$pid" || { echo "| soak: the long run failed"; tail -3 "$work/long/stdout.txt"; exit 1; }

awk -v settle="$settle" -v slack="$slack" '
  { call[NR] = $1; rss[NR] = $2 }
  END {
    printf "| %10s %12s\n", "calls done", "VmRSS (kB)"
    step = int(NR / 12); if (step < 1) step = 1
    for (i = 1; i <= NR; i += step) printf "| %10d %12d\n", call[i], rss[i]
    if ((NR - 1) % step) printf "| %10d %12d\n", call[NR], rss[NR]
    base = -1; high = 0
    for (i = 1; i <= NR; i++) if (call[i] >= settle) { if (base < 0) base = rss[i]; if (rss[i] > high) high = rss[i] }
    if (base < 0) { print "| soak: too few samples"; exit 1 }
    printf "| after call %d: %d kB, highest later %d kB, growth %d kB (allowed %d kB)\n", settle, base, high, high - base, slack
    if (high - base > slack) { print "| soak: resident memory keeps growing"; exit 1 }
    print "| soak: resident memory is flat"
  }' "$samples"

# ---- 2. leak check of a short run ----
if ! command -v valgrind >/dev/null; then
  echo "| soak: valgrind is missing (apt-get install valgrind): leak check skipped"
  exit 1
fi
mkdir "$work/short"
parameters diff=0.002 incon=0 sigma=2.0 ly=24.0 nx=32 ny=32 dt=0.02 itstp=5 itmax=40 ntrace=2 b_plan=0 npar=1 \
  > "$work/short/tavo.inp"
echo "| memcheck: 32 x 32, 8 intervals, probe traces"
if (cd "$work/short" && valgrind --quiet --leak-check=full --errors-for-leak-kinds=definite,indirect \
      --error-exitcode=3 "$exe" > stdout.txt 2> valgrind.txt); then
  grep -E 'definitely lost|indirectly lost|ERROR SUMMARY' "$work/short/valgrind.txt" || true
  echo "| memcheck: no leak, no memory error"
else
  cat "$work/short/valgrind.txt"
  echo "| memcheck: leaks or memory errors found"
  exit 1
fi
