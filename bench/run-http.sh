#!/bin/bash
# Receives a 256 MiB body from a loopback server into a file, with the HTTP exchange
# and with curl from the same server; best of three runs each, alternating.
# ratio = ours_ms / baseline_ms (lower is better).
set -euo pipefail
build="${1:-build/bench}"
server="$build/bench/http/http_bench_server"
client="$build/bench/http/http_bench_receive"
size=$((256 * 1024 * 1024))
work="$(mktemp -d)"
"$server" "$size" >"$work/port" &
server_pid=$!
trap 'kill "$server_pid" 2>/dev/null; rm -rf "$work"' EXIT
for _ in $(seq 100); do
  [ -s "$work/port" ] && break
  sleep 0.05
done
url="http://127.0.0.1:$(head -n1 "$work/port")/catalog.zip"

best_ours="" best_curl="" rss=""
for _ in 1 2 3; do
  # Both timed from outside, process start included, so neither side is favoured.
  start=$(date +%s%N)
  line="$("$client" "$url" "$work/ours.bin")"
  stop=$(date +%s%N)
  ms=$(awk "BEGIN{printf \"%.1f\", ($stop - $start) / 1e6}")
  run_rss="$(sed -n 's/.*peak_rss_mb=\([0-9.]*\).*/\1/p' <<<"$line")"
  [ "$(stat -c %s "$work/ours.bin")" -eq "$size" ] || { echo "bench http-receive: short body" >&2; exit 1; }
  rm -f "$work/ours.bin"
  start=$(date +%s%N)
  curl -s -o "$work/curl.bin" "$url"
  stop=$(date +%s%N)
  [ "$(stat -c %s "$work/curl.bin")" -eq "$size" ] || { echo "bench http-receive: curl short body" >&2; exit 1; }
  rm -f "$work/curl.bin"
  curl_ms=$(awk "BEGIN{printf \"%.1f\", ($stop - $start) / 1e6}")
  if [ -z "$best_ours" ] || awk "BEGIN{exit !($ms < $best_ours)}"; then best_ours=$ms; fi
  if [ -z "$best_curl" ] || awk "BEGIN{exit !($curl_ms < $best_curl)}"; then best_curl=$curl_ms; fi
  if [ -z "$rss" ] || awk "BEGIN{exit !($run_rss > $rss)}"; then rss=$run_rss; fi
done
ratio=$(awk "BEGIN{printf \"%.2f\", $best_ours / ($best_curl > 0 ? $best_curl : 0.1)}")
echo "bench http-receive ours_ms=$best_ours baseline_ms=$best_curl ratio=$ratio peak_rss_mb=$rss"
