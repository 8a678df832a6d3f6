#!/usr/bin/env bash
# Quiet-check benchmark: the real Upgrade.exe /q "/URL:..." started from an
# installation that is up to date with a catalogue of 30 components (so it
# offers nothing and ends with 0), against a do-nothing GUI program that
# imports what Upgrade.exe imports (quiet_twin) plus one curl of the same
# catalogue cabinet, in interleaved runs under Wine in one prefix; the
# cabinet comes from nginx (HTTP/1.1, keep-alive). Prints each run, the
# medians, their ratio and one run's log with the time of every line.
# Usage: tools/bench/quiet/quiet_bench.sh [BUILD_DIR] [RUNS]
# QUIET_BENCH_LOG=FILE keeps the timed log there. QUIET_BENCH_BUSY=1 keeps one
# core busy meanwhile (a diagnostic: on an idle virtual machine every wake-up
# of a halted core is slow, and the check waits for the Wine server often).
set -euo pipefail
shopt -s inherit_errexit
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../../.." && pwd)
build=${1:-$root/build/x86_64}
runs=${2:-5}
helper=$build/tools/bench/quiet/quiet_bench.exe
noop=$build/tools/bench/quiet/quiet_noop.exe
twin=$build/tools/bench/quiet/quiet_twin.exe
upgrade=$build/Upgrade.exe
manager=$build/fixtures/Manager.exe
wine=/usr/lib/wine/wine64
wineserver=/usr/lib/wine/wineserver64
for tool in curl gcab python3 Xvfb; do
  command -v "$tool" >/dev/null || { echo "quiet_bench: $tool is not installed" >&2; exit 1; }
done
for file in "$helper" "$noop" "$twin" "$upgrade" "$manager"; do
  [ -f "$file" ] || { echo "quiet_bench: build $(basename "$file") first ($file)" >&2; exit 1; }
done
template=${UPGRADE_WINE_TEMPLATE:-$root/build/wine-template}
[ -f "$template/.upgrade-template-ok" ] || "$root/tests/support/make-wine-template"

# shellcheck source=SCRIPTDIR/../web_server.sh
source "$root/tools/bench/web_server.sh"

work=$(mktemp -d "${TMPDIR:-/tmp}/quiet-bench.XXXXXX")
idle_pid= xvfb_pid= busy_pid=
cleanup() {
  touch "$work/stop"
  web_server_stop
  if [ -n "$idle_pid" ]; then
    # The idle process ends by itself once the stop file exists.
    for _ in $(seq 1 50); do kill -0 "$idle_pid" 2>/dev/null || break; sleep 0.1; done
    kill "$idle_pid" 2>/dev/null || true
  fi
  if [ -d "$work/prefix" ]; then
    WINEPREFIX="$work/prefix" "$wineserver" -k >/dev/null 2>&1 || true
    WINEPREFIX="$work/prefix" "$wineserver" -w >/dev/null 2>&1 || true
  fi
  if [ -n "$xvfb_pid" ]; then kill "$xvfb_pid" 2>/dev/null || true; fi
  if [ -n "$busy_pid" ]; then kill "$busy_pid" 2>/dev/null || true; fi
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM HUP
winpath() { echo "Z:${1//\//\\}"; }

Xvfb -displayfd 3 -nolisten tcp -screen 0 1024x768x24 3>"$work/display" 2>/dev/null &
xvfb_pid=$!
for _ in $(seq 1 100); do [ -s "$work/display" ] && break; sleep 0.05; done
[ -s "$work/display" ] || { echo "quiet_bench: Xvfb did not start" >&2; exit 1; }
cp -a "$template" "$work/prefix"
export DISPLAY=":$(head -n 1 "$work/display")" WINEPREFIX="$work/prefix" WINEDEBUG=-all \
  WINEDLLOVERRIDES="mscoree,mshtml="

# The installation and the catalogue cabinet (MSZIP, as published).
app='C:\Pellory Bench\'
mkdir "$work/catalogue"
"$wine" "$helper" prepare "$(winpath "$work/catalogue")" "$app" "$(winpath "$upgrade")" \
  "$(winpath "$manager")" 2>/dev/null | tr -d '\r' > "$work/prepared" ||
  { echo "quiet_bench: the installation could not be prepared" >&2; exit 1; }
(cd "$work/catalogue" && gcab -c -z "$work/PM_Install.cab" "PM Install1.INF" *.bmp)
cab_bytes=$(stat -c %s "$work/PM_Install.cab")

# The catalogue from a real web server that keeps connections alive.
mkdir -p "$work/site/PM50/Quoma"
cp "$work/PM_Install.cab" "$work/site/PM50/Quoma/PM_InstallQuoma.cab"
web_server_start "$work/nginx" "$work/site"
url="$web_server_url/PM50/Quoma/PM_InstallQuoma.cab"
# A process stays in the prefix for the whole benchmark, as the manager does
# on a user's machine: no run pays for starting the Wine server and the
# prefix's system processes.
"$wine" "$helper" idle "$(winpath "$work/stop")" >/dev/null 2>&1 &
idle_pid=$!
sleep 1
kill -0 "$idle_pid" 2>/dev/null || { echo "quiet_bench: the idle process did not start" >&2; exit 1; }
installed="${app}Bin\\Upgrade.exe"

now() { date +%s.%N; }
# The quiet check; a box would block it, so a run that outlasts the limit or
# ends with anything but 0 stops the benchmark.
check() {
  local t0 t1 rc=0
  t0=$(now)
  timeout 60 "$wine" "$installed" /q "/URL:$url" >/dev/null 2>&1 || rc=$?
  t1=$(now)
  if [ "$rc" != 0 ]; then
    echo "quiet_bench: Upgrade.exe /q ended with $rc; its log:" >&2
    tr -d '\r' < "$(echo "$work"/prefix/drive_c/users/*/Documents/Pellory/Logs/Update.log)" >&2
    return 1
  fi
  awk -v a="$t0" -v b="$t1" 'BEGIN { printf "%.3f\n", b - a }'
}
# The reference, the twin and curl: "total twin curl".
reference() {
  local t0 t1 t2
  t0=$(now)
  "$wine" "$twin" >/dev/null 2>&1 || { echo "quiet_bench: quiet_twin failed" >&2; return 1; }
  t1=$(now)
  curl -s --fail -o "$work/curl.cab" "$url"
  t2=$(now)
  awk -v a="$t0" -v b="$t1" -v c="$t2" 'BEGIN { printf "%.3f %.3f %.3f\n", c - a, b - a, c - b }'
}
# Diagnostics, not the reference: the bare do-nothing program (kernel32 and
# msvcrt only), and the same loading the window and internet libraries.
bare() {
  local t0 t1
  t0=$(now)
  "$wine" "$noop" "$@" >/dev/null 2>&1 || { echo "quiet_bench: quiet_noop $* failed" >&2; return 1; }
  t1=$(now)
  awk -v a="$t0" -v b="$t1" 'BEGIN { printf "%.3f\n", b - a }'
}

# One warm-up of each (page cache, the first start of each program), not
# counted; it also checks what the check saw.
reference >/dev/null
cmp -s "$work/curl.cab" "$work/PM_Install.cab" || { echo "quiet_bench: curl got another file" >&2; exit 1; }
check >/dev/null
log=$(echo "$work"/prefix/drive_c/users/*/Documents/Pellory/Logs/Update.log)
[ -f "$log" ] || { echo "quiet_bench: no log at $log" >&2; exit 1; }
if grep -a -q -i -e fail -e error "$log"; then
  echo "quiet_bench: the check logged a failure:" >&2; tr -d '\r' < "$log" >&2; exit 1
fi

if [ "${QUIET_BENCH_BUSY:-}" = 1 ]; then
  sh -c 'while :; do :; done' &
  busy_pid=$!
fi
bare >/dev/null
bare libraries >/dev/null

ref_times=() twin_times=() curl_times=() check_times=() bare_times=() floor_times=()
for i in $(seq 1 "$runs"); do
  if [ $((i % 2)) = 1 ]; then
    r=$(reference); c=$(check); b=$(bare); f=$(bare libraries)
  else
    f=$(bare libraries); b=$(bare); c=$(check); r=$(reference)
  fi
  read -r rt tt ct <<< "$r"
  echo "run $i: twin+curl ${rt}s (twin ${tt}s curl ${ct}s)  Upgrade.exe /q ${c}s" \
       " bare noop ${b}s  noop with user32 and WinInet ${f}s"
  ref_times+=("$rt") twin_times+=("$tt") curl_times+=("$ct") check_times+=("$c")
  bare_times+=("$b") floor_times+=("$f")
done

# One more check with the time of each log line (not counted above).
python3 "$here/timed_log.py" "$log" timeout 60 "$wine" "$installed" /q "/URL:$url" > "$work/timed"
if [ -n "${QUIET_BENCH_LOG:-}" ]; then cp "$work/timed" "$QUIET_BENCH_LOG"; fi
# One more with Wine's own timestamps on library loads and registry calls,
# for what the log cannot show: the start before its first line, and the
# status reads (from the first to the last open of the Components key) apart
# from the exit. Tracing slows the run a little.
WINEDEBUG=+timestamp,+loaddll,+reg timeout 60 "$wine" "$installed" /q "/URL:$url" \
  2>"$work/trace" >/dev/null
split=$(awk -F: '
  NR == 1 { t0 = $1 }
  /loaddll/ && /imm32/ && !im { im = $1 }
  /loaddll/ && /WinInet/ && !wi { wi = $1 }
  /NtOpenKeyEx \(.*Upgrade\\\\Components/ { if (!s1) s1 = $1; s2 = $1 }
  { last = $1 }
  END { printf "start-up %.3f  to WinInet bound %.3f  to the status %.3f  status %.3f  exit %.3f  total %.3f\n",
        im - t0, wi - im, s1 - wi, s2 - s1, last - s2, last - t0 }' "$work/trace")
# The check's decision alone, in a process of its own: every component's
# status, and the file version reads among it.
"$wine" "$helper" status "$(winpath "$work/catalogue")\\PM Install1.INF" 3 2>/dev/null |
  tr -d '\r' > "$work/status"
# The catalogue cabinet's unpacking alone, in a process of its own.
"$wine" "$helper" unpack "$(winpath "$work/PM_Install.cab")" 21 2>/dev/null |
  tr -d '\r' > "$work/unpack"

median() { printf '%s\n' "$@" | sort -g | awk '{ a[NR] = $1 } END { print a[int((NR + 1) / 2)] }'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }
mr=$(median "${ref_times[@]}")
mc=$(median "${check_times[@]}")
echo "catalogue: $(cat "$work/prepared"), cabinet $cab_bytes bytes;" \
     "$runs runs${busy_pid:+, one core kept busy}"
echo "median twin+curl: ${mr}s (twin $(median "${twin_times[@]}")s, curl $(median "${curl_times[@]}")s)"
echo "median Upgrade.exe /q: ${mc}s  ratio: $(ratio "$mc" "$mr")"
echo "diagnostics: median bare noop $(median "${bare_times[@]}")s," \
     "noop loading user32 and WinInet $(median "${floor_times[@]}")s"
echo "one traced check, seconds: $split"
echo "one check's log, seconds: $(awk '
  NR == 1 { s = $1 }
  / Command line: / { c = $1 }
  / starting downloading / { d = $1 }
  / Point 2: / { p = $1 }
  / Parsing component / && !ps { ps = $1 }
  / Parsing of component / { pe = $1 }
  / Update Completed / { e = $1 }
  END { printf "first line %.3f  to the fetch %.3f  download %.3f  unpack %.3f  parse %.3f  status and exit %.3f  end %.3f\n",
        s, d - c, p - d, ps - p, pe - ps, e - pe, e }' "$work/timed")"
echo "the decision in-process, 3 passes:"
cat "$work/status"
echo "the catalogue cabinet unpacked in-process, 21 passes: $(tail -n 1 "$work/unpack")"
echo "one check, seconds since its start at each log line:"
cat "$work/timed"
