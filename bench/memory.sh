#!/usr/bin/env bash
# Resident memory per grid size: one short run (a bath, one step, one output, estimated plans,
# 2 threads) on each n x n grid in a fresh temporary directory, with the peak resident set size
# that /usr/bin/time reports and the peak per grid point. (What the program reckons it needs comes
# from its own field table: grid_bytes in src/driver/budget.cpp.)
#   bench/memory.sh                  sizes 64 256 512 1024 2048
#   bench/memory.sh 64 4096          any sizes (4096 writes about 5 GB of output files)
#   TAVO=/path/to/tavo bench/memory.sh   another build of the program, for a comparison
# The program is the Release build in build/ (built first when missing). Exit status 1 when a run
# fails.
set -euo pipefail
if [ "${1:-}" = "--help" ] || [ "${1:-}" = "-h" ]; then
  sed -n '2,10p' "$0" | sed 's/^# \{0,1\}//'
  exit 0
fi
top=$(cd "$(dirname "$0")/.." && pwd)
[ -x /usr/bin/time ] || { echo "| bench/memory.sh: /usr/bin/time is missing (Debian package time)" >&2; exit 1; }
[ "$#" -gt 0 ] || set -- 64 256 512 1024 2048
tavo=${TAVO:-$top/build/tavo}
if [ -z "${TAVO:-}" ] && [ ! -x "$tavo" ]; then
  cmake -S "$top" -B "$top/build" -DCMAKE_BUILD_TYPE=Release >/dev/null
  cmake --build "$top/build" -j "$(nproc)" --target tavo >/dev/null
fi

printf '| peak resident memory of a one-step run (2 threads, estimated plans)\n'
printf '| %5s %12s %14s\n' size "peak RSS MB" "bytes/point"
for n in "$@"; do
  dir=$(mktemp -d)
  # the default example's physics, one step
  "$top/scripts/parameters" with "$top/examples/default/tavo.inp" ly=$((n / 4)).0 nx="$n" ny="$n" \
    itstp=1 itmax=1 ntrace=0 b_plan=0 npar=2 > "$dir/tavo.inp"
  if ! (cd "$dir" && /usr/bin/time -v "$tavo" > stdout.txt 2> time.txt); then
    echo "| bench/memory.sh: the $n x $n run failed; its files are in $dir" >&2
    exit 1
  fi
  kb=$(awk -F': ' '/Maximum resident set size/ { print $2 }' "$dir/time.txt")
  # /usr/bin/time reports kibibytes
  awk -v n="$n" -v kb="$kb" 'BEGIN { printf "| %5d %12.1f %14.0f\n", n, kb * 1024 / 1e6, kb * 1024 / (n * n) }'
  rm -rf "$dir"
done
