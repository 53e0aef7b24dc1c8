# What the benchmark scripts share; sourced, not run. Sets root and build
# (BUILD_DIR, default build/) and gives:
#   bench_build TARGET...            configure once, build the targets (the log only on failure)
#   bench_recording FILE SIZE [ARG]  FILE, made by `pva-samplegen long SIZE` (MiB) when missing
#   bench_film FILE SECONDS          FILE, made by `pva-samplegen record SECONDS` when missing
#   now, calc EXPR, best CMD...      wall clock, awk arithmetic, best time of $runs runs
#   mibs SECONDS                     $bytes read in SECONDS, in MiB/s
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${BUILD_DIR:-$root/build}"

bench_build() {
  if [ ! -f "$build/build.ninja" ] && [ ! -f "$build/Makefile" ]; then
    cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
  fi
  local out
  if ! out=$(cmake --build "$build" --target "$@" 2>&1); then
    echo "$out" >&2
    exit 1
  fi
}

bench_recording() {
  local file=$1 size_mib=$2
  shift 2
  if [ ! -f "$file" ]; then
    mkdir -p "$(dirname "$file")"
    echo "making $file ..."
    "$build/bin/pva-samplegen" long "$size_mib" "$file" "$@" >/dev/null
  fi
}

bench_film() {
  local file=$1 seconds=$2
  if [ ! -f "$file" ]; then
    mkdir -p "$(dirname "$file")"
    echo "making $file ..."
    "$build/bin/pva-samplegen" record "$seconds" "$file" >/dev/null
  fi
}

now() { date +%s.%N; }
calc() { awk "BEGIN { print $1 }"; }
best() {
  local best_t="" t0 t1 t
  for _ in $(seq "$runs"); do
    t0=$(now); "$@" >/dev/null; t1=$(now)
    t=$(calc "$t1 - $t0")
    if [ -z "$best_t" ] || [ "$(calc "($t < $best_t) ? 1 : 0")" = 1 ]; then best_t=$t; fi
  done
  echo "$best_t"
}
mibs() { awk "BEGIN { printf \"%.1f\", $bytes / 1048576 / $1 }"; }
