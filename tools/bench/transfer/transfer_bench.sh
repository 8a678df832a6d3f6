#!/usr/bin/env bash
# Download benchmark: DownloadToFile under Wine against curl -o, both fetching
# the same file from the test HTTP server (a Wine process on 127.0.0.1), in
# interleaved runs; prints each run, the medians, their ratio and the
# downloader's peak memory for the large file and for a 1 MiB one.
# Usage: tools/bench/transfer/transfer_bench.sh [BUILD_DIR] [MIB] [RUNS]
set -euo pipefail
root=$(cd "$(dirname "$0")/../../.." && pwd)
build=${1:-$root/build/x86_64}
mib=${2:-100}
runs=${3:-5}
exe=$build/tools/bench/transfer/transfer_bench.exe
wine=/usr/lib/wine/wine64
wineserver=/usr/lib/wine/wineserver64
command -v curl >/dev/null || { echo "transfer_bench: curl is not installed" >&2; exit 1; }
[ -f "$exe" ] || { echo "transfer_bench: build transfer_bench first ($exe)" >&2; exit 1; }
template=$root/build/wine-template
[ -f "$template/.upgrade-template-ok" ] || "$root/tests/support/make-wine-template"

work=$(mktemp -d "${TMPDIR:-/tmp}/transfer-bench.XXXXXX")
server_pid=
cleanup() {
  touch "$work/stop"
  if [ -n "$server_pid" ]; then
    # The server ends by itself once the stop file exists.
    for _ in $(seq 1 50); do kill -0 "$server_pid" 2>/dev/null || break; sleep 0.1; done
    kill "$server_pid" 2>/dev/null || true
  fi
  WINEPREFIX="$work/prefix" "$wineserver" -k >/dev/null 2>&1 || true
  WINEPREFIX="$work/prefix" "$wineserver" -w >/dev/null 2>&1 || true
  rm -rf "$work"
}
trap cleanup EXIT
cp -a "$template" "$work/prefix"
export WINEPREFIX="$work/prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
winpath() { echo "Z:${1//\//\\}"; }

"$wine" "$exe" serve $((mib * 1048576)) "$(winpath "$work/port")" "$(winpath "$work/stop")" \
  >/dev/null 2>&1 &
server_pid=$!
for _ in $(seq 1 300); do [ -s "$work/port" ] && break; sleep 0.1; done
[ -s "$work/port" ] || { echo "transfer_bench: the server did not start" >&2; exit 1; }
url="http://127.0.0.1:$(tr -d '\r\n' < "$work/port")"

fetch() {  # URL -> "seconds peak_ws_before peak_ws_after peak_private_before peak_private_after"
  "$wine" "$exe" fetch "$1" "$(winpath "$work/wine.bin")" 2>/dev/null |
    awk '/^seconds/ { print $2, $6, $7, $9, $10 }'
}
curl_time() {
  curl -s -o "$work/curl.bin" -w '%{time_total}\n' "$1"
}

# One warm-up of each (page cache, Wine's first start), not counted.
curl_time "$url/big.bin" >/dev/null
fetch "$url/big.bin" >/dev/null
cmp -s "$work/curl.bin" "$work/wine.bin" || { echo "transfer_bench: downloads differ" >&2; exit 1; }

curl_times=() wine_times=() last=
for i in $(seq 1 "$runs"); do
  if [ $((i % 2)) = 1 ]; then
    c=$(curl_time "$url/big.bin"); last=$(fetch "$url/big.bin")
  else
    last=$(fetch "$url/big.bin"); c=$(curl_time "$url/big.bin")
  fi
  w=${last%% *}
  echo "run $i: curl ${c}s DownloadToFile ${w}s"
  curl_times+=("$c") wine_times+=("$w")
done
small=$(fetch "$url/small.bin")

median() { printf '%s\n' "$@" | sort -g | awk '{ a[NR] = $1 } END { print a[int((NR + 1) / 2)] }'; }
mc=$(median "${curl_times[@]}")
mw=$(median "${wine_times[@]}")
echo "file: $mib MiB, $runs runs"
echo "median curl: ${mc}s  median DownloadToFile: ${mw}s  ratio: $(awk -v a="$mw" -v b="$mc" 'BEGIN { printf "%.2f", a / b }')"
read -r _ ws0 ws1 pv0 pv1 <<< "$last"
echo "peak memory, $mib MiB file: working set ${ws0} -> ${ws1} KiB, private ${pv0} -> ${pv1} KiB"
read -r _ ws0 ws1 pv0 pv1 <<< "$small"
echo "peak memory, 1 MiB file:   working set ${ws0} -> ${ws1} KiB, private ${pv0} -> ${pv1} KiB"
