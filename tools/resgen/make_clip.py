#!/usr/bin/env python3
"""Writes the copy animation AVI_FILECOPY: a RIFF AVI with one RLE8 video stream, 260 x 40
pixels, the 16 VGA colours, 17 frames at 10 per second, the first frame complete and the
others as deltas, and an idx1 index. A sheet of paper flies in an arc from a folder at the
left edge to a folder at the right edge over a magenta background, which the animation
control treats as transparent (it takes the colour of the top-left pixel of the first frame).

usage: make_clip.py OUT.avi
"""

import struct
import sys

from vga import (BLACK, GRAY, MAGENTA, OLIVE, SILVER, WHITE, YELLOW, Canvas, rgbquads)

WIDTH, HEIGHT = 260, 40
FRAMES = 17
MICROSECONDS_PER_FRAME = 100000
SCALE, RATE = 100000, 1000000
BI_RLE8 = 1
AVIF_HASINDEX = 0x10
AVIIF_KEYFRAME = 0x10

SHEET_WIDTH, SHEET_HEIGHT = 12, 15
LEFT_FOLDER_X, RIGHT_FOLDER_X = 6, WIDTH - 6 - 36


def draw_folder_back(canvas, left):
    """The folder's back wall and tab, which the sheet passes in front of."""
    canvas.box(left, 12, left + 13, 16, YELLOW, OLIVE)           # tab
    canvas.box(left, 15, left + 35, 37, YELLOW, OLIVE)           # back wall
    canvas.fill(left + 2, 17, left + 33, 18, OLIVE)               # shadow of the opening


def draw_folder_front(canvas, left):
    """The front flap, drawn over the sheet so that a sheet at rest looks tucked in."""
    canvas.box(left, 21, left + 35, 38, YELLOW, OLIVE)
    canvas.fill(left + 4, 24, left + 31, 24, WHITE)               # highlight on the flap


def draw_sheet(canvas, left, top):
    right, bottom = left + SHEET_WIDTH - 1, top + SHEET_HEIGHT - 1
    canvas.box(left, top, right, bottom, WHITE, BLACK)
    for corner in range(4):                                       # dog-eared top right corner
        for x in range(right - 3 + corner, right + 1):
            canvas.put(x, top + corner, MAGENTA)
        canvas.put(right - 4 + corner, top + corner, BLACK)
        canvas.put(right - 3 + corner, top + 3, SILVER)
    for line in range(top + 5, bottom - 1, 2):                    # lines of text
        canvas.fill(left + 2, line, right - 3, line, GRAY)


def sheet_position(frame):
    """The sheet's top-left corner: from the left folder's mouth to the right one's, in an arc."""
    t = frame / (FRAMES - 1)
    start = LEFT_FOLDER_X + 12
    end = RIGHT_FOLDER_X + 12
    left = round(start + (end - start) * t)
    top = round(11 - 10 * 4 * t * (1 - t))
    return left, top


def draw_frame(frame):
    canvas = Canvas(WIDTH, HEIGHT, MAGENTA)
    for folder in (LEFT_FOLDER_X, RIGHT_FOLDER_X):
        draw_folder_back(canvas, folder)
    draw_sheet(canvas, *sheet_position(frame))
    for folder in (LEFT_FOLDER_X, RIGHT_FOLDER_X):
        draw_folder_front(canvas, folder)
    return canvas.pixels


def encode_runs(row, start, end):
    """Encoded-mode runs (count, colour) for row[start:end]."""
    out = bytearray()
    x = start
    while x < end:
        colour = row[x]
        count = 1
        while x + count < end and row[x + count] == colour and count < 255:
            count += 1
        out += bytes((count, colour))
        x += count
    return out


def encode_key_frame(pixels):
    """Every row as runs; rows go bottom-up as the bitmap stores them."""
    out = bytearray()
    for index, y in enumerate(range(HEIGHT - 1, -1, -1)):
        out += encode_runs(pixels[y], 0, WIDTH)
        out += b"\x00\x01" if index == HEIGHT - 1 else b"\x00\x00"
    return bytes(out)


def changed_spans(before, after):
    """Spans [start, end) of changed pixels; gaps of up to 3 unchanged pixels are re-sent
    because a delta escape costs as much as two runs."""
    spans = []
    for x in range(WIDTH):
        if before[x] == after[x]:
            continue
        if spans and x - spans[-1][1] <= 3:
            spans[-1][1] = x + 1
        else:
            spans.append([x, x + 1])
    return spans


def encode_delta(dx, dy):
    """Delta escapes: move right dx and up (towards later rows) dy, at most 255 each."""
    out = bytearray()
    while dx > 0 or dy > 0:
        step_x, step_y = min(dx, 255), min(dy, 255)
        out += bytes((0, 2, step_x, step_y))
        dx -= step_x
        dy -= step_y
    return out


def encode_delta_frame(before, after):
    """Only the changed pixels; the cursor moves by end-of-line and delta escapes."""
    out = bytearray()
    cursor_x, cursor_row = 0, 0                                   # row counts bottom-up
    for row in range(HEIGHT):
        y = HEIGHT - 1 - row
        for start, end in changed_spans(before[y], after[y]):
            if row > cursor_row and start < cursor_x:
                out += b"\x00\x00"                                # end of line: to column 0
                cursor_x, cursor_row = 0, cursor_row + 1
            out += encode_delta(start - cursor_x, row - cursor_row)
            out += encode_runs(after[y], start, end)
            cursor_x, cursor_row = end, row
    out += b"\x00\x01"
    return bytes(out)


def chunk(fourcc, data):
    pad = b"\x00" if len(data) % 2 else b""
    return fourcc + struct.pack("<I", len(data)) + data + pad


def riff_list(kind, fourcc, body):
    return kind + struct.pack("<I", len(body) + 4) + fourcc + body


def build_clip():
    frames = [draw_frame(i) for i in range(FRAMES)]
    encoded = [encode_key_frame(frames[0])]
    for i in range(1, FRAMES):
        encoded.append(encode_delta_frame(frames[i - 1], frames[i]))
    largest = max(len(data) for data in encoded)

    avih = struct.pack("<14I", MICROSECONDS_PER_FRAME, largest * 1000000 // MICROSECONDS_PER_FRAME,
                       0, AVIF_HASINDEX, FRAMES, 0, 1, largest, WIDTH, HEIGHT, 0, 0, 0, 0)
    strh = (b"vids" + b"RLE " +
            struct.pack("<IHHIIIIIIII", 0, 0, 0, 0, SCALE, RATE, 0, FRAMES, largest, 0xFFFFFFFF, 0) +
            struct.pack("<4h", 0, 0, WIDTH, HEIGHT))
    strf = struct.pack("<IiiHHIIiiII", 40, WIDTH, HEIGHT, 1, 8, BI_RLE8, largest, 0, 0, 16, 16) + rgbquads()
    hdrl = riff_list(b"LIST", b"hdrl", chunk(b"avih", avih) +
                     riff_list(b"LIST", b"strl", chunk(b"strh", strh) + chunk(b"strf", strf)))

    movi_body = bytearray()
    index = bytearray()
    for number, data in enumerate(encoded):
        # Offsets count from the 'movi' tag, as players expect.
        offset = 4 + len(movi_body)
        flags = AVIIF_KEYFRAME if number == 0 else 0
        index += b"00dc" + struct.pack("<III", flags, offset, len(data))
        movi_body += chunk(b"00dc", data)
    movi = riff_list(b"LIST", b"movi", bytes(movi_body))
    return riff_list(b"RIFF", b"AVI ", hdrl + movi + chunk(b"idx1", bytes(index)))


def main():
    if len(sys.argv) != 2:
        sys.stderr.write(__doc__)
        return 2
    with open(sys.argv[1], "wb") as out:
        out.write(build_clip())
    return 0


if __name__ == "__main__":
    sys.exit(main())
