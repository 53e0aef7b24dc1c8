#!/usr/bin/env bash
# Installs what is missing, builds Orvane and reads a recording (a generated
# sample when none is given): the scan summary and its table of cut units.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
"$here/tools/install-deps.sh"
cmake -S "$here" -B "$here/build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$here/build" -j "$(nproc)" --target orvane-cli pva-samplegen
file="${1:-}"
if [ -z "$file" ]; then
  "$here/build/bin/pva-samplegen" standard "$here/build/samples" >/dev/null
  file="$here/build/samples/clip.pva"
fi
"$here/build/bin/orvane-cli" scan "$file"
"$here/build/bin/orvane-cli" units "$file" 2>/dev/null
