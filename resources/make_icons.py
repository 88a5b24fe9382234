#!/usr/bin/env python3
"""make_icons.py: draws the program's two icons and writes them as 32x32,
16-colour .ico files beside this script (quarn.ico: a white pi sign in a red
circle on black; quarn_dark.ico: all black, the dark phase of the tray
icon's blinking). Standard library only; run it again after changing the
drawing and commit the .ico files it writes."""

import os
import struct

SIZE = 32

# The standard 16-colour palette, in the order Windows uses, as (R, G, B).
PALETTE = [
    (0x00, 0x00, 0x00), (0x80, 0x00, 0x00), (0x00, 0x80, 0x00), (0x80, 0x80, 0x00),
    (0x00, 0x00, 0x80), (0x80, 0x00, 0x80), (0x00, 0x80, 0x80), (0xC0, 0xC0, 0xC0),
    (0x80, 0x80, 0x80), (0xFF, 0x00, 0x00), (0x00, 0xFF, 0x00), (0xFF, 0xFF, 0x00),
    (0x00, 0x00, 0xFF), (0xFF, 0x00, 0xFF), (0x00, 0xFF, 0xFF), (0xFF, 0xFF, 0xFF),
]
BLACK, RED, WHITE = 0, 9, 15

# The pi sign, centred on the circle: '#' is white.
PI_SIGN = [
    "..##############..",
    ".###############..",
    "##..##.....##.....",
    "#...##.....##.....",
    "....##.....##.....",
    "....##.....##.....",
    "....##.....##.....",
    "....##.....##.....",
    "....##.....##.....",
    "...##......##.....",
    "...##......##...#.",
    "..##.......##..##.",
    "..##........####..",
    "..#..........##...",
]


def pi_icon():
    """Rows of palette indices, top row first."""
    pixels = [[BLACK] * SIZE for _ in range(SIZE)]
    centre, radius = (SIZE - 1) / 2, SIZE / 2 - 0.5
    for y in range(SIZE):
        for x in range(SIZE):
            if (x - centre) ** 2 + (y - centre) ** 2 <= radius ** 2:
                pixels[y][x] = RED
    top = (SIZE - len(PI_SIGN)) // 2
    left = (SIZE - len(PI_SIGN[0])) // 2 + 1
    for dy, row in enumerate(PI_SIGN):
        for dx, cell in enumerate(row):
            if cell == "#":
                pixels[top + dy][left + dx] = WHITE
    return pixels


def dark_icon():
    return [[BLACK] * SIZE for _ in range(SIZE)]


def ico_bytes(pixels):
    """One 4-bit image in an icon file: header, directory entry, DIB with
    the colour (XOR) bitmap bottom row first and an all-opaque AND mask."""
    xor = bytearray()
    for row in reversed(pixels):
        for x in range(0, SIZE, 2):
            xor.append((row[x] << 4) | row[x + 1])
    mask = bytes(SIZE * SIZE // 8)  # every bit 0: no transparent pixel
    palette = b"".join(struct.pack("<BBBB", b, g, r, 0) for r, g, b in PALETTE)
    # The DIB's height counts the colour bitmap and the mask together.
    header = struct.pack("<IiiHHIIiiII", 40, SIZE, 2 * SIZE, 1, 4, 0,
                         len(xor) + len(mask), 0, 0, 16, 0)
    image = header + palette + bytes(xor) + mask
    directory = struct.pack("<HHH", 0, 1, 1)
    entry = struct.pack("<BBBBHHII", SIZE, SIZE, 16, 0, 1, 4, len(image), 6 + 16)
    return directory + entry + image


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    for name, pixels in (("quarn.ico", pi_icon()), ("quarn_dark.ico", dark_icon())):
        with open(os.path.join(here, name), "wb") as f:
            f.write(ico_bytes(pixels))


if __name__ == "__main__":
    main()
