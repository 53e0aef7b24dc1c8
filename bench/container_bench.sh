#!/usr/bin/env bash
# Saving the same cut list as a DVD program stream, a transport stream and Matroska
# against saving it as PVA (goal: each within 1.5 times the PVA save), in one run, on
# a standard-definition recording with joins. The times include the scan of the
# source, the same for every format; the PVA save's time without it is shown too.
#   bench/container_bench.sh [SECONDS]   (default: a 600 s recording, made once under
#   build/bench/; RUNS=N takes the best of N rounds, default 5)
# BUILD_DIR selects the build tree (default build/).
set -euo pipefail
source "$(dirname "$0")/common.sh"

bench_build orvane-cli pva-samplegen
seconds="${1:-600}"
dir="$build/bench"
film="$dir/container-film-$seconds.pva"
bench_film "$film" "$seconds"
cli="$build/bin/orvane-cli"
units=$("$cli" units "$film" 2>/dev/null | tail -n +2 | wc -l)
a=$((units / 10)); b=$((units * 3 / 10)); c=$((units * 4 / 10)); d=$((units * 6 / 10)); e=$((units * 7 / 10))
cut="--add 0:$a-$b --add 0:$c-$d --add 0:$e-$((units - 2)) --add 0:0-$((a - 1))"
cat "$film" >/dev/null   # into the page cache
out="$dir/container-out"
echo "recording: $film ($(stat -c %s "$film") bytes), cut $cut"

runs=${RUNS:-5}
# The formats take turns in every round, so that a busy moment of the machine does
# not fall on one of them alone; each keeps its best time.
t_scan=$(best "$cli" scan "$film")
declare -A t
for _ in $(seq "$runs"); do
  for f in pva mpg ts mkv; do
    t0=$(now); "$cli" cut -o "$out.$f" $cut "$film" >/dev/null; t1=$(now)
    d=$(calc "$t1 - $t0")
    if [ -z "${t[$f]:-}" ] || [ "$(calc "($d < ${t[$f]}) ? 1 : 0")" = 1 ]; then t[$f]=$d; fi
  done
done
printf 'scan alone:   %6.2f s (part of every save below)\n' "$t_scan"
printf 'pva           %6.2f s  (%.2f s without the scan)  %d bytes\n' "${t[pva]}" "$(calc "${t[pva]} - $t_scan")" \
  "$(stat -c %s "$out.pva")"
for f in mpg ts mkv; do
  printf '%-4s          %6.2f s  %.2f x pva (%.2f x without the scan)  %d bytes\n' "$f" "${t[$f]}" \
    "$(calc "${t[$f]} / ${t[pva]}")" "$(calc "(${t[$f]} - $t_scan) / (${t[pva]} - $t_scan)")" "$(stat -c %s "$out.$f")"
done
rm -f "$out".pva "$out".mpg "$out".ts "$out".mkv
