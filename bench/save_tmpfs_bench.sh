#!/usr/bin/env bash
# Saving a whole recording as one range into tmpfs against `cp` of the same file,
# side by side in one run, with the recording itself in tmpfs: what is left is the
# copying, no disk. The writer is run twice: as it reads now (runs of packets, a few
# large reads) and with one read call per packet, as it used to. Prints the
# throughputs, the read calls and the ratios to cp (goal: >= 0.9).
#   bench/save_tmpfs_bench.sh [FILE]  (default: a generated recording of SIZE_MIB, 1400 MiB)
# TMPFS_DIR is where the files go (default /dev/shm); RUNS the repetitions (best counts).
set -euo pipefail
source "$(dirname "$0")/common.sh"
size_mib="${SIZE_MIB:-1400}"
runs="${RUNS:-3}"
shm="${TMPFS_DIR:-/dev/shm}"

bench_build save_bench pva-samplegen

work="$shm/orvane_save_bench.$$"
mkdir -p "$work"
trap 'rm -rf "$work"' EXIT
file="$work/rec.pva"
if [ -n "${1:-}" ]; then cp "$1" "$file"; else "$build/bin/pva-samplegen" long "$size_mib" "$file" >/dev/null 2>&1; fi
copy="$work/copy.pva"
out="$work/out.pva"
bytes=$(stat -c %s "$file")

smaller() { [ -z "$2" ] || [ "$(calc "($1 < $2) ? 1 : 0")" = 1 ]; }
t_cp="" t_run="" t_pkt="" d_run="" d_pkt=""
for _ in $(seq "$runs"); do
  t0=$(now); cp "$file" "$copy"; t1=$(now)
  t=$(calc "$t1 - $t0"); if smaller "$t" "$t_cp"; then t_cp=$t; fi
  rm -f "$copy"

  line=$("$build/bin/save_bench" "$file" "$out"); rm -f "$out"
  if smaller "${line%% *}" "$t_run"; then t_run=${line%% *}; d_run=$line; fi
  line=$("$build/bin/save_bench" --packet-reads "$file" "$out"); rm -f "$out"
  if smaller "${line%% *}" "$t_pkt"; then t_pkt=${line%% *}; d_pkt=$line; fi
done

saved=$(echo "$d_run" | cut -d' ' -f2)
printf 'file: %s (%d bytes, %.0f MiB), in %s\n' "$file" "$bytes" "$(calc "$bytes / 1048576")" "$shm"
printf '%-30s %8.3f s  %8.1f MiB/s\n' "cp FILE COPY" "$t_cp" "$(calc "$bytes / 1048576 / $t_cp")"
printf '%-30s %8.3f s  %8.1f MiB/s  %s\n' "save, runs of packets" "$t_run" "$(calc "$saved / 1048576 / $t_run")" \
  "$(echo "$d_run" | cut -d' ' -f3-)"
printf '%-30s %8.3f s  %8.1f MiB/s  %s\n' "save, one read per packet" "$t_pkt" "$(calc "$saved / 1048576 / $t_pkt")" \
  "$(echo "$d_pkt" | cut -d' ' -f3-)"
printf 'ratio to cp, runs of packets:   %.2f   goal: >= 0.9\n' "$(calc "($saved / $t_run) / ($bytes / $t_cp)")"
printf 'ratio to cp, one read a packet: %.2f\n' "$(calc "($saved / $t_pkt) / ($bytes / $t_cp)")"
