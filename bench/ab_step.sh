#!/usr/bin/env bash
# A/B timing of this build against an earlier commit: both programs run the same cases in turn
# (A B A B ...), so that the drift of a shared machine touches both alike, and one table gives per
# case the median time per step and per run of each build, the lowest and highest in brackets, and
# the median of the per-pair ratios new/old with its spread.
#   bench/ab_step.sh c096500                 the three step cases and the four examples, 5 pairs each
#   AB_REPEATS=7 bench/ab_step.sh c096500    pairs per case
#   AB_CASES="default-256 hw-512" bench/ab_step.sh c096500   a choice of cases
#   AB_PROCESSES=4 AB_THREADS=1 AB_CASES="default-1024 default-2048" bench/ab_step.sh 3257261
#                                            one job of 4 processes of 1 thread each (mpirun)
# Cases: default-256, default-1024, default-2048 (the default example's physics: warm ions, ihype 2,
# on a short run of that grid), hw-512 (cold-ion Hasegawa-Wakatani: chat -1, taui 0, ihype 2, box
# 2 pi/0.15), and example:NAME (the whole example run of examples/NAME). The time per step is the
# sum of the step stages of the program's own timing report over the steps; "run" is the wall clock
# of the whole run. 2 threads (AB_THREADS), one process (AB_PROCESSES), measured plans. The earlier
# commit is built once into build-bench/ab-<commit>/ (Release); this build is build/tavo (built
# when missing).
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
. "$top/bench/stats.sh"
base=${1:?"| which commit to compare with (for example c096500)"}
repeats=${AB_REPEATS:-5}
processes=${AB_PROCESSES:-1}
threads=${AB_THREADS:-2}
[ "$(id -u)" -ne 0 ] || export OMPI_ALLOW_RUN_AS_ROOT=1 OMPI_ALLOW_RUN_AS_ROOT_CONFIRM=1
cases=${AB_CASES:-"default-256 default-1024 hw-512 example:default example:hasegawa-wakatani example:bath example:shearflow"}

new_exe="$top/build/tavo"
if [ ! -x "$new_exe" ]; then
  cmake -S "$top" -B "$top/build" -DCMAKE_BUILD_TYPE=Release >/dev/null
  cmake --build "$top/build" -j 2 --target tavo >/dev/null
fi
old_exe=$(earlier_build "$top" "$base")

# A synthetic case: the default example with a blob start (its cost does not depend on the
# values), 2 threads and measured plans. Arguments: chat taui diff ly n dt itstp itmax.
tavo_py() { "$top/scripts/parameters" "$@"; }
values() {
  tavo_py with "$top/examples/default/tavo.inp" chat="$1" taui="$2" diff="$3" incon=0 sigma=2 ly="$4" nx="$5" \
    ny="$5" dt="$6" itstp="$7" itmax="$8" ntrace=0 b_plan=1 npar="$threads"
}

parameters() {
  case "$1" in
    default-256) values 0.5 1.0 5e-4 64 256 0.01 100 100 ;;
    default-1024) values 0.5 1.0 5e-4 256 1024 0.001 20 20 ;;
    default-2048) values 0.5 1.0 5e-4 512 2048 0.001 10 10 ;;
    hw-512) values -1.0 0.0 5e-5 41.88790204786391 512 0.01 40 40 ;;
    example:*) cat "$top/examples/${1#example:}/tavo.inp" ;;
    *) echo "| unknown case \"$1\"" >&2; exit 1 ;;
  esac
}

# One run of exe on the parameter text in $input: prints "wall seconds, step seconds".
run_dir=""
trap '[ -z "$run_dir" ] || rm -rf "$run_dir"' EXIT
run_once() {
  local exe=$1 dir
  dir=$(mktemp -d)
  run_dir=$dir
  printf '%s\n' "$input" >"$dir/tavo.inp"
  local start end
  start=$(date +%s.%N)
  local launch=()
  [ "$processes" -le 1 ] || launch=(mpirun --oversubscribe --bind-to none -np "$processes")
  if ! (cd "$dir" && "${launch[@]}" "$exe" >log 2>&1); then
    echo "| $exe failed on case $name; its last lines:" >&2
    tail -5 "$dir/log" >&2
    rm -rf "$dir"
    exit 1
  fi
  end=$(date +%s.%N)
  echo "$(awk -v a="$start" -v b="$end" 'BEGIN { printf "%.4f", b - a }') $(step_seconds "$dir/log")"
  rm -rf "$dir"
}

printf '| A/B against %s, %s pairs per case, %s cores, %s process(es) of %s thread(s), measured plans; %s\n' \
  "$base" "$repeats" "$(nproc)" "$processes" "$threads" "$(date -u '+%Y-%m-%d %H:%M UTC')"
printf '| %-26s %-10s %6s  %-22s %-22s %-18s  %-20s %-20s %s\n' case grid steps "new ms/step" "old ms/step" \
  "step new/old" "new run (s)" "old run (s)" "run new/old"
for name in $cases; do
  input=$(parameters "$name")
  read -r n m itmax itstp < <(echo "$input" | tavo_py values - nx ny itmax itstp)
  steps=$((itmax / itstp * itstp))
  rows=""
  for ((r = 0; r < repeats; r++)); do
    read -r new_wall new_step < <(run_once "$new_exe")
    read -r old_wall old_step < <(run_once "$old_exe")
    rows+="$new_wall $new_step $old_wall $old_step"$'\n'
  done
  column() { echo -n "$rows" | awk -v c="$1" 'NF { print $c }'; }
  ratio() { echo -n "$rows" | awk -v a="$1" -v b="$2" 'NF && $b > 0 { print $a / $b }'; }
  printf '| %-26s %-10s %6s  %-22s %-22s %-18s  %-20s %-20s %s\n' "$name" "${n}x${m}" "$steps" \
    "$(column 2 | awk -v s="$steps" '{ print $1 / s }' | spread 3 1000)" \
    "$(column 4 | awk -v s="$steps" '{ print $1 / s }' | spread 3 1000)" \
    "$(ratio 2 4 | spread 3 1)" "$(column 1 | spread 2 1)" "$(column 3 | spread 2 1)" "$(ratio 1 3 | spread 3 1)"
done
