#!/usr/bin/env bash
# Strong scaling on this machine, the memory of each process and the time of an output: one run of
# a grid as 1 process with 2 threads, 1 process with 1 thread, 2 and 4 processes with 1 thread
# each, in turn within each repetition, so that the drift of a shared machine touches all alike;
# per grid the median time per step of each (the step stages of the program's timing report over
# the steps, the lowest and highest in brackets) and the median of the ratios 2x1 / 1x2. Then the peak resident memory of
# every process of a one-step run at 2048 x 2048 on 1, 2 and 4 processes (1 thread each; 4
# processes oversubscribe two cores, which costs time, not memory), each as a share of the run of
# one process. Then the wall time of one output (the output stage of the timing report: the
# diagnostics with their text files and snapshots, a frame of the field history) at 2048 x 2048 on
# 1, 2 and 4 processes on all the cores (threads: the cores over the processes, at least 1): runs
# of 2 and of 6 outputs, one step each, the difference over 4 outputs (so the end's checkpoint
# drops out), the process counts in turn within each repetition.
#   bench/scaling.sh                    grids 512 1024 2048, 5 pairs each, then memory and outputs
#   SCALING_REPEATS=3 bench/scaling.sh 512 1024
#   SCALING_MEMORY=0 SCALING_OUTPUT=0 bench/scaling.sh   without the memory and output runs
#   SCALING_STEPS=0 bench/scaling.sh    without the timing of the steps
# The case is the default example's physics (warm ions, ihype 2) from a blob, measured plans,
# wisdom off (every run plans afresh; TAVO_WISDOM=1 takes the plans of the cache's wisdom after the
# first run). The program is build/tavo (built when missing).
set -euo pipefail
if [ "${1:-}" = "--help" ] || [ "${1:-}" = "-h" ]; then
  sed -n '2,21p' "$0" | sed 's/^# \{0,1\}//'
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
export TAVO_WISDOM=${TAVO_WISDOM:-0}
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

[ "${SCALING_STEPS:-1}" = 1 ] || set --
[ "$#" -eq 0 ] || printf '| strong scaling, %s pairs per grid, %s cores, measured plans; commit %s; %s\n' "$repeats" "$(nproc)" \
  "$(git -C "$top" rev-parse --short HEAD 2>/dev/null || echo unknown)" "$(date -u '+%Y-%m-%d %H:%M UTC')"
# The jobs of the table, processes x threads: one process on both cores, on one (the cost of a
# core, the model's input), and 2 and 4 processes of one thread.
jobs="1x2 1x1 2x1 4x1"
[ "$#" -eq 0 ] || printf '| %-10s %6s' grid steps
[ "$#" -eq 0 ] || { for j in $jobs; do printf '  %-22s' "$j ms/step"; done; printf '  %s\n' "2x1 / 1x2"; }
for n in "$@"; do
  # about a second of steps at this grid
  steps=$((200 * 512 * 512 / (n * n)))
  [ "$steps" -ge 10 ] || steps=10
  rows=""
  for ((r = 0; r < repeats; r++)); do
    row=""
    for j in $jobs; do row+=" $(run_once "${j%x*}" "${j#*x}" "$n" "$steps")"; done
    rows+="$row"$'\n'
  done
  printf '| %-10s %6s' "${n}x${n}" "$steps"
  c=0
  for j in $jobs; do
    c=$((c + 1))
    printf '  %-22s' "$(echo -n "$rows" | awk -v c="$c" 'NF { print $c }' | spread 3 1000)"
  done
  printf '  %s\n' "$(echo -n "$rows" | awk 'NF && $1 > 0 { print $3 / $1 }' | spread 3 1)"
done

if [ "${SCALING_MEMORY:-1}" = 1 ]; then
[ -x /usr/bin/time ] || { echo "| bench/scaling.sh: /usr/bin/time is missing (Debian package time)" >&2; exit 1; }
printf '| peak resident memory per process, 2048 x 2048, one step, 1 thread each; commit %s\n' \
  "$(git -C "$top" rev-parse --short HEAD 2>/dev/null || echo unknown)"
printf '| %9s  %-30s %s\n' processes "MB of process 0, 1, ..." "largest / one process's"
alone=""
for np in 1 2 4; do
  dir=$(mktemp -d)
  values 2048 1 1 | sed 's/^b_plan .*/b_plan = 0/' >"$dir/tavo.inp"
  # every process under its own /usr/bin/time, each writing its own report
  if ! (cd "$dir" && mpirun --oversubscribe --bind-to none -np "$np" sh -c \
        '/usr/bin/time -f "%M" -o "time.$OMPI_COMM_WORLD_RANK" "$0"' "$tavo" >log 2>&1); then
    echo "| bench/scaling.sh: the memory run of $np processes failed; its files are in $dir" >&2
    exit 1
  fi
  sizes="" largest=0
  for ((r = 0; r < np; r++)); do
    mb=$(awk '{ printf "%.0f", $1 * 1024 / 1e6 }' "$dir/time.$r")
    sizes+=" $mb"
    [ "$mb" -le "$largest" ] || largest=$mb
  done
  [ -n "$alone" ] || alone=$largest
  printf '| %9s %-31s %s\n' "$np" "$sizes" "$(awk -v a="$largest" -v b="$alone" 'BEGIN { printf "%.3f", a / b }')"
  rm -rf "$dir"
done
fi

[ "${SCALING_OUTPUT:-1}" = 1 ] || exit 0
# The output stage's seconds of a run of np processes with `outputs` outputs of one step each.
output_once() {
  local dir threads=$(($(nproc) / $1))
  [ "$threads" -ge 1 ] || threads=1
  dir=$(mktemp -d)
  # dt within the coupling's limit (the steps' dt is not, which costs nothing over a few steps, but
  # an output at every step catches the growth)
  values 2048 "$2" "$threads" | sed -e 's/^b_plan .*/b_plan = 0/' -e 's/^itstp .*/itstp = 1/' -e 's/^dt .*/dt = 0.0002/' \
    >"$dir/tavo.inp"
  if ! (cd "$dir" && mpirun --oversubscribe --bind-to none -np "$1" "$tavo" >log 2>&1); then
    echo "| bench/scaling.sh: the output run of $1 processes failed; its files are in $dir" >&2
    exit 1
  fi
  out_seconds "$dir/log"
  rm -rf "$dir"
}
printf '| wall time of one output, 2048 x 2048, all %s cores, %s repetitions; commit %s; %s\n' "$(nproc)" "$repeats" \
  "$(git -C "$top" rev-parse --short HEAD 2>/dev/null || echo unknown)" "$(date -u '+%Y-%m-%d %H:%M UTC')"
rows=""
for ((r = 0; r < repeats; r++)); do
  row=""
  for np in 1 2 4; do
    short=$(output_once "$np" 2)
    long=$(output_once "$np" 6)
    row+=" $(awk -v a="$long" -v b="$short" 'BEGIN { printf "%.4f", (a - b) / 4 }')"
  done
  rows+="$row"$'\n'
done
printf '| %9s  %s\n' processes "s per output"
for c in 1 2 3; do
  printf '| %9s  %s\n' "$(echo "1 2 4" | cut -d' ' -f"$c")" "$(echo -n "$rows" | awk -v c="$c" 'NF { print $c }' | spread 3 1)"
done
