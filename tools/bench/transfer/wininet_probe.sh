#!/usr/bin/env bash
# Runs wininet_probe under Wine: the fast cases against a 50 MB file served by
# nginx (keep-alive, tools/bench/web_server.sh), then the slow-line and
# stalled-line cases against the probe's own server. Prints the probe's lines.
# Usage: tools/bench/transfer/wininet_probe.sh [BUILD_DIR] [MB]
# UPGRADE_WINE_TEMPLATE names the template prefix (default build/wine-template).
set -euo pipefail
root=$(cd "$(dirname "$0")/../../.." && pwd)
build=${1:-$root/build/x86_64}
mb=${2:-50}
exe=$build/tools/bench/transfer/wininet_probe.exe
wine=/usr/lib/wine/wine64
wineserver=/usr/lib/wine/wineserver64
[ -f "$exe" ] || { echo "wininet_probe: build wininet_probe first ($exe)" >&2; exit 1; }
template=${UPGRADE_WINE_TEMPLATE:-$root/build/wine-template}
[ -f "$template/.upgrade-template-ok" ] || "$root/tests/support/make-wine-template"

# shellcheck source=SCRIPTDIR/../web_server.sh
source "$root/tools/bench/web_server.sh"
work=$(mktemp -d "${TMPDIR:-/tmp}/wininet-probe.XXXXXX")
cleanup() {
  web_server_stop
  WINEPREFIX="$work/prefix" "$wineserver" -k >/dev/null 2>&1 || true
  WINEPREFIX="$work/prefix" "$wineserver" -w >/dev/null 2>&1 || true
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM HUP
cp -a "$template" "$work/prefix"
export WINEPREFIX="$work/prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
mkdir -p "$work/www"
head -c $((mb * 1000000)) /dev/urandom > "$work/www/big.bin"
web_server_start "$work/nginx" "$work/www"
"$wine" "$exe" fast "$web_server_url/big.bin" 2>/dev/null | tr -d '\r'
echo "nginx: $(web_server_connections big.bin) (requests, connections)"
"$wine" "$exe" slow 2>/dev/null | tr -d '\r'
"$wine" "$exe" stall 2>/dev/null | tr -d '\r'
