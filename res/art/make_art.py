#!/usr/bin/env python3
"""Draws Halvory's icons and preview-button bitmaps.

The bell is described by geometry in a unit square and rasterised at every
icon size with 4x4 supersampling, so each size is drawn for itself rather
than scaled. Icons are 16-colour (4 bits per pixel) with the standard VGA
palette; the running look is a light bell on black, the paused look the same
bell dark on white. The bitmaps are 12x12, 24 bits, black on (192,192,192).

usage: make_art.py OUTDIR
"""
import os
import struct
import sys

ICON_SIZES = (16, 32, 48)

# The standard 16-colour palette (B, G, R, 0 order is applied when written).
PALETTE = [
    (0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0),
    (0, 0, 128), (128, 0, 128), (0, 128, 128), (192, 192, 192),
    (128, 128, 128), (255, 0, 0), (0, 255, 0), (255, 255, 0),
    (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255),
]
BLACK, SILVER, GREY, WHITE = 0, 7, 8, 15


def in_bell(x, y):
    """True when the point (unit square, y down) lies on the bell glyph."""
    cx = 0.5
    dx = abs(x - cx)
    # crown: a small knob on top
    if (x - cx) ** 2 + (y - 0.15) ** 2 <= 0.06 ** 2:
        return True
    # dome: upper half of an ellipse
    if 0.19 <= y <= 0.36 and (dx / 0.21) ** 2 + ((y - 0.36) / 0.17) ** 2 <= 1.0:
        return True
    # body: flares out towards the lip
    if 0.36 <= y <= 0.70:
        t = (y - 0.36) / 0.34
        return dx <= 0.21 + 0.11 * t * t
    # lip
    if 0.70 <= y <= 0.78:
        return dx <= 0.40
    # clapper
    if (x - cx) ** 2 + (y - 0.86) ** 2 <= 0.075 ** 2:
        return True
    return False


def coverage(size):
    """Fraction of each pixel covered by the bell, rows top to bottom."""
    n = 4
    rows = []
    for py in range(size):
        row = []
        for px in range(size):
            hits = 0
            for sy in range(n):
                for sx in range(n):
                    if in_bell((px + (sx + 0.5) / n) / size, (py + (sy + 0.5) / n) / size):
                        hits += 1
            row.append(hits / (n * n))
        rows.append(row)
    return rows


def shade(c, light_on_dark):
    """Four tones from background to glyph."""
    steps = [BLACK, GREY, SILVER, WHITE] if light_on_dark else [WHITE, SILVER, GREY, BLACK]
    if c < 0.2:
        return steps[0]
    if c < 0.5:
        return steps[1]
    if c < 0.8:
        return steps[2]
    return steps[3]


def dib_4bpp(size, light_on_dark):
    cov = coverage(size)
    header = struct.pack('<IiiHHIIiiII', 40, size, size * 2, 1, 4, 0, 0, 0, 0, 16, 0)
    palette = b''.join(struct.pack('<BBBB', b, g, r, 0) for (r, g, b) in PALETTE)
    xor_stride = ((size * 4 + 31) // 32) * 4
    and_stride = ((size + 31) // 32) * 4
    xor = b''
    for row in reversed(cov):           # bottom-up
        line = bytearray(xor_stride)
        for px, c in enumerate(row):
            v = shade(c, light_on_dark)
            line[px // 2] |= v << (4 if px % 2 == 0 else 0)
        xor += bytes(line)
    mask = bytes(and_stride * size)     # fully opaque square
    return header + palette + xor + mask


def ico(light_on_dark):
    images = [dib_4bpp(s, light_on_dark) for s in ICON_SIZES]
    out = struct.pack('<HHH', 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for s, img in zip(ICON_SIZES, images):
        out += struct.pack('<BBBBHHII', s % 256, s % 256, 16, 0, 1, 4, len(img), offset)
        offset += len(img)
    return out + b''.join(images)


def bmp_12(black_pixels):
    size = 12
    stride = size * 3
    pixels = b''
    for y in reversed(range(size)):     # bottom-up
        line = bytearray()
        for x in range(size):
            line += bytes((0, 0, 0)) if black_pixels(x, y) else bytes((192, 192, 192))
        pixels += bytes(line)
    info = struct.pack('<IiiHHIIiiII', 40, size, size, 1, 24, 0, len(pixels), 2835, 2835, 0, 0)
    head = struct.pack('<2sIHHI', b'BM', 14 + len(info) + len(pixels), 0, 0, 14 + len(info))
    assert stride % 4 == 0
    return head + info + pixels


PLAY_ROWS = (2, 4, 6, 8, 10, 12, 12, 10, 8, 6, 4, 2)


def main():
    out = sys.argv[1] if len(sys.argv) > 1 else '.'
    os.makedirs(out, exist_ok=True)
    files = {
        'running.ico': ico(light_on_dark=True),
        'paused.ico': ico(light_on_dark=False),
        'play.bmp': bmp_12(lambda x, y: x < PLAY_ROWS[y]),
        'stop.bmp': bmp_12(lambda x, y: 1 <= x <= 10 and 1 <= y <= 10),
    }
    for name, data in files.items():
        with open(os.path.join(out, name), 'wb') as f:
            f.write(data)


if __name__ == '__main__':
    main()
