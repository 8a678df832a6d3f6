#!/bin/sh
# Cabinet decoder benchmark: cabtool test --no-md5 against cabextract -t on
# generated cabinets, plus a plain zlib inflate of the same MSZIP data, and
# Quantum cabinets made by the test encoder.
# Usage: tools/bench/cab_bench.sh BUILD_DIR [WORK_DIR] [RUNS]
# Inputs are generated deterministically (fixed seeds) with python3 and gcab.
set -eu
BUILD=${1:?build dir}
WORK=${2:-/tmp/cab-bench}
RUNS=${3:-5}
CABTOOL=$BUILD/tools/cabtool/cabtool
ZINF=$BUILD/tools/bench/cab_zinflate
QTMPACK=$BUILD/tools/bench/make_quantum_cab
mkdir -p "$WORK"
cd "$WORK"

if [ ! -f done.stamp ]; then
  python3 - <<'PY'
import os, random
r = random.Random(1234)
os.makedirs("bin", exist_ok=True); os.makedirs("txt", exist_ok=True); os.makedirs("small", exist_ok=True)
MiB = 1 << 20
# Mixed binary: runs of random bytes, repeated chunks and small-alphabet data.
out = bytearray()
while len(out) < 64 * MiB:
    k = r.randrange(3)
    n = r.randrange(256, 16384)
    if k == 0:
        out += r.randbytes(n)
    elif k == 1 and len(out) > 65536:
        s = r.randrange(len(out) - 65536, len(out) - 1024)
        out += out[s:s + n]
    else:
        out += bytes(r.choice(b"\x00\x01\x02\xff\x10\x20") for _ in range(n // 8)) * 8
open("bin/mixed.bin", "wb").write(out[:64 * MiB])
words = [("".join(r.choice("etaoinshrdlucmfwyp") for _ in range(r.randrange(2, 10)))) for _ in range(5000)]
lines = []
size = 0
while size < 64 * MiB:
    line = " ".join(r.choice(words) for _ in range(r.randrange(4, 14))) + "\n"
    lines.append(line); size += len(line)
open("txt/text.txt", "w").write("".join(lines)[:64 * MiB])
for i in range(2000):
    open("small/f%04d.dat" % i, "wb").write(r.randbytes(r.randrange(100, 4000)) + bytes(r.randrange(0, 4000)))
open("bin/raw.bin", "wb").write(r.randbytes(64 * MiB))
PY
  (cd bin && gcab -c -z ../mszip-mixed.cab mixed.bin)
  (cd txt && gcab -c -z ../mszip-text.cab text.txt)
  (cd small && gcab -c -z ../small-files.cab f*.dat)
  (cd bin && gcab -c ../stored.cab raw.bin)
  touch done.stamp
fi
# Quantum: 16 MiB slices of the same data, packed by the test encoder with
# the largest window (no other tool here writes Quantum).
if [ ! -f quantum.stamp ]; then
  mkdir -p q
  head -c 16777216 txt/text.txt > q/text16.txt
  head -c 16777216 bin/mixed.bin > q/mixed16.bin
  "$QTMPACK" qtm-text.cab 21 q/text16.txt
  "$QTMPACK" qtm-mixed.cab 21 q/mixed16.bin
  touch quantum.stamp
fi

# One timed run: appends wall seconds and peak RSS (KiB) to NAME.t / NAME.m.
run() {
  name=$1; shift
  /usr/bin/time -f "%e %M" -o t.out "$@" > /dev/null
  cut -d' ' -f1 t.out >> $name.t
  cut -d' ' -f2 t.out >> $name.m
}
median() { sort -n "$1" | sed -n "$(( (RUNS + 1) / 2 ))p"; }
peak() { sort -n "$1" | tail -1; }

printf '%-12s %9s %9s %9s %10s %10s %8s %8s\n' cabinet cabtool_s cabext_s zlib_s cabtool_KiB cabext_KiB speedup vs_zlib
for c in mszip-mixed mszip-text small-files stored qtm-mixed qtm-text; do
  rm -f ct.t ct.m ce.t ce.m cz.t cz.m
  i=0
  # Interleaved: each round runs every decoder once.
  while [ $i -lt "$RUNS" ]; do
    run ct "$CABTOOL" test --no-md5 $c.cab
    run ce cabextract -q -t $c.cab
    case $c in mszip-*) [ -x "$ZINF" ] && run cz "$ZINF" $c.cab ;; esac
    i=$((i + 1))
  done
  ct=$(median ct.t); ce=$(median ce.t); cz=-
  [ -f cz.t ] && cz=$(median cz.t)
  sp=$(awk -v a="$ct" -v b="$ce" 'BEGIN { printf "%.2f", (a > 0 ? b / a : 0) }')
  vz=$(awk -v a="$ct" -v z="$cz" 'BEGIN { if (z == "-" || z == 0) print "-"; else printf "%.2f", a / z }')
  printf '%-12s %9s %9s %9s %10s %10s %8s %8s\n' $c "$ct" "$ce" "$cz" "$(peak ct.m)" "$(peak ce.m)" "$sp" "$vz"
done
