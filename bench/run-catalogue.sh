#!/bin/bash
# Catalogue road benchmark: unpack + check + index (+ report table for two-line data)
# against unpacking alone with the system's unzip/gzip, and against sgp4's parser.
set -euo pipefail
build="${1:-build/bench}"
here="$(cd "$(dirname "$0")" && pwd)"
bin="$build/bench/catalogue/catalogue_bench"
tmp="$(mktemp -d)"
trap 'rm -rf "$tmp"' EXIT

now_ms() { date +%s%N; }
elapsed() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.1f", (b - a) / 1e6 }'; }

line() { # name ours baseline rss_kb
  awk -v n="$1" -v o="$2" -v b="$3" -v r="$4" \
    'BEGIN { printf "bench %s ours_ms=%.1f baseline_ms=%.1f ratio=%.2f peak_rss_mb=%s\n", n, o, b, (b > 0 ? o / b : 0), (r == "-" ? "-" : sprintf("%.1f", r / 1024)) }'
}

field() { sed -n "s/.*$1=\([^ ]*\).*/\1/p" <<<"$2"; }

for count in 10000 100000; do
  data="$tmp/data-$count"
  mkdir -p "$data"
  python3 "$here/../tools/gen_catalogue.py" "$count" "$data"
  (cd "$data" && zip -q -j catalog_2l.zip catalog_2l.txt && zip -q -j catalog_3l.zip catalog_3l.txt \
    && zip -q -j ssr_bench.zip ssr_bench.txt && gzip -k -f catalog_2l.txt catalog_3l.txt)

  for form in 2 3; do
    for mode in zip gz; do
      if [ "$mode" = zip ]; then archive="$data/catalog_${form}l.zip"; else archive="$data/catalog_${form}l.txt.gz"; fi
      ssr="-"; [ "$form" = 2 ] && ssr="$data/ssr_bench.zip"
      work="$tmp/work"; rm -rf "$work"; mkdir -p "$work"
      result="$("$bin" "$mode" "$form" "$archive" "$ssr" "$work")"
      ours="$(field ours_ms "$result")"; rss="$(field peak_rss_kb "$result")"

      base="$tmp/base"; rm -rf "$base"; mkdir -p "$base"
      t0="$(now_ms)"
      if [ "$mode" = zip ]; then unzip -p "$archive" > "$base/catalog.txt"; else gzip -dc "$archive" > "$base/catalog.txt"; fi
      [ "$ssr" != "-" ] && unzip -p "$ssr" > "$base/ssr.txt"
      t1="$(now_ms)"
      line "catalogue-${form}line-${mode}-${count}" "$ours" "$(elapsed "$t0" "$t1")" "$rss"
      echo "# $result" >&2
    done
  done

  peer_python=/usr/bin/python3  # the Debian interpreter that sees python3-sgp4
  [ -x "$peer_python" ] || peer_python=python3
  if "$peer_python" -c 'import sgp4.api' 2>/dev/null; then
    work="$tmp/work"; rm -rf "$work"; mkdir -p "$work"
    result="$("$bin" zip 2 "$data/catalog_2l.zip" - "$work")"
    peer="$("$peer_python" "$here/catalogue/peer_sgp4.py" "$data/catalog_2l.txt")"
    line "catalogue-vs-sgp4-parse-${count}" "$(field ours_ms "$result")" "$(field peer_ms "$peer")" "$(field peak_rss_kb "$result")"
    echo "# $peer" >&2
  fi
done
