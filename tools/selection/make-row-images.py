#!/usr/bin/env python3
"""Draws the row images of the component selection list.

A strip of seven 16 x 16 images, magenta (255, 0, 255) where the row shows
through:
  0 the default component picture (a closed parcel)
  1 ticked box, 2 empty box (normal row)
  3 ticked box, 4 empty box, in white for the highlighted row
  5 ticked box, 6 empty box, greyed

    make-row-images.py [OUTPUT.bmp]

Writes a bottom-up 24-bit Windows bitmap, 112 x 16 pixels.
"""
import os
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
from bitmap import write_bmp  # noqa: E402

SIZE = 16
COUNT = 7
MAGENTA = (255, 0, 255)

# The tick inside a box whose inner square starts at (3, 3): two strokes,
# three pixels thick, as the system's own check boxes draw it.
TICK = [(4, 7), (5, 8), (6, 9), (7, 8), (8, 7), (9, 6), (10, 5), (11, 4)]


def parcel(pixel):
    body, dark, light, tape = (196, 150, 92), (122, 84, 44), (226, 190, 136), (90, 120, 190)
    for y in range(3, 15):
        for x in range(1, 15):
            colour = body
            if y == 3 or y == 14 or x == 1 or x == 14:
                colour = dark
            elif y < 7:
                colour = light  # the lid
            elif y == 7:
                colour = dark
            if 7 <= x <= 8 and 3 < y < 14:
                colour = tape
            pixel(x, y, colour)
    # A label on the front.
    for y in range(9, 12):
        for x in range(10, 13):
            pixel(x, y, (250, 248, 240))


def box(pixel, frame, inside, tick):
    for y in range(1, 15):
        for x in range(1, 15):
            edge = x in (1, 14) or y in (1, 14)
            if edge:
                pixel(x, y, frame)
            elif inside is not None:
                pixel(x, y, inside)
    if tick is not None:
        for x, y in TICK:
            for dy in range(3):
                pixel(x, y + dy, tick)


def draw():
    image = [[MAGENTA] * (SIZE * COUNT) for _ in range(SIZE)]

    def painter(index):
        def pixel(x, y, colour):
            image[y][index * SIZE + x] = colour
        return pixel

    black, frame, white = (0, 0, 0), (64, 64, 64), (255, 255, 255)
    grey, pale = (160, 160, 160), (224, 224, 224)
    parcel(painter(0))
    box(painter(1), frame, white, black)
    box(painter(2), frame, white, None)
    box(painter(3), white, None, white)
    box(painter(4), white, None, None)
    box(painter(5), grey, pale, grey)
    box(painter(6), grey, pale, None)
    return image


if __name__ == "__main__":
    write_bmp(sys.argv[1] if len(sys.argv) > 1 else "resources/selection_rows.bmp", draw())
