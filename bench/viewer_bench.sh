#!/usr/bin/env bash
# Latency of the preview viewer: time from a position message to the picture shown,
# median and 95th percentile, for cut points at I pictures and at every picture.
#   bench/viewer_bench.sh [FILE [COUNT]]   (default: the generated 60 s 720 x 576 recording)
# BUILD_DIR selects the build tree (default build/).
set -euo pipefail
source "$(dirname "$0")/common.sh"

bench_build viewer_latency_bench DVD2AVI_PVAVIEW orvane-cli pva-samplegen

file="${1:-}"
if [ -z "$file" ]; then
  "$build/bin/pva-samplegen" standard "$build/samples" >/dev/null
  file="$build/samples/rec60.pva"
fi
cat "$file" >/dev/null   # into the page cache
echo "file: $file ($(stat -c %s "$file") bytes)"
"$build/bin/viewer_latency_bench" "$file" "${2:-300}"
