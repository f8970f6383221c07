#!/usr/bin/env python3
"""Writes Palisk's window icon (skin/ovicon.ico): a shield in the product's blue with a white
down arrow, at 16, 32 and 48 pixels, as 32-bit BMP images in one .ico file.

    make_icon.py OUTPUT.ico
"""
import struct
import sys

BLUE = (0x2F, 0x6F, 0xB0)
DARK = (0x10, 0x3A, 0x66)
WHITE = (0xFF, 0xFF, 0xFF)


def inside_shield(x, y):
    """(x, y) in 0..1, y downwards: a square top half and a pointed lower half."""
    if y < 0.08 or x < 0.1 or x > 0.9:
        return False
    if y <= 0.55:
        return True
    # The lower half narrows to a point at the bottom middle.
    half_width = 0.4 * (1.0 - (y - 0.55) / 0.4)
    return abs(x - 0.5) <= half_width and y <= 0.95


def inside_arrow(x, y):
    shaft = abs(x - 0.5) <= 0.08 and 0.2 <= y <= 0.5
    head = 0.5 <= y <= 0.72 and abs(x - 0.5) <= 0.24 * (0.72 - y) / 0.22
    return shaft or head


def pixel(size, column, row):
    """BGRA of one pixel (row 0 at the top)."""
    x = (column + 0.5) / size
    y = (row + 0.5) / size
    if not inside_shield(x, y):
        return (0, 0, 0, 0)
    edge = not (inside_shield(x - 1.5 / size, y) and inside_shield(x + 1.5 / size, y)
                and inside_shield(x, y - 1.5 / size) and inside_shield(x, y + 1.5 / size))
    red, green, blue = DARK if edge else (WHITE if inside_arrow(x, y) else BLUE)
    return (blue, green, red, 255)


def image(size):
    """One icon image: BITMAPINFOHEADER (double height for the mask), pixels bottom-up, mask."""
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    pixels = bytearray()
    for row in reversed(range(size)):
        for column in range(size):
            pixels += bytes(pixel(size, column, row))
    # AND mask: 1 bit per pixel, rows padded to 32 bits; 1 where the pixel is transparent.
    mask = bytearray()
    row_bytes = ((size + 31) // 32) * 4
    for row in reversed(range(size)):
        bits = bytearray(row_bytes)
        for column in range(size):
            if pixel(size, column, row)[3] == 0:
                bits[column // 8] |= 0x80 >> (column % 8)
        mask += bits
    return header + bytes(pixels) + bytes(mask)


def icon(sizes):
    images = [image(size) for size in sizes]
    directory = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    entries = b""
    for size, data in zip(sizes, images):
        entries += struct.pack("<BBBBHHII", size % 256, size % 256, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    return directory + entries + b"".join(images)


def main():
    if len(sys.argv) != 2:
        sys.stderr.write("usage: make_icon.py OUTPUT.ico\n")
        return 2
    with open(sys.argv[1], "wb") as output:
        output.write(icon([16, 32, 48]))
    return 0


if __name__ == "__main__":
    sys.exit(main())
