"""The 16 standard VGA colours in the order of the Windows 16-colour table, shared by the
generators of the copy clip and the application icon."""

import struct

BLACK, MAROON, GREEN, OLIVE, NAVY, PURPLE, TEAL, SILVER = range(8)
GRAY, RED, LIME, YELLOW, BLUE, MAGENTA, CYAN, WHITE = range(8, 16)

COLOURS = [
    (0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0),
    (0, 0, 128), (128, 0, 128), (0, 128, 128), (192, 192, 192),
    (128, 128, 128), (255, 0, 0), (0, 255, 0), (255, 255, 0),
    (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255),
]


def rgbquads():
    """The table as 16 RGBQUADs (blue, green, red, reserved)."""
    return b"".join(struct.pack("<4B", b, g, r, 0) for r, g, b in COLOURS)


class Canvas:
    """A top-down grid of colour indices with the few drawing primitives the pictures need."""

    def __init__(self, width, height, fill):
        self.width = width
        self.height = height
        self.pixels = [[fill] * width for _ in range(height)]

    def put(self, x, y, colour):
        if 0 <= x < self.width and 0 <= y < self.height:
            self.pixels[y][x] = colour

    def fill(self, left, top, right, bottom, colour):
        """Fills the inclusive rectangle."""
        for y in range(top, bottom + 1):
            for x in range(left, right + 1):
                self.put(x, y, colour)

    def frame(self, left, top, right, bottom, colour):
        for x in range(left, right + 1):
            self.put(x, top, colour)
            self.put(x, bottom, colour)
        for y in range(top, bottom + 1):
            self.put(left, y, colour)
            self.put(right, y, colour)

    def box(self, left, top, right, bottom, inside, edge):
        self.fill(left, top, right, bottom, inside)
        self.frame(left, top, right, bottom, edge)
