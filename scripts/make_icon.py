#!/usr/bin/env python3
"""Draws the reporter's icon and writes it as res/brevora.ico.

Four images, 256, 48, 32 and 16 pixels square, each a 32-bit BGRA bitmap
with its AND mask (no PNG compression, so every Windows version reads them).
The artwork is a white ladybird-like bug on a rounded blue tile, drawn with
signed distances and 4x4 supersampling so that the small sizes stay smooth.

Usage: make_icon.py [OUTPUT]   (default: res/brevora.ico next to this script)
"""
import math
import os
import struct
import sys

SIZES = (256, 48, 32, 16)
SUPER = 4


def rounded_box(x, y, half, radius):
    qx = abs(x) - half + radius
    qy = abs(y) - half + radius
    outside = math.hypot(max(qx, 0.0), max(qy, 0.0))
    return outside + min(max(qx, qy), 0.0) - radius


def ellipse(x, y, cx, cy, rx, ry):
    dx, dy = (x - cx) / rx, (y - cy) / ry
    return (math.hypot(dx, dy) - 1.0) * min(rx, ry)


def segment(x, y, ax, ay, bx, by, width):
    px, py, vx, vy = x - ax, y - ay, bx - ax, by - ay
    t = max(0.0, min(1.0, (px * vx + py * vy) / (vx * vx + vy * vy)))
    return math.hypot(px - vx * t, py - vy * t) - width


def shade(u, v):
    """Colour (r, g, b, a) at unit coordinates u, v in [-1, 1]."""
    if rounded_box(u, v, 0.94, 0.28) > 0.0:
        return (0, 0, 0, 0)
    # Tile: blue, lighter towards the top.
    t = (v + 1.0) / 2.0
    tile = (int(40 + 30 * (1 - t)), int(110 + 50 * (1 - t)), int(200 + 40 * (1 - t)), 255)
    body = ellipse(u, v, 0.0, 0.18, 0.42, 0.52)
    head = ellipse(u, v, 0.0, -0.45, 0.22, 0.18)
    legs = min(
        segment(u, v, -0.40, 0.00, -0.70, -0.20, 0.045),
        segment(u, v, 0.40, 0.00, 0.70, -0.20, 0.045),
        segment(u, v, -0.42, 0.25, -0.75, 0.28, 0.045),
        segment(u, v, 0.42, 0.25, 0.75, 0.28, 0.045),
        segment(u, v, -0.36, 0.50, -0.62, 0.74, 0.045),
        segment(u, v, 0.36, 0.50, 0.62, 0.74, 0.045),
        segment(u, v, -0.10, -0.60, -0.25, -0.82, 0.04),
        segment(u, v, 0.10, -0.60, 0.25, -0.82, 0.04),
    )
    if min(body, head, legs) <= 0.0:
        # The split between the wing cases shows the tile through.
        if body <= 0.0 and abs(u) < 0.035 and v > -0.2:
            return tile
        return (255, 255, 255, 255)
    return tile


def render(size):
    pixels = []
    for y in range(size):
        row = []
        for x in range(size):
            acc = [0, 0, 0, 0]
            for sy in range(SUPER):
                for sx in range(SUPER):
                    u = ((x + (sx + 0.5) / SUPER) / size) * 2.0 - 1.0
                    v = ((y + (sy + 0.5) / SUPER) / size) * 2.0 - 1.0
                    r, g, b, a = shade(u, v)
                    acc[0] += r * a
                    acc[1] += g * a
                    acc[2] += b * a
                    acc[3] += a
            n = SUPER * SUPER
            alpha = acc[3] // n
            if acc[3]:
                colour = [c // acc[3] for c in acc[:3]]
            else:
                colour = [0, 0, 0]
            row.append((colour[0], colour[1], colour[2], alpha))
        pixels.append(row)
    return pixels


def dib(size, pixels):
    """BITMAPINFOHEADER, bottom-up BGRA rows, then the 1-bit AND mask."""
    header = struct.pack('<IiiHHIIiiII', 40, size, size * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    colour = bytearray()
    for row in reversed(pixels):
        for r, g, b, a in row:
            colour += bytes((b, g, r, a))
    stride = ((size + 31) // 32) * 4
    mask = bytearray()
    for row in reversed(pixels):
        line = bytearray(stride)
        for x, (_, _, _, a) in enumerate(row):
            if a == 0:
                line[x // 8] |= 0x80 >> (x % 8)
        mask += line
    return header + bytes(colour) + bytes(mask)


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    out = sys.argv[1] if len(sys.argv) > 1 else os.path.join(here, '..', 'res', 'brevora.ico')
    images = [dib(s, render(s)) for s in SIZES]
    data = bytearray(struct.pack('<HHH', 0, 1, len(images)))
    offset = 6 + 16 * len(images)
    for size, image in zip(SIZES, images):
        dim = 0 if size == 256 else size
        data += struct.pack('<BBBBHHII', dim, dim, 0, 0, 1, 32, len(image), offset)
        offset += len(image)
    for image in images:
        data += image
    with open(out, 'wb') as f:
        f.write(data)


if __name__ == '__main__':
    main()
