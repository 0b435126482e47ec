#!/bin/bash
# Catalogue road benchmark: unpack + check + index (+ report table for two-line data)
# against unpacking alone with the system's unzip/gzip, and against sgp4's parser, at
# 10,000, 100,000 and 339,999 objects (the last with numbers in the letter form); and
# the report of catalogue changes against the check stage at 100,000 (changes-100000).
# Each figure is the median of several runs, ours and the baseline alternating; the
# "# " lines on stderr give every run's stage times and the spread.
#
# Scale lines: our time per 100,000 objects at 10,000 and at 339,999 objects against
# the same at 100,000 (ratio 1.00 = the same time per object; the peak RSS of the
# line's size, all three sizes on stderr). The index and the name table grow with the
# highest catalogue number, not with the count, so the scale runs use catalogues whose
# numbers fill their range as a full catalogue's do: 10,000 objects numbered up to
# 10,000, like 100,000 up to 99,999 and 339,999 up to Z9999.
set -euo pipefail
build="${1:-build/bench}"
here="$(cd "$(dirname "$0")" && pwd)"
bin="$build/bench/catalogue/catalogue_bench"
tmp="$(mktemp -d)"
trap 'rm -rf "$tmp"' EXIT

now_ns() { date +%s%N; }
elapsed() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.1f", (b - a) / 1e6 }'; }
median() { printf '%s\n' "$@" | sort -g | awk '{ v[NR] = $1 } END { printf "%.1f", NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
spread() { printf '%s\n' "$@" | sort -g | awk 'NR == 1 { lo = $1 } { hi = $1 } END { printf "%s-%s", lo, hi }'; }

line() { # name ours baseline rss_kb
  awk -v n="$1" -v o="$2" -v b="$3" -v r="$4" \
    'BEGIN { printf "bench %s ours_ms=%.1f baseline_ms=%.1f ratio=%.2f peak_rss_mb=%s\n", n, o, b, (b > 0 ? o / b : 0), (r == "-" ? "-" : sprintf("%.1f", r / 1024)) }'
}

field() { sed -n "s/.*$1=\([^ ]*\).*/\1/p" <<<"$2"; }

# make_data DIR COUNT [generator options]: the texts and their archives.
make_data() {
  local data="$1" count="$2"
  shift 2
  mkdir -p "$data"
  python3 "$here/../tools/gen_catalogue.py" "$count" "$data" "$@"
  (cd "$data" && zip -q -j catalog_2l.zip catalog_2l.txt && zip -q -j catalog_3l.zip catalog_3l.txt \
    && zip -q -j ssr_bench.zip ssr_bench.txt && gzip -k -f catalog_2l.txt catalog_3l.txt)
}

archive_of() { # data form mode
  if [ "$3" = zip ]; then echo "$1/catalog_${2}l.zip"; else echo "$1/catalog_${2}l.txt.gz"; fi
}

# ours DATA FORM MODE [SSR]: one run of our stage; prints the driver's line.
ours() {
  local work="$tmp/work"
  rm -rf "$work"
  mkdir -p "$work"
  "$bin" "$3" "$2" "$(archive_of "$1" "$2" "$3")" "${4:--}" "$work"
}

# baseline DATA FORM MODE [SSR]: one run of the system's unpacking; prints its ms.
baseline() {
  local base="$tmp/base" archive t0 t1
  archive="$(archive_of "$1" "$2" "$3")"
  rm -rf "$base"
  mkdir -p "$base"
  t0="$(now_ns)"
  if [ "$3" = zip ]; then unzip -p "$archive" > "$base/catalog.txt"; else gzip -dc "$archive" > "$base/catalog.txt"; fi
  if [ -n "${4:-}" ]; then unzip -p "$4" > "$base/ssr.txt"; fi
  t1="$(now_ns)"
  elapsed "$t0" "$t1"
}

# measure DATA FORM MODE RUNS: sets OURS (median ms), RSS (largest peak, KB) and BASE.
measure() {
  local data="$1" form="$2" mode="$3" runs="$4" ssr="" result
  [ "$form" = 2 ] && ssr="$data/ssr_bench.zip"
  local o=() b=()
  RSS=0
  for _ in $(seq "$runs"); do
    result="$(ours "$data" "$form" "$mode" "$ssr")"
    echo "# $result" >&2
    o+=("$(field ours_ms "$result")")
    RSS=$(( $(field peak_rss_kb "$result") > RSS ? $(field peak_rss_kb "$result") : RSS ))
    b+=("$(baseline "$data" "$form" "$mode" "$ssr")")
  done
  OURS="$(median "${o[@]}")"
  BASE="$(median "${b[@]}")"
  echo "# ours $(spread "${o[@]}") ms, baseline $(spread "${b[@]}") ms over $runs runs" >&2
}

# changes DATA RUNS: the changes-100000 line. Two catalogues made from DATA's text that
# differ in 1 % of their objects; the comparison of the second with the state the first
# left, against the processing run's check stage (unpacked from its ZIP and checked) on
# the second, both timed by the driver in the same run.
changes() {
  local pair="$tmp/changes" bin_changes="$build/bench/catalogue/changes_bench" result o=() b=() rss=0
  mkdir -p "$pair"
  "$bin_changes" make "$1/catalog_2l.txt" "$pair"
  (cd "$pair" && zip -q -j after.zip after.txt)
  for _ in $(seq "$2"); do
    rm -rf "$tmp/work"
    mkdir -p "$tmp/work"
    result="$("$bin_changes" run "$pair" "$1/ssr_bench.txt" "$tmp/work")"
    echo "# changes: $result" >&2
    o+=("$(field ours_ms "$result")")
    b+=("$(field baseline_ms "$result")")
    rss=$(( $(field peak_rss_kb "$result") > rss ? $(field peak_rss_kb "$result") : rss ))
  done
  line "changes-100000" "$(median "${o[@]}")" "$(median "${b[@]}")" "$rss"
  echo "# changes: ours $(spread "${o[@]}") ms, check stage $(spread "${b[@]}") ms over $2 runs" >&2
  rm -rf "$pair"
}

peer_python=/usr/bin/python3 # the Debian interpreter that sees python3-sgp4
[ -x "$peer_python" ] || peer_python=python3

for count in 10000 100000 339999; do
  data="$tmp/data-$count"
  options=()
  runs=5
  if [ "$count" = 339999 ]; then
    options=(--alpha5)
    runs=3
  fi
  make_data "$data" "$count" "${options[@]}"

  for form in 2 3; do
    for mode in zip gz; do
      measure "$data" "$form" "$mode" "$runs"
      line "catalogue-${form}line-${mode}-${count}" "$OURS" "$BASE" "$RSS"
    done
  done

  if [ "$count" != 339999 ] && "$peer_python" -c 'import sgp4.api' 2>/dev/null; then
    o=()
    rss=0
    for _ in $(seq "$runs"); do
      result="$(ours "$data" 2 zip)"
      o+=("$(field ours_ms "$result")")
      rss=$(( $(field peak_rss_kb "$result") > rss ? $(field peak_rss_kb "$result") : rss ))
    done
    peer="$("$peer_python" "$here/catalogue/peer_sgp4.py" "$data/catalog_2l.txt")"
    line "catalogue-vs-sgp4-parse-${count}" "$(median "${o[@]}")" "$(field peer_ms "$peer")" "$rss"
    echo "# $peer; ours $(spread "${o[@]}") ms" >&2
  fi
  [ "$count" = 100000 ] && changes "$data" "$runs"
  [ "$count" = 10000 ] && rm -rf "$data"
done

# The scale lines: the 10,000-object catalogue numbered densely (see above). The three
# sizes run in turn, round after round, so that they share the machine's conditions.
# A run of 100 objects, in the same rounds, gives the stage's fixed cost F (opening the
# archive, starting the helper, creating and renaming the files); the bound lines show
# the best 10,000-object scale ratio that F allows, were every other cost per object
# the same as at 100,000: (10 F + T - F) / T, T the time for 100,000.
make_data "$tmp/data-dense-10000" 10000 --highest=10000
make_data "$tmp/data-dense-100" 100 --highest=100
for form in 2 3; do
  for mode in zip gz; do
    declare -A times=() rss=()
    for _ in 1 2 3 4 5; do
      for count in 100 10000 100000 339999; do
        data="$tmp/data-$count"
        [ "$count" = 10000 ] || [ "$count" = 100 ] && data="$tmp/data-dense-$count"
        ssr=""
        [ "$form" = 2 ] && ssr="$data/ssr_bench.zip"
        result="$(ours "$data" "$form" "$mode" "$ssr")"
        echo "# $count: $result" >&2
        times[$count]+="$(awk -v o="$(field ours_ms "$result")" -v c="$count" 'BEGIN { printf "%.2f", o * 100000 / c }') "
        kb="$(field peak_rss_kb "$result")"
        rss[$count]=$(( kb > ${rss[$count]:-0} ? kb : ${rss[$count]:-0} ))
      done
    done
    # shellcheck disable=SC2086 # the lists are space-separated numbers
    reference="$(median ${times[100000]})"
    for count in 10000 339999; do
      # shellcheck disable=SC2086
      line "catalogue-scale-${form}line-${mode}-${count}" "$(median ${times[$count]})" "$reference" "${rss[$count]}"
    done
    # shellcheck disable=SC2086
    fixed="$(awk -v t="$(median ${times[100]})" 'BEGIN { printf "%.2f", t / 1000 }')"
    line "catalogue-scale-bound-${form}line-${mode}-10000" \
      "$(awk -v f="$fixed" -v t="$reference" 'BEGIN { printf "%.2f", 10 * f + t - f }')" "$reference" "${rss[100]}"
    echo "# fixed cost F (the stage with 100 objects): $fixed ms" >&2
    echo "# per 100,000 objects, ms: 100: ${times[100]}; 10,000: ${times[10000]}; 100,000: ${times[100000]}; 339,999: ${times[339999]}" >&2
    echo "# peak RSS, KB: 10,000: ${rss[10000]}; 100,000: ${rss[100000]}; 339,999: ${rss[339999]}" >&2
    unset times rss
  done
done
