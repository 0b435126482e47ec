#!/bin/bash
# Data-set writers on a 100,000-object catalogue, against copying the catalogue with cp.
set -euo pipefail
build="${1:-build/bench}"
bin="$build/bench/datasets/bench_datasets"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

here="$(cd "$(dirname "$0")" && pwd)"
python3 "$here/../tools/gen_catalogue.py" 100000 "$work"
"$bin" prepare "$work"

now_ns() { date +%s%N; }
best_of_3() { # prints the smallest of three timings of "$@" in ms (one decimal)
  local best=""
  for _ in 1 2 3; do
    local t0 t1 ms
    t0=$(now_ns); "$@" >/dev/null; t1=$(now_ns)
    ms=$(( (t1 - t0) / 100000 ))
    if [ -z "$best" ] || [ "$ms" -lt "$best" ]; then best=$ms; fi
  done
  printf '%d.%d' $((best / 10)) $((best % 10))
}

for form in 3 2; do
  dir="$work/form$form"
  baseline=$(best_of_3 cp "$dir/catalog.txt" "$work/copy.txt")
  for what in comprehensive user; do
    best=""; rss=""
    for _ in 1 2 3; do
      out=$("$bin" "$what" "$dir" "$form")
      ms=${out#ours_ms=}; ms=${ms%% *}
      mb=${out##*peak_rss_mb=}
      if [ -z "$best" ] || awk "BEGIN{exit !($ms < $best)}"; then best=$ms; fi
      if [ -z "$rss" ] || awk "BEGIN{exit !($mb > $rss)}"; then rss=$mb; fi
    done
    ratio=$(awk "BEGIN{printf \"%.2f\", $best / ($baseline > 0 ? $baseline : 0.1)}")
    echo "bench datasets-$what-${form}line ours_ms=$best baseline_ms=$baseline ratio=$ratio peak_rss_mb=$rss"
  done
done
