#!/bin/bash
# The whole unattended job: "quillmaren -update" of the optimised build, without a
# display, in a fresh home against the local catalogue service (two-line full catalogue
# and situation report, every data set and the comprehensive catalogue, debug logging
# off), at 10,000 and 100,000 objects. Floor: curl making the same requests (two
# processes), "unzip -p" of the catalogue and the report, and cp of the catalogue text.
# ours_ms is the program's wall time less the 5 seconds the update mode waits after
# start-up by design; best of three runs each, alternating; peak RSS from /usr/bin/time.
# ratio = ours_ms / baseline_ms (lower is better).
set -euo pipefail
build="${1:-build/bench}"
here="$(cd "$(dirname "$0")" && pwd)"
program="$build/src/app/quillmaren"
work="$(mktemp -d)"
service_pid=""
trap '[ -n "$service_pid" ] && kill "$service_pid" 2>/dev/null; rm -rf "$work"' EXIT
mkdir -p "$build/local-service"

now_ns() { date +%s%N; }
ms_since() { awk -v a="$1" -v b="$(now_ns)" -v less="${2:-0}" 'BEGIN { printf "%.1f", (b - a) / 1e6 - less }'; }
lesser() { awk -v a="$1" -v b="$2" 'BEGIN { print (a == "" || b < a) ? b : a }'; }
greater() { awk -v a="$1" -v b="$2" 'BEGIN { print (a == "" || b > a) ? b : a }'; }

categories="tle-new stations visual weather noaa goes resource dmc tdrss sarsat geo intelsat gorizont raduga molniya
  iridium orbcomm globalst amateur x-comm other-comm gps-ops glo-ops galileo sbas nnss musson science geodetic
  engineer education military radar cubesat other"
keys=("Last 30 Days" "International Space Station" "100 Brightest" "Weather" "NOAA" "GOES" "Earth Resources"
  "Disaster Monitoring" "TDRSS" "SARSAT" "Geostationary" "Intelsat" "Gorizont" "Raduga" "Molniya" "Iridium"
  "Orbcomm" "Globalstar" "Amateur Radio" "Experimental" "Other Comm" "GPS Ops" "GLONASS Ops" "Galileo" "SBAS"
  "NNSS" "Russian LEO Navigation" "Space & Earth Science" "Geodetic" "Engineering" "Education"
  "Miscellaneous Military" "Radar Calibration" "CubeSats" "Other" "All")

# A fresh home: a copy of the program with its settings beside it, an empty documents folder.
prepare_home() {
  local home="$1"
  rm -rf "$home"
  mkdir -p "$home/bin" "$home/work" "$home/config" "$home/Documents"
  cp "$program" "$home/bin/quillmaren"
  {
    printf '[Skarvelin Account Info]\nUsername=observer\nPassword=quillmaren\n'
    printf '[Skarvelin Defaults]\nData Format=0\nFull Catalog=1\nComplete Data Files=1\nSpace Situation Report=0\n'
    printf '[Vantoreal Defaults]\n'
    for key in "${keys[@]}"; do printf '%s=1\n' "$key"; done
    printf '[Debugging]\nDebug On=0\n'
  } > "$home/bin/quillmaren.ini"
}

for objects in 10000 100000; do
  coproc service { exec python3 "$here/../tools/local-service" --port 0 --objects "$objects" \
    --data "$build/local-service" --watch-stdin; }
  service_pid=$service_PID
  read -r port <&"${service[0]}"
  read -r data <&"${service[0]}"
  base="http://127.0.0.1:$port"

  best_ours="" best_floor="" rss=""
  for _ in 1 2 3; do
    home="$work/home"
    prepare_home "$home"
    t0="$(now_ns)"
    (cd "$home/work" && env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM HOME="$home" \
      XDG_CONFIG_HOME="$home/config" QUILLMAREN_SERVICE_HOST="127.0.0.1:$port" \
      QUILLMAREN_PUBLISHER_HOST="127.0.0.1:$port" /usr/bin/time -f '%M' -o "$work/rss" "$home/bin/quillmaren" -update)
    best_ours="$(lesser "$best_ours" "$(ms_since "$t0" 5000)")"
    rss="$(greater "$rss" "$(awk '{ printf "%.1f", $1 / 1024 }' "$work/rss")")"
    sets="$(find "$home/Documents/My TLEs/Vantoreal" -name '*.txt' | wc -l)"
    [ "$sets" -eq 36 ] || { echo "bench update-e2e-$objects: $sets data sets, not 36" >&2; exit 1; }

    floor="$work/floor"
    rm -rf "$floor"; mkdir -p "$floor"
    t0="$(now_ns)"
    curl -s -o /dev/null "$base/Skarvelin/criticalupdate.txt" --next -s -c "$floor/jar" -o /dev/null \
      -d "username=observer&password=quillmaren&_submitted=1&_sessionid=&_submit=Submit" "$base/perl/login.pl"
    args=(-s -b "$floor/jar" -I -o /dev/null "$base/perl/dl.pl?ID=1" --next -s -b "$floor/jar" -o "$floor/catalog.zip"
      "$base/perl/dl.pl?ID=1" --next -s -b "$floor/jar" -I -o /dev/null "$base/perl/dl.pl?ID=25" --next -s
      -b "$floor/jar" -o "$floor/ssr.zip" "$base/perl/dl.pl?ID=25" --next -s -o /dev/null
      "$base/Skarvelin/criticalupdate.txt")
    for name in $categories; do
      args+=(--next -s -o "$floor/$name.txt" "$base/Skarvelin/query/$name.txt")
    done
    curl "${args[@]}"
    unzip -p "$floor/catalog.zip" > "$floor/catalog.txt"
    unzip -p "$floor/ssr.zip" > "$floor/ssr.txt"
    cp "$floor/catalog.txt" "$floor/copy.txt"
    best_floor="$(lesser "$best_floor" "$(ms_since "$t0")")"
    cmp -s "$floor/catalog.zip" "$home/Documents/My TLEs/2024/catalog/catalog_2l_20241231.zip" \
      || { echo "bench update-e2e-$objects: catalogue differs from curl's" >&2; exit 1; }
  done
  kill "$service_pid" 2>/dev/null || true
  wait "$service_pid" 2>/dev/null || true
  service_pid=""
  awk -v n="$objects" -v o="$best_ours" -v b="$best_floor" -v r="$rss" 'BEGIN {
    printf "bench update-e2e-%d ours_ms=%.1f baseline_ms=%.1f ratio=%.2f peak_rss_mb=%.1f\n", n, o, b, (b > 0 ? o / b : 0), r }'
done
