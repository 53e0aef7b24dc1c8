#!/usr/bin/env bash
# Saving a whole recording as one range against copying it, side by side in one
# run: `cp FILE COPY && sync` and the writer (scan excluded, it writes through, a
# `sync` is added all the same), both into the directory of FILE, with FILE in
# the page cache. Prints both throughputs and their ratio (goal: >= 0.6), and for
# reference a copy written through as the file layer writes (dd oflag=dsync, 4 MiB
# blocks), which shows what the write-through alone costs on this disk.
#   bench/save_bench.sh [FILE]     (default: a generated recording of SIZE_MIB, 2200 MiB)
# BUILD_DIR selects the build tree (default build/); RUNS the repetitions (best counts).
set -euo pipefail
source "$(dirname "$0")/common.sh"
size_mib="${SIZE_MIB:-2200}"
runs="${RUNS:-2}"

bench_build save_bench pva-samplegen

file="${1:-$build/bench/long_${size_mib}.pva}"
bench_recording "$file" "$size_mib"
dir="$(cd "$(dirname "$file")" && pwd)"
copy="$dir/save_bench_copy.$$.pva"
out="$dir/save_bench_out.$$.pva"
trap 'rm -f "$copy" "$out"' EXIT

smaller() { [ -z "$2" ] || [ "$(calc "($1 < $2) ? 1 : 0")" = 1 ]; }

cat "$file" >/dev/null   # into the page cache
sync
t_cp="" t_dd="" t_save="" details=""
for _ in $(seq "$runs"); do
  t0=$(now); cp "$file" "$copy"; sync; t1=$(now)
  t=$(calc "$t1 - $t0")
  if smaller "$t" "$t_cp"; then t_cp=$t; fi
  rm -f "$copy"; sync

  t0=$(now); dd if="$file" of="$copy" bs=4M oflag=dsync status=none; t1=$(now)
  t=$(calc "$t1 - $t0")
  if smaller "$t" "$t_dd"; then t_dd=$t; fi
  rm -f "$copy"; sync

  line=$("$build/bin/save_bench" "$file" "$out")
  t0=$(now); sync; t1=$(now)
  t=$(calc "${line%% *} + $t1 - $t0")
  if smaller "$t" "$t_save"; then t_save=$t; details=$line; fi
  rm -f "$out"; sync
done

bytes=$(stat -c %s "$file")
saved=$(echo "$details" | cut -d' ' -f2)
printf 'file: %s (%d bytes, %.0f MiB)\n' "$file" "$bytes" "$(calc "$bytes / 1048576")"
printf 'writer: %s\n' "$(echo "$details" | cut -d' ' -f3-)"
printf '%-26s %8.3f s  %8.1f MiB/s\n' "cp FILE COPY && sync" "$t_cp" "$(calc "$bytes / 1048576 / $t_cp")"
printf '%-26s %8.3f s  %8.1f MiB/s\n' "dd bs=4M oflag=dsync" "$t_dd" "$(calc "$bytes / 1048576 / $t_dd")"
printf '%-26s %8.3f s  %8.1f MiB/s  (%d bytes saved)\n' "save as one range" "$t_save" \
  "$(calc "$saved / 1048576 / $t_save")" "$saved"
printf 'ratio (save MiB/s / cp MiB/s): %.2f   goal: >= 0.6\n' "$(calc "($saved / $t_save) / ($bytes / $t_cp)")"
printf 'ratio (save MiB/s / dd dsync MiB/s): %.2f\n' "$(calc "($saved / $t_save) / ($bytes / $t_dd)")"
