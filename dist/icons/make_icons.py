#!/usr/bin/env python3
"""Draws the tool's icon (a recorder lens on a blue tile) as SVG and as PNGs.

Run once when the design changes; the outputs are committed beside this script.
Pure standard library, so it needs nothing beyond python3.
"""
import math
import struct
import sys
import zlib
from pathlib import Path

BLUE = (0x1F, 0x3A, 0x68)
WHITE = (0xF4, 0xF6, 0xFA)
LENS = (0x2E, 0x6F, 0xC9)
RED = (0xE0, 0x4A, 0x2F)

# Shapes on a 1 x 1 canvas, painted in order.
def inside_tile(x, y):
    r, lo, hi = 0.18, 0.04, 0.96
    if not (lo <= x <= hi and lo <= y <= hi):
        return False
    cx = min(max(x, lo + r), hi - r)
    cy = min(max(y, lo + r), hi - r)
    return (x - cx) ** 2 + (y - cy) ** 2 <= r * r

def circle(cx, cy, r):
    return lambda x, y: (x - cx) ** 2 + (y - cy) ** 2 <= r * r

SHAPES = [
    (inside_tile, BLUE),
    (circle(0.5, 0.54, 0.30), WHITE),
    (circle(0.5, 0.54, 0.21), LENS),
    (circle(0.5, 0.54, 0.09), BLUE),
    (circle(0.79, 0.21, 0.07), RED),
]

def pixel(px, py, size, samples=4):
    acc = [0.0, 0.0, 0.0, 0.0]
    for sy in range(samples):
        for sx in range(samples):
            x = (px + (sx + 0.5) / samples) / size
            y = (py + (sy + 0.5) / samples) / size
            colour = None
            for test, c in SHAPES:
                if test(x, y):
                    colour = c
            if colour:
                for i in range(3):
                    acc[i] += colour[i]
                acc[3] += 255
    n = samples * samples
    a = acc[3] / n
    if a == 0:
        return (0, 0, 0, 0)
    return tuple(int(round(acc[i] / (acc[3] / 255))) for i in range(3)) + (int(round(a)),)

def png(size):
    rows = bytearray()
    for py in range(size):
        rows.append(0)
        for px in range(size):
            rows.extend(pixel(px, py, size))
    def chunk(kind, data):
        c = struct.pack(">I", len(data)) + kind + data
        return c + struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0))
            + chunk(b"IDAT", zlib.compress(bytes(rows), 9)) + chunk(b"IEND", b""))

SVG = """<svg xmlns="http://www.w3.org/2000/svg" width="256" height="256" viewBox="0 0 256 256">
  <rect x="10" y="10" width="236" height="236" rx="46" fill="#1F3A68"/>
  <circle cx="128" cy="138" r="77" fill="#F4F6FA"/>
  <circle cx="128" cy="138" r="54" fill="#2E6FC9"/>
  <circle cx="128" cy="138" r="23" fill="#1F3A68"/>
  <circle cx="202" cy="54" r="18" fill="#E04A2F"/>
</svg>
"""

def main():
    out = Path(sys.argv[1] if len(sys.argv) > 1 else Path(__file__).parent)
    (out / "brindle-config-tool.svg").write_text(SVG)
    for size in (48, 128, 256):
        (out / f"brindle-config-tool-{size}.png").write_bytes(png(size))

if __name__ == "__main__":
    main()
