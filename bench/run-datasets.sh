#!/bin/bash
# Data-set writers on a 100,000-object catalogue, against copying the catalogue with cp.
# The writers flush each finished file to disk before renaming it into place; the
# "-durable" lines set the comprehensive data set against a copy flushed the same way
# (cp, then sync of the copy). The "omm" lines set the OMM twin of the comprehensive
# data set against python-sgp4 doing the same job from the same file (its TLE reader,
# its OMM exporter and the standard library's writers).
set -euo pipefail
build="${1:-build/bench}"
bin="$build/bench/datasets/bench_datasets"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

here="$(cd "$(dirname "$0")" && pwd)"
python3 "$here/../tools/gen_catalogue.py" 100000 "$work"
"$bin" prepare "$work"

now_ns() { date +%s%N; }
best_of_5() { # prints the smallest of five timings of "$@" in ms (one decimal)
  local best=""
  for _ in 1 2 3 4 5; do
    local t0 t1 ms
    t0=$(now_ns); "$@" >/dev/null; t1=$(now_ns)
    ms=$(( (t1 - t0) / 100000 ))
    if [ -z "$best" ] || [ "$ms" -lt "$best" ]; then best=$ms; fi
  done
  printf '%d.%d' $((best / 10)) $((best % 10))
}

durable_copy() { cp "$1" "$2" && sync "$2"; }

ours_best_of_5() { # prints the smallest time and the largest peak RSS of five runs of a timed mode
  local best="" rss="" out ms mb
  for _ in 1 2 3 4 5; do
    out=$("$bin" "$@")
    ms=${out#ours_ms=}; ms=${ms%% *}
    mb=${out##*peak_rss_mb=}
    if [ -z "$best" ] || awk "BEGIN{exit !($ms < $best)}"; then best=$ms; fi
    if [ -z "$rss" ] || awk "BEGIN{exit !($mb > $rss)}"; then rss=$mb; fi
  done
  echo "$best $rss"
}

for form in 3 2; do
  dir="$work/form$form"
  baseline=$(best_of_5 cp "$dir/catalog.txt" "$work/copy.txt")
  durable=$(best_of_5 durable_copy "$dir/catalog.txt" "$work/copy.txt")
  for what in comprehensive user; do
    read -r best rss <<<"$(ours_best_of_5 "$what" "$dir" "$form")"
    ratio=$(awk "BEGIN{printf \"%.2f\", $best / ($baseline > 0 ? $baseline : 0.1)}")
    echo "bench datasets-$what-${form}line ours_ms=$best baseline_ms=$baseline ratio=$ratio peak_rss_mb=$rss"
    if [ "$what" = comprehensive ]; then
      ratio=$(awk "BEGIN{printf \"%.2f\", $best / ($durable > 0 ? $durable : 0.1)}")
      echo "bench datasets-$what-${form}line-durable ours_ms=$best baseline_ms=$durable ratio=$ratio peak_rss_mb=$rss"
    fi
  done
done

peer_python=/usr/bin/python3 # the Debian interpreter that sees python3-sgp4
[ -x "$peer_python" ] || peer_python=python3
if "$peer_python" -c 'import sgp4.exporter' 2>/dev/null; then
  dir="$work/form3"
  for kind in xml csv json; do
    read -r best rss <<<"$(ours_best_of_5 omm "$dir" "$kind")"
    peer=$("$peer_python" "$here/datasets/peer_omm.py" "$kind" "$dir/Vantoreal/catalog.txt" "$work/peer.$kind")
    peer=${peer#peer_ms=}
    ratio=$(awk "BEGIN{printf \"%.3f\", $best / $peer}")
    echo "bench datasets-omm-$kind-100000 ours_ms=$best baseline_ms=$peer ratio=$ratio peak_rss_mb=$rss"
  done
fi
