#!/usr/bin/env bash
# Scan throughput against a plain sequential read of the same recording, with the
# file in the page cache: the read-ahead scan, the plain file layer scan, the scan
# with a polling event pump, `cat FILE > /dev/null`, ffmpeg's PVA reader, and the
# scanner's peak memory.
#   bench/scan_bench.sh [FILE]     (default: a generated recording of SIZE_MIB, 2200 MiB)
# BUILD_DIR selects the build tree (default build/); RUNS the repetitions (best counts).
set -euo pipefail
source "$(dirname "$0")/common.sh"
size_mib="${SIZE_MIB:-2200}"
runs="${RUNS:-3}"

bench_build scan_bench pva-samplegen

file="${1:-$build/bench/long_${size_mib}.pva}"
bench_recording "$file" "$size_mib"
bytes=$(stat -c %s "$file")


cat "$file" >/dev/null   # into the page cache
t_cat=$(best sh -c "cat '$file' >/dev/null")
t_buf=$(best "$build/bin/scan_bench" "$file" buffered)
t_plain=$(best "$build/bin/scan_bench" "$file" plain)
t_poll=$(best "$build/bin/scan_bench" "$file" polling)
details=$("$build/bin/scan_bench" "$file" buffered)
t_ff="-"
if command -v ffmpeg >/dev/null; then
  t0=$(now); ffmpeg -nostdin -v error -i "$file" -c copy -f null - >/dev/null 2>&1 || true; t1=$(now)
  t_ff=$(calc "$t1 - $t0")
fi

printf 'file: %s (%d bytes, %.0f MiB)\n' "$file" "$bytes" "$(calc "$bytes / 1048576")"
printf 'scanner: %s\n' "$details"
printf '%-34s %8.3f s  %8s MiB/s\n' "cat FILE > /dev/null" "$t_cat" "$(mibs "$t_cat")"
printf '%-34s %8.3f s  %8s MiB/s  ratio to cat %.2f\n' "scan, read-ahead reader" "$t_buf" "$(mibs "$t_buf")" "$(calc "$t_cat / $t_buf")"
printf '%-34s %8.3f s  %8s MiB/s  ratio to cat %.2f\n' "scan, plain file layer" "$t_plain" "$(mibs "$t_plain")" "$(calc "$t_cat / $t_plain")"
printf '%-34s %8.3f s  %8s MiB/s  ratio to cat %.2f\n' "scan, read-ahead + polling pump" "$t_poll" "$(mibs "$t_poll")" "$(calc "$t_cat / $t_poll")"
if [ "$t_ff" != "-" ]; then
  printf '%-34s %8.3f s  %8s MiB/s  scan is %.1fx faster\n' "ffmpeg -c copy -f null" "$t_ff" "$(mibs "$t_ff")" "$(calc "$t_ff / $t_buf")"
fi
echo "goal: read-ahead scan >= 0.80 of cat, peak memory < 80 MiB (maxrss above; includes the program itself)"
