#!/usr/bin/env bash
# Installation engine benchmark: a whole update (make_update.py: 10
# components, 30 MSZIP cabinets) installed by SpawnDownloadThread under Wine
# into a fresh prefix, against curl fetching the same cabinets from the same
# server and cabtool extracting them, in interleaved runs; prints each run,
# the medians, their ratio, where the engine's time went and its peak memory,
# then how often the progress window hears of a download on a slow line.
# Usage: tools/bench/engine/engine_bench.sh [BUILD_DIR] [MB] [RUNS] [NATIVE_BUILD_DIR]
# ENGINE_BENCH_LOG=FILE keeps the last engine run's timed log there.
set -euo pipefail
shopt -s inherit_errexit
root=$(cd "$(dirname "$0")/../../.." && pwd)
build=${1:-$root/build/x86_64}
mb=${2:-50}
runs=${3:-5}
native=${4:-$root/build/native}
exe=$build/tools/bench/engine/engine_bench.exe
manager=$build/fixtures/Manager.exe
cabtool=$native/tools/cabtool/cabtool
wine=/usr/lib/wine/wine64
wineserver=/usr/lib/wine/wineserver64
for tool in curl gcab python3 Xvfb; do
  command -v "$tool" >/dev/null || { echo "engine_bench: $tool is not installed" >&2; exit 1; }
done
for file in "$exe" "$manager" "$cabtool"; do
  [ -f "$file" ] || { echo "engine_bench: build $(basename "$file") first ($file)" >&2; exit 1; }
done
template=$root/build/wine-template
[ -f "$template/.upgrade-template-ok" ] || "$root/tests/support/make-wine-template"

work=$(mktemp -d "${TMPDIR:-/tmp}/engine-bench.XXXXXX")
server_pid= xvfb_pid=
cleanup() {
  touch "$work/stop"
  if [ -n "$server_pid" ]; then
    # The server ends by itself once the stop file exists.
    for _ in $(seq 1 50); do kill -0 "$server_pid" 2>/dev/null || break; sleep 0.1; done
    kill "$server_pid" 2>/dev/null || true
  fi
  for prefix in "$work"/server "$work"/engine; do
    [ -d "$prefix" ] || continue
    WINEPREFIX="$prefix" "$wineserver" -k >/dev/null 2>&1 || true
    WINEPREFIX="$prefix" "$wineserver" -w >/dev/null 2>&1 || true
  done
  if [ -n "$xvfb_pid" ]; then kill "$xvfb_pid" 2>/dev/null || true; fi
  rm -rf "$work"
}
trap cleanup EXIT
winpath() { echo "Z:${1//\//\\}"; }

python3 "$root/tools/bench/engine/make_update.py" "$work/update" "$mb"
cabs=("$work"/update/cabs/*.cab)

# The engine makes windows (hidden or not): a display of its own.
Xvfb -displayfd 3 -nolisten tcp -screen 0 1024x768x24 3>"$work/display" 2>/dev/null &
xvfb_pid=$!
for _ in $(seq 1 100); do [ -s "$work/display" ] && break; sleep 0.05; done
[ -s "$work/display" ] || { echo "engine_bench: Xvfb did not start" >&2; exit 1; }
export DISPLAY=":$(head -n 1 "$work/display")" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="

# The server in a prefix of its own, for the whole benchmark.
cp -a "$template" "$work/server"
WINEPREFIX="$work/server" "$wine" "$exe" serve "$(winpath "$work/update/cabs")" \
  "$(winpath "$work/port")" "$(winpath "$work/stop")" >/dev/null 2>&1 &
server_pid=$!
for _ in $(seq 1 300); do [ -s "$work/port" ] && break; sleep 0.1; done
[ -s "$work/port" ] || { echo "engine_bench: the server did not start" >&2; exit 1; }
url="http://127.0.0.1:$(tr -d '\r\n' < "$work/port")"

# Every installed file must equal its source.
check_installed() {  # APP_DIR
  local kind dest cab size src
  while read -r kind dest cab size src; do
    [ "$kind" = file ] || continue
    cmp -s "$1/${dest//\\//}" "$work/update/src/$src" ||
      { echo "engine_bench: ${dest} was not installed right" >&2; return 1; }
  done < "$work/update/manifest.txt"
}

# One engine run in a fresh prefix, the manager fixture in its Bin folder.
# Prints "seconds ws_before ws_after private_before private_after" and leaves
# the run's timed log in $work/engine.log.
engine() {
  rm -rf "$work/engine"
  cp -a "$template" "$work/engine"
  local app=$work/engine/drive_c/bench/app
  mkdir -p "$app/Bin"
  cp "$manager" "$app/Bin/Manager.exe"
  local out
  out=$(WINEPREFIX="$work/engine" "$wine" "$exe" install "$url" \
        "$(winpath "$work/update/manifest.txt")" 'C:\bench\app\' "$(winpath "$work/engine.log")" \
        2>/dev/null | tr -d '\r') || { echo "engine_bench: the run failed: $out" >&2; return 1; }
  check_installed "$app"
  if [ -n "${ENGINE_BENCH_LOG:-}" ]; then cp "$work/engine.log" "$ENGINE_BENCH_LOG"; fi
  WINEPREFIX="$work/engine" "$wineserver" -k >/dev/null 2>&1 || true
  WINEPREFIX="$work/engine" "$wineserver" -w >/dev/null 2>&1 || true
  awk '/^seconds/ { print $2, $6, $7, $9, $10 }' <<< "$out"
}

# Where the engine's time went, from the timed log:
# "download unpack install restart installed", where installed is the time
# from the start until the last file was in place (the restart of the
# manager follows).
phases() {
  awk '
    { sub(/\r$/, "") }
    / Downloading file / && !dl { dl = $1 }
    $2 == "Done." && NF == 2 { done = $1 }
    / Deleting all files marked for deleting$/ { del = $1 }
    / Succeeded\. Deleting temporary file / { cp = $1 }
    { last = $1 }
    END { printf "%.3f %.3f %.3f %.3f %.3f\n", done - dl, del - done, cp - del, last - cp, cp }
  ' "$work/engine.log"
}

# The same cabinets fetched by curl and decoded by cabtool: "total curl cabtool".
reference() {
  rm -rf "$work/ref"
  mkdir -p "$work/ref"
  local args=() cab t0 t1 t2
  for cab in "${cabs[@]}"; do args+=("$url/$(basename "$cab")" -o "$work/ref/$(basename "$cab")"); done
  t0=$(date +%s.%N)
  curl -s --fail "${args[@]}"
  t1=$(date +%s.%N)
  for cab in "${cabs[@]}"; do
    mkdir "$work/ref/${cab##*/}.d"
    "$cabtool" extract "$work/ref/${cab##*/}" "$work/ref/${cab##*/}.d" >/dev/null
  done
  t2=$(date +%s.%N)
  awk -v a="$t0" -v b="$t1" -v c="$t2" 'BEGIN { printf "%.3f %.3f %.3f\n", c - a, b - a, c - b }'
}

# One warm-up of each (page cache, Wine's first start), not counted; it also
# checks that both sides produced the same members.
reference >/dev/null
for cab in "${cabs[@]}"; do
  name=$(basename "$cab" .cab)
  diff -rq "$work/ref/$name.cab.d" "$work/update/src/$name" >/dev/null ||
    { echo "engine_bench: cabtool's $name differs from its sources" >&2; exit 1; }
done
engine >/dev/null

ref_times=() curl_times=() cab_times=() eng_times=() phase_rows=() last=
for i in $(seq 1 "$runs"); do
  if [ $((i % 2)) = 1 ]; then
    r=$(reference); last=$(engine)
  else
    last=$(engine); r=$(reference)
  fi
  e=${last%% *}
  p=$(phases)
  read -r rt ct xt <<< "$r"
  echo "run $i: curl+cabtool ${rt}s (curl ${ct}s cabtool ${xt}s)  engine ${e}s" \
       "(download unpack install restart installed: $p)"
  ref_times+=("$rt") curl_times+=("$ct") cab_times+=("$xt") eng_times+=("$e") phase_rows+=("$p")
done

median() { printf '%s\n' "$@" | sort -g | awk '{ a[NR] = $1 } END { print a[int((NR + 1) / 2)] }'; }
field() { local n=$1; shift; median $(printf '%s\n' "$@" | awk -v n="$n" '{ print $n }'); }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }
mr=$(median "${ref_times[@]}")
me=$(median "${eng_times[@]}")
mi=$(field 5 "${phase_rows[@]}")
echo "update: $mb MB, ${#cabs[@]} cabinets, $runs runs"
echo "median curl+cabtool: ${mr}s (curl $(median "${curl_times[@]}")s, cabtool $(median "${cab_times[@]}")s)"
echo "median engine until the last file is in place: ${mi}s  ratio: $(ratio "$mi" "$mr")"
echo "median engine with the manager's restart: ${me}s  ratio: $(ratio "$me" "$mr")"
echo "median engine phases: download $(field 1 "${phase_rows[@]}")s" \
     "unpack $(field 2 "${phase_rows[@]}")s install $(field 3 "${phase_rows[@]}")s" \
     "restart $(field 4 "${phase_rows[@]}")s"
read -r _ ws0 ws1 pv0 pv1 <<< "$last"
echo "engine peak memory: working set ${ws0} -> ${ws1} KiB, private ${pv0} -> ${pv1} KiB"

# A slow line: 300 KB in 2000-byte pieces 20 ms apart; how often the
# progress window heard of it.
mkdir -p "$work/slow"
python3 -c 'import random, sys; sys.stdout.buffer.write(random.Random(5).randbytes(300000))' \
  > "$work/slow/Slow.bin"
(cd "$work/slow" && gcab -c -z ../slow.cab Slow.bin)
rm -rf "$work/engine"
cp -a "$template" "$work/engine"
slow=$(WINEPREFIX="$work/engine" "$wine" "$exe" slow "$(winpath "$work/slow.cab")" Slow.bin \
       'C:\slow\' 2>/dev/null | tr -d '\r') || { echo "engine_bench: the slow run failed: $slow" >&2; exit 1; }
cmp -s "$work/engine/drive_c/slow/Slow.bin" "$work/slow/Slow.bin" ||
  { echo "engine_bench: the slow run did not install its file" >&2; exit 1; }
awk '{ printf "slow line: %s bytes, run %s s, %s progress messages, longest wait for one %s ms\n", $6, $2, $8, $10 }' <<< "$slow"
