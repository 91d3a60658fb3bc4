#!/usr/bin/env bash
# Convergence in time on the whole program: examples/blob (128^2) to t = 8 with dt halved again and
# again, fixed steps against adaptive ones. For each way to step: the largest difference of ne
# between the runs at dt and dt/2 (from "restart.nc", double precision) and the ratio of
# successive differences: 2 for a first-order method, 8 for a third-order one.
#   bench/blob_order.sh                 dt 0.02 (adaptive only: fixed steps blow up there), 0.01 ... 0.00125
#   BLOB_T=4 bench/blob_order.sh        another end time
# Adaptive runs take cfl 0.9 with dt as the largest step: the steps are dt but for the start (the
# blob's drift allows more), so both ways run the same steps and differ in the scheme: the
# fixed step's first-order start (the first step is n0 + dt 18/11 f0, the dissipation at level
# 0) against the adaptive step's start at third order and implicit coupling and dissipation.
# One thread, estimated plans; the program is build/tavo.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
python=${TAVO_PYTHON:-$(command -v /usr/bin/python3 || command -v python3 || echo python3)}
end=${BLOB_T:-8}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

for way in fixed adaptive; do
  cfl=0
  steps="0.01 0.005 0.0025 0.00125"
  if [ "$way" = adaptive ]; then cfl=0.9 steps="0.02 $steps"; fi
  dirs=""
  for dt in $steps; do
    dir="$work/$way-$dt"
    mkdir -p "$dir"
    itstp=$("$python" -c "print(round(1 / $dt))")
    itmax=$("$python" -c "print(round($end / $dt))")
    PYTHONPATH="$top/python" "$python" -m tavo with "$top/examples/blob/tavo.inp" dt="$dt" itstp="$itstp" \
      itmax="$itmax" ntrace=0 nframe=0 nckpt=0 npar=1 b_plan=0 cfl="$cfl" >"$dir/tavo.inp"
    (cd "$dir" && "$top/build/tavo" >stdout.txt 2>stderr.txt) || { echo "| $way dt $dt failed" >&2; exit 1; }
    dirs="$dirs $dir"
  done
  "$python" - "$way" $dirs <<'EOF'
import sys
import netCDF4
import numpy as np
way, dirs = sys.argv[1], sys.argv[2:]
fields = []
for d in dirs:
    with netCDF4.Dataset(d + "/restart.nc") as f:
        fields.append(np.array(f["ne"][:]))
diff = [float(np.abs(a - b).max()) for a, b in zip(fields, fields[1:])]
steps = [d.rsplit("-", 1)[1] for d in dirs]
print(f"| {way}: max |ne(dt) - ne(dt/2)| at t = end")
for k, d in enumerate(diff):
    ratio = f"   ratio {diff[k - 1] / d:.2f}" if k else ""
    print(f"|   dt {steps[k]:>8} against {steps[k + 1]:>8}: {d:.3e}{ratio}")
EOF
done
