#!/usr/bin/env bash
# The check of a saved file against decoding the same file with `ffmpeg -f null`
# (goal: at most 2.5 times that decode, and at least 20 times faster than real time),
# one decoder thread each, on a saved standard-definition film with joins.
#   bench/check_bench.sh [SECONDS]   (default: a 600 s recording, made once under build/bench/;
#   RUNS=N takes the best of N runs)
# BUILD_DIR selects the build tree (default build/).
set -euo pipefail
source "$(dirname "$0")/common.sh"

bench_build orvane-cli pva-samplegen
seconds="${1:-600}"
dir="$build/bench"
film="$dir/check-film-$seconds.pva"
bench_film "$film" "$seconds"
saved="$dir/check-saved.pva"
cli="$build/bin/orvane-cli"
units=$("$cli" units "$film" 2>/dev/null | tail -n +2 | wc -l)
a=$((units / 10)); b=$((units * 4 / 10)); c=$((units / 2)); d=$((units - 2))
cut="--add 0:$a-$b --add 0:$c-$d"
"$cli" cut -o "$saved" $cut "$film" >/dev/null
cat "$film" "$saved" >/dev/null   # into the page cache
pictures=$("$cli" check "$saved" | sed -n 's/.*no problem found (\([0-9]*\) pictures.*/\1/p')
duration=$(calc "${pictures:-0} / 25")
echo "saved: $saved ($(stat -c %s "$saved") bytes, $pictures pictures, ${duration} s, cut $cut)"

runs=${RUNS:-1}
t_ffmpeg=$(best ffmpeg -nostdin -threads 1 -v quiet -f pva -i "$saved" -f null -)
t_alone=$(best "$cli" check "$saved")
t_scan=$(best "$cli" scan "$film")
t_against=$(best "$cli" check "$saved" $cut "$film")
t_sources=$(calc "$t_against - $t_scan")
printf 'ffmpeg -threads 1 -f null (video and audio): %6.2f s\n' "$t_ffmpeg"
printf 'check alone:                                 %6.2f s  %.2f x ffmpeg, %.0f x real time\n' "$t_alone" \
  "$(calc "$t_alone / $t_ffmpeg")" "$(calc "$duration / $t_alone")"
printf 'check against the sources (less their scan): %6.2f s  %.2f x ffmpeg, %.0f x real time\n' "$t_sources" \
  "$(calc "$t_sources / $t_ffmpeg")" "$(calc "$duration / $t_sources")"
printf '  (the scan of the source, %.2f s, is part of the command and left out)\n' "$t_scan"
