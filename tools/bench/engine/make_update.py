#!/usr/bin/env python3
"""Makes the engine benchmark's update: 10 components, 30 MSZIP cabinets.

Usage: make_update.py OUT_DIR MB

Writes OUT_DIR/src/cNN/ (the members), OUT_DIR/cabs/cNN.cab (gcab -c -z) and
OUT_DIR/manifest.txt, one line per entry:
    component NAME
    file DESTINATION CABINET SIZE SOURCE
DESTINATION is relative to the installation folder, SOURCE to OUT_DIR/src;
SIZE is the cabinet's size in bytes. The member count and layout are the same
for every MB: only the members' sizes scale, so two sizes compare the engine
on the same work list. The data come from fixed seeds.

Component k owns cabinets 3k..3k+2 and installs their members under CompK\\,
except the last member of its middle cabinet, which the component before it
(the last one: the first) installs under Shared\\: a cabinet two components
need, fetched once, by the first of them. Each component after the first also
lists the previous component's first entry unchanged (the same entry twice:
handled once).
"""
import os
import random
import subprocess
import sys

COMPONENTS = 10
CABINETS_EACH = 3
# Roughly what MSZIP leaves of the mix below, to aim at MB of cabinets.
PACKED_SHARE = 0.6


def mixed(r, n):
    """Runs of random bytes, repeats of earlier data and small-alphabet runs."""
    out = bytearray()
    while len(out) < n:
        kind = r.randrange(3)
        k = r.randrange(256, 16384)
        if kind == 0:
            out += r.randbytes(k)
        elif kind == 1 and len(out) > 20000:
            s = r.randrange(0, len(out) - 16384)
            out += out[s:s + k]
        else:
            out += bytes(r.choice(b"\x00\x01\x02\xff\x10\x20") for _ in range(k // 8)) * 8
    return bytes(out[:n])


def text(r, words, n):
    parts, size = [], 0
    while size < n:
        line = " ".join(r.choice(words) for _ in range(r.randrange(4, 14))) + "\r\n"
        parts.append(line)
        size += len(line)
    return "".join(parts)[:n].encode("ascii")


def main():
    out_dir, mb = sys.argv[1], float(sys.argv[2])
    r = random.Random(20261208)
    words = ["".join(r.choice("etaoinshrdlucmfwyp") for _ in range(r.randrange(2, 10)))
             for _ in range(5000)]
    # The layout (names, kinds, relative sizes) is drawn first, so that it does
    # not depend on MB; the contents come from a second generator.
    layout = []
    for c in range(COMPONENTS * CABINETS_EACH):
        members = []
        for m in range(r.randrange(3, 10)):
            kind = r.choice(["bin", "bin", "txt", "txt", "raw"])
            members.append(("c%02d_f%d.%s" % (c, m, kind), kind, r.uniform(0.2, 3.0)))
        layout.append(members)
    weight = sum(w for members in layout for _, _, w in members)
    scale = mb * 1e6 / PACKED_SHARE / weight

    data = random.Random(7)
    src = os.path.join(out_dir, "src")
    cabs = os.path.join(out_dir, "cabs")
    os.makedirs(cabs, exist_ok=True)
    for c, members in enumerate(layout):
        folder = os.path.join(src, "c%02d" % c)
        os.makedirs(folder, exist_ok=True)
        for name, kind, w in members:
            n = max(1, int(w * scale))
            body = (data.randbytes(n) if kind == "raw" else
                    text(data, words, n) if kind == "txt" else mixed(data, n))
            with open(os.path.join(folder, name), "wb") as f:
                f.write(body)
        cab = os.path.abspath(os.path.join(cabs, "c%02d.cab" % c))
        subprocess.run(["gcab", "-c", "-z", cab] + [name for name, _, _ in members],
                       cwd=folder, check=True)

    def cab_size(c):
        return os.path.getsize(os.path.join(cabs, "c%02d.cab" % c))

    def entry(comp, c, member, prefix=None):
        dest = "%s\\%s" % (prefix or "Comp%d" % comp, member)
        return "file %s c%02d.cab %d c%02d/%s" % (dest, c, cab_size(c), c, member)

    lines = []
    for k in range(COMPONENTS):
        lines.append("component Comp%d" % k)
        for c in range(k * CABINETS_EACH, (k + 1) * CABINETS_EACH):
            members = layout[c][:-1] if c % CABINETS_EACH == 1 else layout[c]
            for name, _, _ in members:
                lines.append(entry(k, c, name))
        if k > 0:
            c = (k - 1) * CABINETS_EACH
            lines.append(entry(k - 1, c, layout[c][0][0]))
        c = ((k + 1) % COMPONENTS) * CABINETS_EACH + 1
        lines.append(entry(k, c, layout[c][-1][0], "Shared"))
    with open(os.path.join(out_dir, "manifest.txt"), "w") as f:
        f.write("\n".join(lines) + "\n")

    total = sum(cab_size(c) for c in range(len(layout)))
    raw = sum(os.path.getsize(os.path.join(src, "c%02d" % c, name))
              for c, members in enumerate(layout) for name, _, _ in members)
    files = sum(len(m) for m in layout)
    print("update: %d cabinets, %d bytes (%.1f MB); %d members, %d bytes unpacked"
          % (len(layout), total, total / 1e6, files, raw))


if __name__ == "__main__":
    main()
