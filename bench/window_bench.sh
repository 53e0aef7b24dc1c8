#!/usr/bin/env bash
# The desktop program's scan against orvane-cli's on the same recording in the page
# cache (ratio of the best times), the longest gap between served events during a
# scan in the window, and the window's processor time at rest over 10 s.
#   bench/window_bench.sh [FILE]   (default: a generated recording of SIZE_MIB, 2200 MiB)
# COLD=1 drops the page cache before every scan instead (as root): both read the disk.
# VIEWER=1 runs the window with the real viewer beside it.
# BUILD_DIR selects the build tree (default build/); RUNS the repetitions (best counts).
set -euo pipefail
source "$(dirname "$0")/common.sh"
size_mib="${SIZE_MIB:-2200}"
runs="${RUNS:-3}"

bench_build window_bench orvane-cli DVD2AVI_PVAVIEW pva-samplegen
file="${1:-$build/bench/long_${size_mib}.pva}"
bench_recording "$file" "$size_mib"
# Into the page cache first.
cat "$file" >/dev/null
QT_QPA_PLATFORM="${QT_QPA_PLATFORM:-offscreen}" "$build/bin/window_bench" "$file" "$runs" "${COLD:+cold},${VIEWER:+viewer}"
