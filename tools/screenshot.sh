#!/usr/bin/env bash
# Makes the README's picture of the window from a real run, offscreen: the
# generated 60-second sample scanned, a selection and a list. The other states
# (idle, scanning, saving, setup) go to build/screenshots/ for a look.
#   tools/screenshot.sh [RECORDING]
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${BUILD_DIR:-$root/build}"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j "$(nproc)" --target orvane-screenshot pva-samplegen >/dev/null
file="${1:-}"
if [ -z "$file" ]; then
  "$build/bin/pva-samplegen" standard "$build/samples" >/dev/null
  file="$build/samples/rec60.pva"
fi
QT_QPA_PLATFORM=offscreen "$build/bin/orvane-screenshot" "$build/screenshots" "$file"
mkdir -p "$root/docs"
cp "$build/screenshots/orvane.png" "$root/docs/orvane.png"
echo "$root/docs/orvane.png"
