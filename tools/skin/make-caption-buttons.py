#!/usr/bin/env python3
"""Writes resources/caption_buttons.bmp: the skin's caption-button strip.

Five 27 x 27 cells side by side (135 x 27, 24 bits), white glyphs on magenta,
which the skin treats as transparent: 0 minimise, 1 restore, 2 maximise,
3 unused, 4 help. Strokes are two pixels wide so that they survive the skin
shrinking the strip to the system's smaller caption buttons.

    make-caption-buttons.py [OUTPUT]
"""
import os
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
from bitmap import write_bmp  # noqa: E402

CELL = 27
COUNT = 5
MAGENTA = (0xFF, 0x00, 0xFF)
WHITE = (0xFF, 0xFF, 0xFF)


def blank():
    return [[MAGENTA] * (CELL * COUNT) for _ in range(CELL)]


def fill(pixels, cell, x0, y0, x1, y1, colour=WHITE):
    """Fills the cell-relative rectangle [x0, x1] x [y0, y1], both ends inside."""
    for y in range(y0, y1 + 1):
        for x in range(x0, x1 + 1):
            pixels[y][cell * CELL + x] = colour


def outline(pixels, cell, x0, y0, x1, y1, top=2):
    fill(pixels, cell, x0, y0, x1, y0 + top - 1)  # a window's title bar
    fill(pixels, cell, x0, y1 - 1, x1, y1)
    fill(pixels, cell, x0, y0, x0 + 1, y1)
    fill(pixels, cell, x1 - 1, y0, x1, y1)


def border(pixels, cell):
    """The rounded frame the close button also has (corner 5, like h / 5)."""
    lo, hi, corner = 1, CELL - 2, 5
    for i in range(lo + corner - 1, hi - corner + 2):
        for d in (0, 1):
            pixels[lo + d][cell * CELL + i] = WHITE
            pixels[hi - d][cell * CELL + i] = WHITE
            pixels[i][cell * CELL + lo + d] = WHITE
            pixels[i][cell * CELL + hi - d] = WHITE
    # Diagonal corners, two pixels thick.
    for step in range(corner):
        for d in (0, 1):
            a = lo + step + d
            b = lo + corner - 1 - step
            for (x, y) in ((a, b), (hi - (a - lo), b), (a, hi - (b - lo)), (hi - (a - lo), hi - (b - lo))):
                if lo <= x <= hi and lo <= y <= hi:
                    pixels[y][cell * CELL + x] = WHITE


def draw():
    pixels = blank()
    # 0 minimise: a bar at the bottom.
    border(pixels, 0)
    fill(pixels, 0, 8, 16, 18, 18)
    # 1 restore: two overlapping windows, the front one hiding the back's lines.
    border(pixels, 1)
    outline(pixels, 1, 10, 6, 20, 15)
    fill(pixels, 1, 6, 11, 16, 20, MAGENTA)
    outline(pixels, 1, 6, 11, 16, 20, top=3)
    # 2 maximise: one large window.
    border(pixels, 2)
    outline(pixels, 2, 7, 7, 19, 19, top=3)
    # 3 unused (the close button is drawn by the program).
    # 4 help: a question mark.
    border(pixels, 4)
    fill(pixels, 4, 10, 6, 16, 7)
    fill(pixels, 4, 8, 8, 9, 10)
    fill(pixels, 4, 17, 8, 18, 11)
    fill(pixels, 4, 15, 12, 16, 13)
    fill(pixels, 4, 12, 13, 14, 14)
    fill(pixels, 4, 12, 15, 13, 16)
    fill(pixels, 4, 12, 19, 13, 20)
    return pixels


if __name__ == "__main__":
    here = os.path.dirname(os.path.abspath(__file__))
    default = os.path.join(here, "..", "..", "resources", "caption_buttons.bmp")
    write_bmp(sys.argv[1] if len(sys.argv) > 1 else default, draw())
