#!/usr/bin/env bash
# A recording of 6 GiB in the page cache, side by side in one run:
# - `orvane-cli scan FILE` against `cat FILE > /dev/null` (goal: at least 0.7 of cat);
# - the peak resident memory of `orvane-cli scan` (goal: at most 40 bytes a packet
#   plus 30 MB);
# - cut at every picture: adding a range of 100,000 entries, undoing and redoing it,
#   and edits, undos and redos through six levels of 200,000 entries (goal: each
#   under 20 ms), with the memory they take.
#   bench/long_bench.sh [FILE]     (default: a generated recording of SIZE_MIB, 6144 MiB)
# BUILD_DIR selects the build tree (default build/); RUNS the repetitions (best counts).
# The generated recording stays under build/bench/ for the next run; remove it when done.
set -euo pipefail
source "$(dirname "$0")/common.sh"
size_mib="${SIZE_MIB:-6144}"
runs="${RUNS:-3}"

bench_build long_bench orvane-cli pva-samplegen

file="${1:-$build/bench/long_${size_mib}.pva}"
bench_recording "$file" "$size_mib" --cache "$(dirname "$file")"
bytes=$(stat -c %s "$file")

cli="$build/bin/orvane-cli"
cat "$file" >/dev/null   # into the page cache
t_cat=$(best sh -c "cat '$file' >/dev/null")
t_scan=$(best "$cli" scan "$file")
rss=$("$build/bin/long_bench" rss "$cli" scan "$file" | sed -n 's/.*maxrss_kib=\([0-9]*\).*/\1/p')
packets=$(sed -n 's/^packets=//p' "$file.info" 2>/dev/null || true)
if [ -z "$packets" ]; then packets=$("$build/bin/long_bench" packets "$file"); fi

printf 'file: %s (%d bytes, %.0f MiB)\n' "$file" "$bytes" "$(calc "$bytes / 1048576")"
printf '%-34s %8.3f s  %8s MiB/s\n' "cat FILE > /dev/null" "$t_cat" "$(mibs "$t_cat")"
printf '%-34s %8.3f s  %8s MiB/s  ratio to cat %.2f  (goal: >= 0.7)\n' "orvane-cli scan FILE" "$t_scan" \
  "$(mibs "$t_scan")" "$(calc "$t_cat / $t_scan")"
printf 'orvane-cli scan peak memory: %.1f MiB for %d packets: 30 MB + %.1f bytes a packet  (goal: at most 30 MB + 40 bytes a packet = %.1f MiB)\n' \
  "$(calc "$rss / 1024")" "$packets" "$(calc "($rss * 1024 - 30000000) / $packets")" \
  "$(calc "(40 * $packets + 30000000) / 1048576")"
"$build/bin/long_bench" edits "$file"
