#!/usr/bin/env bash
# Installs what is missing, builds Orvane and opens the window on a recording (a
# generated sample when none is given); orvane starts the preview viewer and
# closes it when it closes. Without a display, prints the scan summary instead.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
"$here/tools/install-deps.sh"
cmake -S "$here" -B "$here/build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$here/build" -j "$(nproc)" --target orvane DVD2AVI_PVAVIEW orvane-cli pva-samplegen
file="${1:-}"
if [ -z "$file" ]; then
  "$here/build/bin/pva-samplegen" standard "$here/build/samples" >/dev/null
  file="$here/build/samples/clip.pva"
fi
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ] && [ "${QT_QPA_PLATFORM:-}" != offscreen ]; then
  echo "No display (neither DISPLAY nor WAYLAND_DISPLAY is set): showing the scan summary instead of the window."
  "$here/build/bin/orvane-cli" scan "$file"
  exit 0
fi
exec "$here/build/bin/orvane" "$file"
