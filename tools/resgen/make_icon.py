#!/usr/bin/env python3
"""Writes the application icon: a desktop computer with a window on its screen, as a 32 x 32
and a 16 x 16 image (in that order), each 4 bits per pixel with the standard 16-colour table
and a 1-bit transparency mask.

usage: make_icon.py OUT.ico
"""

import struct
import sys

from vga import (BLACK, BLUE, GRAY, LIME, NAVY, SILVER, WHITE, Canvas, rgbquads)

CLEAR = -1  # transparent: mask bit set, colour 0


def draw_large():
    c = Canvas(32, 32, CLEAR)
    c.box(3, 1, 28, 21, SILVER, BLACK)         # monitor
    c.fill(4, 2, 27, 2, WHITE)                 # bezel highlight
    c.box(6, 4, 25, 18, NAVY, BLACK)           # screen
    c.box(9, 7, 22, 16, WHITE, BLACK)          # window on the screen
    c.fill(10, 8, 21, 9, BLUE)                 # its title bar
    c.fill(19, 8, 20, 9, SILVER)               # its close box
    for line in (11, 13):
        c.fill(11, line, 19, line, GRAY)       # its contents
    c.box(12, 22, 19, 23, GRAY, BLACK)         # neck
    c.box(1, 24, 30, 30, SILVER, BLACK)        # desktop case
    c.fill(2, 25, 29, 25, WHITE)
    c.fill(4, 27, 15, 28, GRAY)                # drive slot
    c.fill(4, 27, 15, 27, BLACK)
    c.fill(26, 27, 27, 28, LIME)               # power light
    return c


def draw_small():
    c = Canvas(16, 16, CLEAR)
    c.box(1, 0, 14, 10, SILVER, BLACK)         # monitor
    c.box(3, 2, 12, 8, NAVY, BLACK)            # screen
    c.box(5, 3, 10, 7, WHITE, BLACK)           # window on the screen
    c.fill(6, 4, 9, 4, BLUE)                   # its title bar
    c.fill(6, 11, 9, 11, GRAY)                 # neck
    c.box(0, 12, 15, 15, SILVER, BLACK)        # desktop case
    c.fill(2, 13, 7, 13, GRAY)                 # drive slot
    c.put(13, 13, LIME)                        # power light
    return c


def row_bytes(bits_per_pixel, width):
    return ((width * bits_per_pixel + 31) // 32) * 4


def encode_image(canvas):
    """BITMAPINFOHEADER (double height: colour bits and mask), colour table, bits, mask; rows
    bottom-up."""
    w, h = canvas.width, canvas.height
    colour = bytearray()
    mask = bytearray()
    for y in range(h - 1, -1, -1):
        row = canvas.pixels[y]
        packed = bytearray(row_bytes(4, w))
        bits = bytearray(row_bytes(1, w))
        for x, value in enumerate(row):
            if value == CLEAR:
                bits[x // 8] |= 0x80 >> (x % 8)
                value = 0
            packed[x // 2] |= value << (4 if x % 2 == 0 else 0)
        colour += packed
        mask += bits
    header = struct.pack("<IiiHHIIiiII", 40, w, h * 2, 1, 4, 0, len(colour) + len(mask), 0, 0, 16, 0)
    return header + rgbquads() + bytes(colour) + bytes(mask)


def build_icon():
    images = [(c, encode_image(c)) for c in (draw_large(), draw_small())]
    out = bytearray(struct.pack("<HHH", 0, 1, len(images)))
    offset = 6 + 16 * len(images)
    for canvas, data in images:
        out += struct.pack("<BBBBHHII", canvas.width, canvas.height, 16, 0, 1, 4, len(data), offset)
        offset += len(data)
    for _, data in images:
        out += data
    return bytes(out)


def main():
    if len(sys.argv) != 2:
        sys.stderr.write(__doc__)
        return 2
    with open(sys.argv[1], "wb") as out:
        out.write(build_icon())
    return 0


if __name__ == "__main__":
    sys.exit(main())
