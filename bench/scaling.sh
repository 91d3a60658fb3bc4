#!/usr/bin/env bash
# Strong scaling on this machine, and the memory of each process: one run of a grid as 1 process
# with 2 threads (A) and as 2 processes with 1 thread each (B), in turn (A B A B ...), so that the
# drift of a shared machine touches both alike; per grid the median time per step of each (the
# step stages of the program's timing report over the steps, the lowest and highest in brackets)
# and the median of the per-pair ratios B/A. Then the peak resident memory of every process of a
# one-step run at 2048 x 2048 on 1, 2 and 4 processes (1 thread each; 4 processes oversubscribe
# two cores, which costs time, not memory).
#   bench/scaling.sh                    grids 512 1024 2048, 5 pairs each, then the memory
#   SCALING_REPEATS=3 bench/scaling.sh 512 1024
#   SCALING_MEMORY=0 bench/scaling.sh   without the memory runs
# The case is the default example's physics (warm ions, ihype 2) from a blob, measured plans,
# wisdom off (every run plans afresh). The program is build/tavo (built when missing).
set -euo pipefail
if [ "${1:-}" = "--help" ] || [ "${1:-}" = "-h" ]; then
  sed -n '2,13p' "$0" | sed 's/^# \{0,1\}//'
  exit 0
fi
top=$(cd "$(dirname "$0")/.." && pwd)
. "$top/bench/stats.sh"
[ "$#" -gt 0 ] || set -- 512 1024 2048
repeats=${SCALING_REPEATS:-5}
tavo="$top/build/tavo"
if [ ! -x "$tavo" ]; then
  cmake -S "$top" -B "$top/build" -DCMAKE_BUILD_TYPE=Release >/dev/null
  cmake --build "$top/build" -j "$(nproc)" --target tavo >/dev/null
fi
export TAVO_WISDOM=0
[ "$(id -u)" -ne 0 ] || export OMPI_ALLOW_RUN_AS_ROOT=1 OMPI_ALLOW_RUN_AS_ROOT_CONFIRM=1

# The parameter file of an n x n grid with `steps` steps and `threads` threads.
values() {
  "$top/scripts/parameters" with "$top/examples/default/tavo.inp" incon=0 sigma=2 \
    ly=$(($1 / 4)).0 nx="$1" ny="$1" dt=0.001 itstp="$2" itmax="$2" ntrace=0 b_plan=1 npar="$3"
}

# One run: processes, threads, grid, steps; prints the seconds per step of the step stages.
run_once() {
  local dir
  dir=$(mktemp -d)
  values "$3" "$4" "$2" >"$dir/tavo.inp"
  if ! (cd "$dir" && mpirun --oversubscribe --bind-to none -np "$1" "$tavo" >log 2>&1); then
    echo "| bench/scaling.sh: the run of $1 processes on $3 x $3 failed; its last lines:" >&2
    tail -5 "$dir/log" >&2
    exit 1
  fi
  step_seconds "$dir/log" | awk -v s="$4" '{ printf "%.6f\n", $1 / s }'
  rm -rf "$dir"
}

printf '| strong scaling, %s pairs per grid, %s cores, measured plans; commit %s; %s\n' "$repeats" "$(nproc)" \
  "$(git -C "$top" rev-parse --short HEAD 2>/dev/null || echo unknown)" "$(date -u '+%Y-%m-%d %H:%M UTC')"
printf '| %-10s %6s  %-26s %-26s %s\n' grid steps "1 x 2 threads ms/step" "2 x 1 thread ms/step" "2 x 1 / 1 x 2"
for n in "$@"; do
  # about a second of steps at this grid
  steps=$((200 * 512 * 512 / (n * n)))
  [ "$steps" -ge 10 ] || steps=10
  rows=""
  for ((r = 0; r < repeats; r++)); do
    a=$(run_once 1 2 "$n" "$steps")
    b=$(run_once 2 1 "$n" "$steps")
    rows+="$a $b"$'\n'
  done
  printf '| %-10s %6s  %-26s %-26s %s\n' "${n}x${n}" "$steps" \
    "$(echo -n "$rows" | awk 'NF { print $1 }' | spread 3 1000)" \
    "$(echo -n "$rows" | awk 'NF { print $2 }' | spread 3 1000)" \
    "$(echo -n "$rows" | awk 'NF && $1 > 0 { print $2 / $1 }' | spread 3 1)"
done

[ "${SCALING_MEMORY:-1}" = 1 ] || exit 0
[ -x /usr/bin/time ] || { echo "| bench/scaling.sh: /usr/bin/time is missing (Debian package time)" >&2; exit 1; }
printf '| peak resident memory per process, 2048 x 2048, one step, 1 thread each\n'
printf '| %9s  %s\n' processes "MB of process 0, 1, ..."
for np in 1 2 4; do
  dir=$(mktemp -d)
  values 2048 1 1 | sed 's/^b_plan .*/b_plan = 0/' >"$dir/tavo.inp"
  # every process under its own /usr/bin/time, each writing its own report
  if ! (cd "$dir" && mpirun --oversubscribe --bind-to none -np "$np" sh -c \
        '/usr/bin/time -f "%M" -o "time.$OMPI_COMM_WORLD_RANK" "$0"' "$tavo" >log 2>&1); then
    echo "| bench/scaling.sh: the memory run of $np processes failed; its files are in $dir" >&2
    exit 1
  fi
  sizes=""
  for ((r = 0; r < np; r++)); do sizes+=" $(awk '{ printf "%.0f", $1 * 1024 / 1e6 }' "$dir/time.$r")"; done
  printf '| %9s %s\n' "$np" "$sizes"
  rm -rf "$dir"
done
