#!/bin/bash
# Download run: critical-update check, login, then HEAD and GET of the two-line full
# catalogue, the seven daily files and the situation report from the local catalogue
# service (100,000 objects), against curl doing the same requests one after another.
# Best of three runs each, alternating, both timed from outside.
# ratio = ours_ms / baseline_ms (lower is better).
set -euo pipefail
build="${1:-build/bench}"
here="$(cd "$(dirname "$0")" && pwd)"
bin="$build/bench/download/download_bench"
work="$(mktemp -d)"
mkdir -p "$build/local-service"
coproc service { exec python3 "$here/../tools/local-service" --port 0 --objects 100000 \
  --data "$build/local-service" --watch-stdin; }
service_pid=$service_PID
trap 'kill "$service_pid" 2>/dev/null; rm -rf "$work"' EXIT
read -r port <&"${service[0]}"
read -r data <&"${service[0]}"
export QUILLMAREN_SERVICE_HOST="127.0.0.1:$port" QUILLMAREN_PUBLISHER_HOST="127.0.0.1:$port"
base="http://127.0.0.1:$port"
ids="1 101 102 103 104 105 106 107 25"

now_ms() { date +%s%N; }
elapsed() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.1f", (b - a) / 1e6 }'; }
lesser() { awk -v a="$1" -v b="$2" 'BEGIN { print (a == "" || b < a) ? b : a }'; }

best_ours="" best_curl="" rss=""
for _ in 1 2 3; do
  rm -rf "$work/ours"; mkdir -p "$work/ours/My TLEs"
  t0="$(now_ms)"
  line="$(cd "$work/ours" && "$OLDPWD/$bin" "$work/ours/My TLEs/")"
  t1="$(now_ms)"
  best_ours="$(lesser "$best_ours" "$(elapsed "$t0" "$t1")")"
  run_rss="$(sed -n 's/.*peak_rss_mb=\([0-9.]*\).*/\1/p' <<<"$line")"
  rss="$(awk -v a="$rss" -v b="$run_rss" 'BEGIN { print (a == "" || b > a) ? b : a }')"
  stored="$(find "$work/ours/My TLEs" -type f | wc -l)"
  [ "$stored" -eq 9 ] || { echo "bench download-run: stored $stored files, not 9" >&2; exit 1; }

  rm -rf "$work/curl"; mkdir -p "$work/curl"
  t0="$(now_ms)"
  curl -s -o /dev/null "$base/Skarvelin/criticalupdate.txt"
  curl -s -c "$work/curl/jar" -o /dev/null -d "username=observer&password=quillmaren&_submitted=1&_sessionid=&_submit=Submit" \
    "$base/perl/login.pl"
  for id in $ids; do
    curl -s -b "$work/curl/jar" -I -o /dev/null "$base/perl/dl.pl?ID=$id"
    curl -s -b "$work/curl/jar" -o "$work/curl/$id" "$base/perl/dl.pl?ID=$id"
  done
  t1="$(now_ms)"
  best_curl="$(lesser "$best_curl" "$(elapsed "$t0" "$t1")")"
  cmp -s "$work/curl/1" "$(find "$work/ours/My TLEs" -name 'catalog_2l_*')" \
    || { echo "bench download-run: catalogue differs from curl's" >&2; exit 1; }
done
awk -v o="$best_ours" -v b="$best_curl" -v r="$rss" \
  'BEGIN { printf "bench download-run ours_ms=%.1f baseline_ms=%.1f ratio=%.2f peak_rss_mb=%.1f\n", o, b, (b > 0 ? o / b : 0), r }'
