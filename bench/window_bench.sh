#!/usr/bin/env bash
# The desktop program's scan against orvane-cli's on the same recording in the page
# cache (ratio of the best times), the longest gap between served events during a
# scan in the window, and the window's processor time at rest over 10 s.
#   bench/window_bench.sh [FILE]   (default: a generated recording of SIZE_MIB, 2200 MiB)
# BUILD_DIR selects the build tree (default build/); RUNS the repetitions (best counts).
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${BUILD_DIR:-$root/build}"
size_mib="${SIZE_MIB:-2200}"
runs="${RUNS:-3}"

if [ ! -f "$build/build.ninja" ] && [ ! -f "$build/Makefile" ]; then
  cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi
if ! out=$(cmake --build "$build" --target window_bench orvane-cli pva-samplegen 2>&1); then
  echo "$out" >&2
  exit 1
fi
file="${1:-$build/bench/long_${size_mib}.pva}"
if [ ! -f "$file" ]; then
  mkdir -p "$(dirname "$file")"
  echo "making $file ..."
  "$build/bin/pva-samplegen" long "$size_mib" "$file" >/dev/null
fi
# Into the page cache first.
cat "$file" >/dev/null
QT_QPA_PLATFORM="${QT_QPA_PLATFORM:-offscreen}" "$build/bin/window_bench" "$file" "$runs"
