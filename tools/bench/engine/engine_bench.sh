#!/usr/bin/env bash
# Installation engine benchmark: a whole update (make_update.py: 10
# components, 30 MSZIP cabinets) served by nginx (HTTP/1.1, keep-alive) and
# installed by SpawnDownloadThread under Wine into a fresh prefix, against
# the same work done by the shell: one curl command for all the cabinets,
# cabtool extracting each into a staging folder, and a copy of every member
# into its destination folder; interleaved runs. Prints each run, the
# medians, their ratio, how many connections each side used, where the
# engine's time went and its peak memory, then how often the progress window
# hears of a download on a slow line.
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
template=${UPGRADE_WINE_TEMPLATE:-$root/build/wine-template}
[ -f "$template/.upgrade-template-ok" ] || "$root/tests/support/make-wine-template"

# shellcheck source=SCRIPTDIR/../web_server.sh
source "$root/tools/bench/web_server.sh"

work=$(mktemp -d "${TMPDIR:-/tmp}/engine-bench.XXXXXX")
xvfb_pid=
cleanup() {
  web_server_stop
  if [ -d "$work/engine" ]; then
    WINEPREFIX="$work/engine" "$wineserver" -k >/dev/null 2>&1 || true
    WINEPREFIX="$work/engine" "$wineserver" -w >/dev/null 2>&1 || true
  fi
  if [ -n "$xvfb_pid" ]; then kill "$xvfb_pid" 2>/dev/null || true; fi
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM HUP
winpath() { echo "Z:${1//\//\\}"; }

python3 "$root/tools/bench/engine/make_update.py" "$work/update" "$mb"
cabs=("$work"/update/cabs/*.cab)

# The engine makes windows (hidden or not): a display of its own.
Xvfb -displayfd 3 -nolisten tcp -screen 0 1024x768x24 3>"$work/display" 2>/dev/null &
xvfb_pid=$!
for _ in $(seq 1 100); do [ -s "$work/display" ] && break; sleep 0.05; done
[ -s "$work/display" ] || { echo "engine_bench: Xvfb did not start" >&2; exit 1; }
export DISPLAY=":$(head -n 1 "$work/display")" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="

# The cabinets from a real web server that keeps connections alive, for
# the whole benchmark.
web_server_start "$work/nginx" "$work/update/cabs"
url=$web_server_url

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
# Prints "seconds ws_before ws_after private_before private_after requests
# connections" and leaves the run's timed log in $work/engine.log.
engine() {
  rm -rf "$work/engine"
  cp -a "$template" "$work/engine"
  local app=$work/engine/drive_c/bench/app
  mkdir -p "$app/Bin"
  cp "$manager" "$app/Bin/Manager.exe"
  local out
  web_server_mark
  out=$(WINEPREFIX="$work/engine" "$wine" "$exe" install "$url" \
        "$(winpath "$work/update/manifest.txt")" 'C:\bench\app\' "$(winpath "$work/engine.log")" \
        2>/dev/null | tr -d '\r') || { echo "engine_bench: the run failed: $out" >&2; return 1; }
  check_installed "$app"
  if [ -n "${ENGINE_BENCH_LOG:-}" ]; then cp "$work/engine.log" "$ENGINE_BENCH_LOG"; fi
  WINEPREFIX="$work/engine" "$wineserver" -k >/dev/null 2>&1 || true
  WINEPREFIX="$work/engine" "$wineserver" -w >/dev/null 2>&1 || true
  local conn
  conn=$(web_server_connections .cab)
  awk -v conn="$conn" '/^seconds/ { print $2, $6, $7, $9, $10, conn }' <<< "$out"
}

# Where the engine's time went, from the timed log:
# "download unpack install restart installed bodies between", where
# installed is the time from the start until the last file was in place (the
# restart of the manager follows), and the download splits into the bodies'
# transfers (from each "Downloading" line to its "Done.") and what lies
# between one download's end and the next one's start (the next request and
# its answer among it).
phases() {
  awk '
    { sub(/\r$/, "") }
    / Downloading file / { if (!dl) dl = $1; if (done) between += $1 - done; start = $1 }
    $2 == "Done." && NF == 2 { done = $1; bodies += $1 - start }
    / Deleting all files marked for deleting$/ { del = $1 }
    / Succeeded\. Deleting temporary file / { cp = $1 }
    { last = $1 }
    END { printf "%.3f %.3f %.3f %.3f %.3f %.3f %.3f\n", done - dl, del - done, cp - del,
          last - cp, cp, bodies, between }
  ' "$work/engine.log"
}

# Where the reference puts each member: one copy command per destination
# folder (the engine's folders: Comp0..Comp9 and Shared), each member once.
awk -v staging="$work/ref" '
  $1 != "file" || seen[$2]++ { next }
  {
    dest = $2; gsub(/\\/, "/", dest)
    folder = dest; sub(/\/[^\/]*$/, "", folder)
    member = dest; sub(/^.*\//, "", member)
    files[folder] = files[folder] " \"" staging "/" $3 ".d/" member "\""
  }
  END {
    for (f in files) {
      print "mkdir -p \"$refapp/" f "\""
      print "cp -t \"$refapp/" f "\"" files[f]
    }
  }' "$work/update/manifest.txt" > "$work/copy.sh"

# The same work done by the shell: one curl command for every cabinet (one
# connection), cabtool extracting each into a staging folder, and a copy of
# every member into its destination folder. "total curl cabtool copy
# requests connections".
reference() {
  rm -rf "$work/ref" "$work/refapp"
  mkdir -p "$work/ref"
  local args=() cab t0 t1 t2 t3 refapp=$work/refapp
  for cab in "${cabs[@]}"; do args+=("$url/$(basename "$cab")" -o "$work/ref/$(basename "$cab")"); done
  web_server_mark
  t0=$(date +%s.%N)
  curl -s --fail "${args[@]}"
  t1=$(date +%s.%N)
  for cab in "${cabs[@]}"; do
    mkdir "$work/ref/${cab##*/}.d"
    "$cabtool" extract "$work/ref/${cab##*/}" "$work/ref/${cab##*/}.d" >/dev/null
  done
  t2=$(date +%s.%N)
  # shellcheck source=/dev/null
  source "$work/copy.sh"
  t3=$(date +%s.%N)
  local conn
  conn=$(web_server_connections .cab)
  awk -v a="$t0" -v b="$t1" -v c="$t2" -v d="$t3" -v conn="$conn" \
    'BEGIN { printf "%.3f %.3f %.3f %.3f %s\n", d - a, b - a, c - b, d - c, conn }'
}

# One warm-up of each (page cache, Wine's first start), not counted; it also
# checks that both sides produced the same members.
reference >/dev/null
for cab in "${cabs[@]}"; do
  name=$(basename "$cab" .cab)
  diff -rq "$work/ref/$name.cab.d" "$work/update/src/$name" >/dev/null ||
    { echo "engine_bench: cabtool's $name differs from its sources" >&2; exit 1; }
done
check_installed "$work/refapp" || { echo "engine_bench: the reference's copies are wrong" >&2; exit 1; }
engine >/dev/null

ref_times=() curl_times=() cab_times=() copy_times=() eng_times=() phase_rows=() last=
for i in $(seq 1 "$runs"); do
  if [ $((i % 2)) = 1 ]; then
    r=$(reference); last=$(engine)
  else
    last=$(engine); r=$(reference)
  fi
  e=${last%% *}
  p=$(phases)
  read -r rt ct xt yt rreq rcon <<< "$r"
  read -r _ _ _ _ _ ereq econ <<< "$last"
  echo "run $i: reference ${rt}s (curl ${ct}s cabtool ${xt}s copies ${yt}s; $rreq requests" \
       "on $rcon connections)  engine ${e}s (download unpack install restart installed bodies" \
       "between: $p;" \
       "$ereq requests on $econ connections)"
  ref_times+=("$rt") curl_times+=("$ct") cab_times+=("$xt") copy_times+=("$yt")
  eng_times+=("$e") phase_rows+=("$p")
done

median() { printf '%s\n' "$@" | sort -g | awk '{ a[NR] = $1 } END { print a[int((NR + 1) / 2)] }'; }
field() { local n=$1; shift; median $(printf '%s\n' "$@" | awk -v n="$n" '{ print $n }'); }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }
mr=$(median "${ref_times[@]}")
me=$(median "${eng_times[@]}")
mi=$(field 5 "${phase_rows[@]}")
echo "update: $mb MB, ${#cabs[@]} cabinets, $runs runs"
echo "median reference: ${mr}s (curl $(median "${curl_times[@]}")s, cabtool" \
     "$(median "${cab_times[@]}")s, copies $(median "${copy_times[@]}")s)"
echo "median engine until the last file is in place: ${mi}s  ratio: $(ratio "$mi" "$mr")"
echo "median engine with the manager's restart: ${me}s  ratio: $(ratio "$me" "$mr")"
echo "median engine phases: download $(field 1 "${phase_rows[@]}")s" \
     "unpack $(field 2 "${phase_rows[@]}")s install $(field 3 "${phase_rows[@]}")s" \
     "restart $(field 4 "${phase_rows[@]}")s; the download's bodies $(field 6 "${phase_rows[@]}")s," \
     "between downloads $(field 7 "${phase_rows[@]}")s"
read -r _ ws0 ws1 pv0 pv1 _ <<< "$last"
echo "engine peak memory: working set ${ws0} -> ${ws1} KiB, private ${pv0} -> ${pv1} KiB"

# A diagnostic: the same cabinets fetched by WinINet alone (one thread, one
# connection handle, no transfer layer), with reads of what has arrived as
# the engine makes them, the same with each cabinet queued to the engine's
# unpacking thread as its download ends, the same with each request sent
# from a thread of its own, and with reads of 256 KiB; medians of 3 runs
# each.
mkdir -p "$work/wininet"
wininet() {  # READ [unpack]
  local out conn
  web_server_mark
  out=$(WINEPREFIX="$work/engine" "$wine" "$exe" wininet "$url" \
        "$(winpath "$work/update/manifest.txt")" "$(winpath "$work/wininet")" "$@" \
        2>/dev/null | tr -d '\r') || { echo "engine_bench: the WinINet run failed: $out" >&2; return 1; }
  conn=$(web_server_connections .cab)
  awk -v conn="$conn" '/^wininet/ { print $2, $4, $6, $8, conn }' <<< "$out"
}
for variant in "0" "0 unpack" "0 thread" "262144"; do
  rows=()
  # shellcheck disable=SC2086
  for _ in 1 2 3; do rows+=("$(wininet $variant)"); done
  read -r _ _ _ nreads nreq ncon <<< "${rows[0]}"
  case $variant in
    0) what="reads of what has arrived" ;;
    "0 unpack") what="reads of what has arrived, unpacking meanwhile" ;;
    "0 thread") what="reads of what has arrived, each request sent from a new thread" ;;
    *) what="reads of $variant bytes" ;;
  esac
  echo "WinINet alone, $what: $(field 1 "${rows[@]}")s (requests $(field 2 "${rows[@]}")s," \
       "bodies $(field 3 "${rows[@]}")s, $nreads reads; $nreq requests on $ncon connections)"
done
WINEPREFIX="$work/engine" "$wineserver" -k >/dev/null 2>&1 || true
WINEPREFIX="$work/engine" "$wineserver" -w >/dev/null 2>&1 || true

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
