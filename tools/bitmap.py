"""Writes a 24-bit Windows bitmap: the one writer of the resource generators."""
import struct


def write_bmp(path, image):
    """image: rows top first, each a list of (r, g, b)."""
    height, width = len(image), len(image[0])
    stride = (width * 3 + 3) // 4 * 4
    rows = []
    for row in reversed(image):  # the file holds the bottom row first
        data = b"".join(bytes((b, g, r)) for (r, g, b) in row)
        rows.append(data + b"\0" * (stride - len(data)))
    pixels = b"".join(rows)
    header = struct.pack("<2sIHHI", b"BM", 54 + len(pixels), 0, 0, 54)
    info = struct.pack("<IiiHHIIiiII", 40, width, height, 1, 24, 0, len(pixels), 2835, 2835, 0, 0)
    with open(path, "wb") as out:
        out.write(header + info + pixels)
