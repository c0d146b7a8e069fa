#!/usr/bin/env python3
"""Draws the installer's two icons and writes them as classic Windows icons:
one 32 by 32 image of 16 colours (4 bits per pixel) per file, a BMP-style
colour (XOR) bitmap followed by its transparency (AND) mask.

    velk.ico    icon 1, the main window's: two chat bubbles
    wizard.ico  icon 2, painted on every wizard page: a chat bubble with an
                arrow going down into a tray (installing)

The build uses the committed .ico files; run this only after changing the
drawing:  python3 resources/icons/make_icons.py [OUTPUT_DIR]
"""

import os
import struct
import sys

SIZE = 32

# The 16 standard Windows colours; the index is what a pixel stores.
PALETTE = [
    (0x00, 0x00, 0x00),  # 0 black
    (0x80, 0x00, 0x00),  # 1 maroon
    (0x00, 0x80, 0x00),  # 2 green
    (0x80, 0x80, 0x00),  # 3 olive
    (0x00, 0x00, 0x80),  # 4 navy
    (0x80, 0x00, 0x80),  # 5 purple
    (0x00, 0x80, 0x80),  # 6 teal
    (0xC0, 0xC0, 0xC0),  # 7 silver
    (0x80, 0x80, 0x80),  # 8 grey
    (0xFF, 0x00, 0x00),  # 9 red
    (0x00, 0xFF, 0x00),  # 10 lime
    (0xFF, 0xFF, 0x00),  # 11 yellow
    (0x00, 0x00, 0xFF),  # 12 blue
    (0xFF, 0x00, 0xFF),  # 13 fuchsia
    (0x00, 0xFF, 0xFF),  # 14 aqua
    (0xFF, 0xFF, 0xFF),  # 15 white
]
BLACK, GREEN, NAVY, TEAL, SILVER, GREY = 0, 2, 4, 6, 7, 8
LIME, YELLOW, BLUE, AQUA, WHITE = 10, 11, 12, 14, 15
CLEAR = None  # transparent pixel


def blank():
    return [[CLEAR] * SIZE for _ in range(SIZE)]


def rounded_box(img, left, top, right, bottom, radius, fill, edge):
    """Filled rectangle with rounded corners, inclusive bounds, 1-pixel edge."""
    def inside(x, y, shrink):
        l, t, r, b = left + shrink, top + shrink, right - shrink, bottom - shrink
        rad = max(radius - shrink, 0)
        if x < l or x > r or y < t or y > b:
            return False
        cx = min(max(x, l + rad), r - rad)
        cy = min(max(y, t + rad), b - rad)
        return (x - cx) ** 2 + (y - cy) ** 2 <= rad * rad + rad // 2
    for y in range(SIZE):
        for x in range(SIZE):
            if inside(x, y, 0):
                img[y][x] = fill if inside(x, y, 1) else edge


def triangle(img, a, b, c, fill, edge):
    """Filled triangle; pixels next to the outside get the edge colour."""
    def sign(p, q, r):
        return (p[0] - r[0]) * (q[1] - r[1]) - (q[0] - r[0]) * (p[1] - r[1])

    def inside(x, y):
        p = (x + 0.5, y + 0.5)
        d1, d2, d3 = sign(p, a, b), sign(p, b, c), sign(p, c, a)
        neg = d1 < 0 or d2 < 0 or d3 < 0
        pos = d1 > 0 or d2 > 0 or d3 > 0
        return not (neg and pos)
    cells = [(x, y) for y in range(SIZE) for x in range(SIZE) if inside(x, y)]
    shape = set(cells)
    for x, y in cells:
        border = any((x + dx, y + dy) not in shape and img[y + dy][x + dx] != fill
                     for dx, dy in ((1, 0), (-1, 0), (0, 1), (0, -1))
                     if 0 <= x + dx < SIZE and 0 <= y + dy < SIZE)
        img[y][x] = edge if border else fill


def rect(img, left, top, right, bottom, colour):
    for y in range(top, bottom + 1):
        for x in range(left, right + 1):
            img[y][x] = colour


def dot(img, cx, cy, colour):
    """A round 4 by 4 dot whose upper left centre pixel is (cx, cy)."""
    for dy in (-1, 0, 1, 2):
        for dx in (-1, 0, 1, 2):
            if dx in (-1, 2) and dy in (-1, 2):
                continue
            img[cy + dy][cx + dx] = colour


def bubble(img, left, top, right, bottom, tail_x, fill, edge, tail_right=False):
    """A speech bubble whose tail starts at tail_x and points down and to the
    left (or to the right)."""
    rounded_box(img, left, top, right, bottom, 4, fill, edge)
    way = 1 if tail_right else -1
    triangle(img, (tail_x, bottom - 2), (tail_x - 7 * way, bottom - 2),
             (tail_x + 2 * way, bottom + 7), fill, edge)


def draw_main():
    img = blank()
    # The answering bubble behind, to the upper right.
    bubble(img, 11, 1, 30, 15, 27, AQUA, TEAL, tail_right=True)
    # The speaking bubble in front, with three dots of text.
    bubble(img, 1, 8, 23, 24, 8, BLUE, NAVY)
    for cx in (6, 11, 16):
        dot(img, cx, 16, WHITE)
    return img


def draw_wizard():
    img = blank()
    # The tray the files go into.
    rect(img, 4, 25, 27, 30, GREY)
    rect(img, 5, 25, 26, 29, SILVER)
    rect(img, 8, 25, 23, 26, GREY)
    # The chat bubble.
    bubble(img, 1, 1, 20, 14, 7, BLUE, NAVY)
    for cx in (5, 10, 15):
        dot(img, cx, 7, WHITE)
    # The arrow going down into the tray.
    rect(img, 22, 6, 26, 16, GREEN)
    rect(img, 23, 7, 25, 16, LIME)
    triangle(img, (17.5, 16.5), (31.5, 16.5), (24.5, 24.5), LIME, GREEN)
    return img


def icon_file(img):
    """The bytes of a .ico holding the one 32x32, 4-bit image."""
    header = struct.pack("<IiiHHIIiiII", 40, SIZE, 2 * SIZE, 1, 4, 0, 0, 0, 0, 16, 0)
    palette = b"".join(struct.pack("<BBBB", b, g, r, 0) for r, g, b in PALETTE)
    colours = bytearray()
    mask = bytearray()
    for y in reversed(range(SIZE)):  # bitmaps are stored bottom-up
        row = img[y]
        for x in range(0, SIZE, 2):
            hi = row[x] if row[x] is not None else BLACK
            lo = row[x + 1] if row[x + 1] is not None else BLACK
            colours.append(hi << 4 | lo)
        bits = 0
        for x in range(SIZE):
            bits = bits << 1 | (1 if row[x] is None else 0)
        mask += struct.pack(">I", bits)
    image = header + palette + bytes(colours) + bytes(mask)
    directory = struct.pack("<HHH", 0, 1, 1)
    entry = struct.pack("<BBBBHHII", SIZE, SIZE, 16, 0, 1, 4, len(image), 6 + 16)
    return directory + entry + image


def main():
    out = sys.argv[1] if len(sys.argv) > 1 else os.path.dirname(os.path.abspath(__file__))
    for name, draw in (("velk.ico", draw_main), ("wizard.ico", draw_wizard)):
        with open(os.path.join(out, name), "wb") as f:
            f.write(icon_file(draw()))


if __name__ == "__main__":
    main()
