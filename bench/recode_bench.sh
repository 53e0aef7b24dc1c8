#!/usr/bin/env bash
# Re-encoding at cuts against the same save without it, side by side in one run, on
# one core (taskset -c 0): a 60-second standard-definition recording (720 x 576, open
# GOPs of 12) cut at every picture into CUTS ranges that each start at a P or B
# picture, saved by orvane-cli with saveRecodeAtCuts=1 and =0 (the scan is in both).
# Prints both save times, their ratio and the time each cut adds (goal: < 0.5 s).
#   bench/recode_bench.sh [CUTS]      (default 20)
# BUILD_DIR selects the build tree (default build/); RUNS the repetitions (best counts).
set -euo pipefail
source "$(dirname "$0")/common.sh"
cuts="${1:-20}"
runs="${RUNS:-3}"

bench_build orvane-cli pva-samplegen

file="$build/bench/recode_60s.pva"
if [ ! -f "$file" ]; then
  mkdir -p "$(dirname "$file")"
  "$build/bin/pva-samplegen" record 60 "$file" --cache "$build/bench" >/dev/null
fi
out="$(dirname "$file")/recode_bench_out.$$.pva"
trap 'rm -f "$out"' EXIT

# Ranges of 40 pictures, 70 apart, each starting two pictures after an I picture
# in coding order (a B picture shown before the P that precedes it).
adds=()
for k in $(seq 0 $((cuts - 1))); do
  first=$((12 * (k * 6 + 1) + 2))
  adds+=(--add "0:$first-$((first + 40))")
done
one_core=()
if command -v taskset >/dev/null; then one_core=(taskset -c 0); fi
save() { "${one_core[@]}" "$build/bin/orvane-cli" --set cutAtIFrames=0 --set saveRecodeAtCuts="$1" cut -o "$out" "${adds[@]}" "$file"; }

cat "$file" >/dev/null   # into the page cache
line=$(save 1 | grep "re-encoded" || true)
t_on=$(best save 1)
t_off=$(best save 0)

printf 'file: %s, %d ranges\n' "$file" "$cuts"
printf 'with re-encoding:    %.3f s  (%s)\n' "$t_on" "$line"
printf 'without (clean joins): %.3f s\n' "$t_off"
printf 'ratio: %.2f\n' "$(calc "$t_on / $t_off")"
printf 'per cut: %.3f s (goal < 0.5 s on one core)\n' "$(calc "($t_on - $t_off) / $cuts")"
