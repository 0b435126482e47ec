#!/bin/bash
# Receives a 256 MiB body from a loopback server into a file, with the HTTP exchange
# and with curl from the same server; best of three runs each, alternating. Once over
# plain HTTP (http-receive) and once over TLS (http-receive-tls), both clients checking
# the server's certificate against the same CA file.
# ratio = ours_ms / baseline_ms (lower is better).
set -euo pipefail
build="${1:-build/bench}"
server="$build/bench/http/http_bench_server"
client="$build/bench/http/http_bench_receive"
size=$((256 * 1024 * 1024))
work="$(mktemp -d)"
pids=()
trap 'for p in "${pids[@]}"; do kill "$p" 2>/dev/null; done; rm -rf "$work"' EXIT

# start_server <port file> [certificate key]: sets $port once the server listens. Not in
# a subshell, so that the exit trap knows every server.
start_server() {
  local port_file="$1"
  shift
  "$server" "$size" "$@" >"$port_file" &
  pids+=($!)
  for _ in $(seq 100); do
    [ -s "$port_file" ] && break
    sleep 0.05
  done
  port=$(head -n1 "$port_file")
}

ms_since() {
  awk "BEGIN{printf \"%.1f\", ($(date +%s%N) - $1) / 1e6}"
}

# measure <name> <url> <curl switches...>
measure() {
  local name="$1" url="$2"
  shift 2
  local best_ours="" best_curl="" rss="" start line ms run_rss curl_ms
  for _ in 1 2 3; do
    # Both timed from outside, process start included, so neither side is favoured.
    start=$(date +%s%N)
    line="$("$client" "$url" "$work/ours.bin")"
    ms=$(ms_since "$start")
    run_rss="$(sed -n 's/.*peak_rss_mb=\([0-9.]*\).*/\1/p' <<<"$line")"
    [ "$(stat -c %s "$work/ours.bin")" -eq "$size" ] || { echo "bench $name: short body" >&2; exit 1; }
    rm -f "$work/ours.bin"
    start=$(date +%s%N)
    curl -s "$@" -o "$work/curl.bin" "$url"
    curl_ms=$(ms_since "$start")
    [ "$(stat -c %s "$work/curl.bin")" -eq "$size" ] || { echo "bench $name: curl short body" >&2; exit 1; }
    rm -f "$work/curl.bin"
    if [ -z "$best_ours" ] || awk "BEGIN{exit !($ms < $best_ours)}"; then best_ours=$ms; fi
    if [ -z "$best_curl" ] || awk "BEGIN{exit !($curl_ms < $best_curl)}"; then best_curl=$curl_ms; fi
    if [ -z "$rss" ] || awk "BEGIN{exit !($run_rss > $rss)}"; then rss=$run_rss; fi
  done
  local ratio
  ratio=$(awk "BEGIN{printf \"%.2f\", $best_ours / ($best_curl > 0 ? $best_curl : 0.1)}")
  echo "bench $name ours_ms=$best_ours baseline_ms=$best_curl ratio=$ratio peak_rss_mb=$rss"
}

start_server "$work/port"
measure http-receive "http://127.0.0.1:$port/catalog.zip"

openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -days 2 -subj /CN=127.0.0.1 \
  -addext subjectAltName=IP:127.0.0.1 -keyout "$work/key.pem" -out "$work/cert.pem" 2>/dev/null
start_server "$work/tls-port" "$work/cert.pem" "$work/key.pem"
QUILLMAREN_CA_FILE="$work/cert.pem" measure http-receive-tls "https://127.0.0.1:$port/catalog.zip" \
  --cacert "$work/cert.pem"
