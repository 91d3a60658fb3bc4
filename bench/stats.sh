# Shared by the benchmark scripts (sourced): the summary of repeated measurements and the step
# time of a run's timing report.

# "median (lowest-highest)" of the numbers on standard input, times scale (default 1), with digits.
spread() {
  sort -g | awk -v s="${2:-1}" -v d="$1" '{ v[NR] = $1 * s } END {
      m = NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2
      printf "%.*f (%.*f-%.*f)", d, m, d, v[1], d, v[NR] }'
}

# Seconds of the step stages (upd, poi1, poi2, pol, bnd, mem) in the timing report of the console
# file $1 ("| total times: ini: a upd: b ... mem:h").
step_seconds() {
  grep '| total times:' "$1" | sed 's/mem:/mem: /' | awk '{
      for (i = 1; i < NF; i++) t[$i] = $(i + 1)
      printf "%.6f\n", t["upd:"] + t["poi1:"] + t["poi2:"] + t["pol:"] + t["bnd:"] + t["mem:"] }'
}

# Seconds of the output stage (out) in the timing report of the console file $1.
out_seconds() {
  grep '| total times:' "$1" | awk '{ for (i = 1; i < NF; i++) if ($i == "out:") printf "%.6f\n", $(i + 1) }'
}

# The program of commit $2 in the checkout $1, built once (Release) into $1/build-bench/ab-<commit>/:
# prints its path.
earlier_build() {
  local dir="$1/build-bench/ab-$2"
  if [ ! -x "$dir/build/tavo" ]; then
    rm -rf "$dir/src" && mkdir -p "$dir/src"
    git -C "$1" archive "$2" | tar -x -C "$dir/src"
    cmake -S "$dir/src" -B "$dir/build" -DCMAKE_BUILD_TYPE=Release -DTAVO_TESTS=OFF >/dev/null
    cmake --build "$dir/build" -j 2 --target tavo >/dev/null
  fi
  echo "$dir/build/tavo"
}
