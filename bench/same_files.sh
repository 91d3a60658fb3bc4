#!/usr/bin/env bash
# Do this build and an earlier commit write the same files? Both programs run short versions of
# examples with estimated plans (b_plan 0, so that a run repeats bit for bit), and every file they
# write is compared with cmp: the series, profiles, snapshots, spectra, probe analysis, "tavo.nc",
# "restart.dat" and "restart.nc"; the console too, but for the timing report and the order in which
# the threads report. A stop by a signal and its continuation are compared as well.
#   bench/same_files.sh bd0ad8c          every case below
#   SAME_CASES="blob kymode" bench/same_files.sh bd0ad8c
#   bench/same_files.sh /tmp/mainbuild/build/tavo     a program built elsewhere
# Exit status 0 when every file is the same. The earlier commit is built once into
# build-bench/ab-<commit>/ (Release), as bench/ab_step.sh builds it; this build is build/tavo.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
base=${1:?"| which commit to compare with (for example bd0ad8c)"}
python=${TAVO_PYTHON:-$(command -v /usr/bin/python3 || command -v python3 || echo python3)}
cases=${SAME_CASES:-"blob default kymode merger shearflow-laplacian hw-biharmonic-edge bath-edge stop"}
. "$top/bench/stats.sh"
new_exe="$top/build/tavo"
if [ -x "$base" ] && [ -f "$base" ]; then old_exe=$(cd "$(dirname "$base")" && pwd)/$(basename "$base"); else old_exe=$(earlier_build "$top" "$base"); fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# The parameter file of a case: an example, shortened, with estimated plans and other settings.
parameters() {
  local example values
  case "$1" in
    blob) example=blob values="itmax=600 nckpt=2" ;;
    default) example=default values="itmax=300 nckpt=2" ;;
    kymode) example=kymode values="itmax=1000" ;;
    merger) example=merger values="itmax=500" ;;
    shearflow-laplacian) example=shearflow values="itmax=300 ihype=-1 diff=-1e-3" ;;
    hw-biharmonic-edge) example=hasegawa-wakatani values="itmax=500 ihype=0 diff=1e-4 vorfree=2 nckpt=2" ;;
    bath-edge) example=bath values="itmax=400 vorfree=2 nckpt=2" ;;
    stop) example=default values="itmax=2000 nckpt=3" ;;
  esac
  # shellcheck disable=SC2086
  PYTHONPATH="$top/python" "$python" -m tavo with "$top/examples/$example/tavo.inp" b_plan=0 $values
}

# Run exe in dir; for the case "stop" stop it by SIGTERM once it wrote five outputs and continue it.
run() {
  local exe=$1 dir=$2 name=$3
  if [ "$name" != stop ]; then
    (cd "$dir" && "$exe" >stdout.txt 2>stderr.txt) || true
    return
  fi
  (cd "$dir" && exec "$exe" >stdout.txt 2>stderr.txt) &
  local pid=$!
  while [ "$(grep -c '^|t=' "$dir/stdout.txt" 2>/dev/null || true)" -lt 5 ] && kill -0 "$pid" 2>/dev/null; do sleep 0.05; done
  kill -TERM "$pid" 2>/dev/null || true
  wait "$pid" || true
  sed -i 's/^incon \( *\)= 1 /incon \1= 2 /' "$dir/tavo.inp"
  (cd "$dir" && "$exe" >stdout.txt 2>stderr.txt) || true
}

status=0
for name in $cases; do
  mkdir -p "$work/$name/old" "$work/$name/new"
  parameters "$name" >"$work/$name/old/tavo.inp"
  cp "$work/$name/old/tavo.inp" "$work/$name/new/tavo.inp"
  run "$old_exe" "$work/$name/old" "$name"
  run "$new_exe" "$work/$name/new" "$name"
  same=yes
  for file in $( (ls "$work/$name/old"; ls "$work/$name/new") | sort -u); do
    case $file in stdout.txt | stderr.txt | tavo.lock) continue ;; esac
    cmp -s "$work/$name/old/$file" "$work/$name/new/$file" || { echo "| $name: $file differs"; same=no; }
  done
  console() { grep -v 'total times\|rela. times\|parallel threads' "$1"; }
  cmp -s <(console "$work/$name/old/stdout.txt") <(console "$work/$name/new/stdout.txt") ||
    { echo "| $name: the console differs"; same=no; }
  echo "| $name: $(ls "$work/$name/old" | wc -l) files, $([ $same = yes ] && echo "all the same" || echo "NOT the same")"
  [ $same = yes ] || status=1
done
exit $status
