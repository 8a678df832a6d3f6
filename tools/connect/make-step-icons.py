#!/usr/bin/env python3
"""Draws the two step markers of the connect dialog as 14 x 9 icons.

connect_check.ico: a green check mark, the sign of a finished step.
connect_step.ico:  a small dark arrow pointing at the step under way.

    make-step-icons.py [OUTPUT_FOLDER]

Each icon holds one 32-bit image with an alpha channel and its AND mask
(drawn where alpha is low), so it also looks right where alpha is ignored.
"""
import math
import os
import struct
import sys

WIDTH, HEIGHT = 14, 9


def segment_distance(px, py, ax, ay, bx, by):
    dx, dy = bx - ax, by - ay
    t = max(0.0, min(1.0, ((px - ax) * dx + (py - ay) * dy) / (dx * dx + dy * dy)))
    return math.hypot(px - (ax + t * dx), py - (ay + t * dy))


def check_pixel(x, y):
    # Two strokes, 2 pixels wide: down to the bottom corner, then up right.
    cx, cy = x + 0.5, y + 0.5
    d = min(segment_distance(cx, cy, 1.5, 4.5, 5.0, 7.8),
            segment_distance(cx, cy, 5.0, 7.8, 12.6, 1.2))
    alpha = max(0.0, min(1.0, 1.6 - d))
    return (24, 140, 40), alpha


def arrow_pixel(x, y):
    # A filled triangle from (4,1) to (4,8) to (10,4.5), edges softened.
    cx, cy = x + 0.5, y + 0.5
    inside = cx >= 4 and abs(cy - 4.5) <= (10.0 - cx) * 3.5 / 6.0
    edge = min(abs(cx - 4), abs(abs(cy - 4.5) - (10.0 - cx) * 3.5 / 6.0))
    alpha = 1.0 if inside and edge > 0.5 else (0.5 if inside else 0.0)
    return (40, 56, 96), alpha


def icon_bytes(pixel):
    xor = bytearray()
    mask_row = (WIDTH + 31) // 32 * 4
    mask = bytearray()
    for y in range(HEIGHT - 1, -1, -1):  # bottom row first
        bits = 0
        for x in range(WIDTH):
            (r, g, b), alpha = pixel(x, y)
            a = round(alpha * 255)
            xor += bytes((b * a // 255, g * a // 255, r * a // 255, a))
            if a < 128:
                bits |= 1 << (mask_row * 8 - 1 - x)
        mask += bits.to_bytes(mask_row, "big")
    info = struct.pack("<IiiHHIIiiII", 40, WIDTH, HEIGHT * 2, 1, 32, 0,
                       len(xor) + len(mask), 0, 0, 0, 0)
    image = info + xor + mask
    header = struct.pack("<HHH", 0, 1, 1)
    entry = struct.pack("<BBBBHHII", WIDTH, HEIGHT, 0, 0, 1, 32, len(image), 6 + 16)
    return header + entry + image


if __name__ == "__main__":
    folder = sys.argv[1] if len(sys.argv) > 1 else "resources"
    for name, pixel in (("connect_check.ico", check_pixel), ("connect_step.ico", arrow_pixel)):
        with open(os.path.join(folder, name), "wb") as out:
            out.write(icon_bytes(pixel))
