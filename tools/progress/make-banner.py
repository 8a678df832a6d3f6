#!/usr/bin/env python3
"""Draws the picture that the progress dialog shows in Setup mode.

A calm banner without text: a soft sky-to-sea gradient with three gentle
waves and a pale sun. Its size is the placeholder's, 511 x 85 pixels, as Wine
lays out the dialog font at 96 DPI. The picture control centres it: where the
placeholder comes out narrower (Windows' own Tahoma gives 438 pixels) the
sides are cut off, where wider the margin takes the top-left pixel's colour.

    make-banner.py [OUTPUT.bmp] [WIDTH] [HEIGHT]

Writes a bottom-up 24-bit Windows bitmap.
"""
import math
import os
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
from bitmap import write_bmp  # noqa: E402


def mix(a, b, t):
    return tuple(round(x + (y - x) * t) for x, y in zip(a, b))


def colour_at(x, y, width, height):
    sky_top, sky_low = (206, 229, 238), (236, 245, 243)
    sea = [(150, 199, 196), (108, 173, 172), (74, 141, 146)]  # back to front
    pixel = mix(sky_top, sky_low, y / max(1, height - 1))
    # A pale sun low on the right.
    sx, sy, radius = width * 0.78, height * 0.55, height * 0.28
    d = math.hypot(x - sx, y - sy)
    if d < radius:
        pixel = mix(pixel, (250, 244, 222), min(1.0, (radius - d) / 3.0))
    for i, shade in enumerate(sea):
        base = height * (0.52 + 0.15 * i)
        wave = base + height * 0.05 * math.sin(2 * math.pi * (x / width * (1.5 + 0.5 * i) + 0.3 * i))
        if y >= wave:
            # Slightly lighter at each crest, so the bands stay soft.
            pixel = mix(shade, (255, 255, 255), max(0.0, 0.25 - (y - wave) / height))
    return pixel


if __name__ == "__main__":
    output = sys.argv[1] if len(sys.argv) > 1 else "resources/progress_banner.bmp"
    width = int(sys.argv[2]) if len(sys.argv) > 2 else 511
    height = int(sys.argv[3]) if len(sys.argv) > 3 else 85
    write_bmp(output, [[colour_at(x, y, width, height) for x in range(width)]
                       for y in range(height)])
