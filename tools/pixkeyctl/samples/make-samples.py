#!/usr/bin/env python3
"""Draws the three 96x96 sample faces that scripts/run.sh shows (sunrise.png, leaf.png, wave.png).

Plain Python (zlib and struct only), so the pictures can be redrawn anywhere:
    python3 tools/pixkeyctl/samples/make-samples.py tools/pixkeyctl/samples
"""
import math
import os
import struct
import sys
import zlib

N = 96


def write_png(path, pixels):
    raw = b"".join(b"\x00" + bytes(v for px in row for v in px) for row in pixels)

    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF)

    png = b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", N, N, 8, 2, 0, 0, 0))
    png += chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b"")
    with open(path, "wb") as f:
        f.write(png)


def mix(a, b, t):
    t = max(0.0, min(1.0, t))
    return tuple(int(round(a[i] + (b[i] - a[i]) * t)) for i in range(3))


def smooth(edge, x):
    """0 inside, 1 outside, with a one-pixel soft edge (cheap anti-aliasing)."""
    return max(0.0, min(1.0, x - edge + 0.5))


def sunrise():
    rows = []
    for y in range(N):
        row = []
        for x in range(N):
            sky = mix((40, 30, 90), (250, 150, 90), y / 60)
            d = math.hypot(x - 48, y - 62)
            c = mix((255, 225, 120), sky, smooth(22, d))
            if y >= 64:  # sea with soft stripes of reflected light
                sea = mix((30, 60, 110), (15, 30, 70), (y - 64) / 32)
                glow = 0.5 + 0.5 * math.sin(y * 1.3)
                if abs(x - 48) < 26 - (y - 64) * 0.5 and glow > 0.55:
                    sea = mix(sea, (255, 200, 110), 0.7)
                c = sea
            row.append(c)
        rows.append(row)
    return rows


def leaf():
    rows = []
    for y in range(N):
        row = []
        for x in range(N):
            bg = mix((235, 245, 225), (200, 225, 190), (x + y) / (2 * N))
            # A leaf: the overlap of two discs, turned 45 degrees, with a vein.
            u = (x - 48 + y - 48) / math.sqrt(2)
            v = (x - 48 - (y - 48)) / math.sqrt(2)
            d = max(math.hypot(u, v - 26), math.hypot(u, v + 26))
            c = mix(mix((60, 150, 60), (30, 110, 50), (u + 40) / 80), bg, smooth(40, d))
            if d < 40 and abs(v) < 1.0 and abs(u) < 36:
                c = (190, 230, 150)
            # The stem.
            if -46 < u < -34 and abs(v) < 1.5:
                c = (90, 120, 50)
            row.append(c)
        rows.append(row)
    return rows


def wave():
    rows = []
    for y in range(N):
        row = []
        for x in range(N):
            c = mix((250, 245, 230), (200, 230, 245), y / N)
            for i, (base, col) in enumerate(((40, (90, 170, 220)), (56, (40, 120, 190)), (72, (20, 70, 140)))):
                h = base + 7 * math.sin(x / 11.0 + i * 1.7)
                c = mix(col, c, smooth(h, y) if y < h else 0.0) if y >= h - 1 else c
            row.append(c)
        rows.append(row)
    return rows


def main():
    out = sys.argv[1] if len(sys.argv) > 1 else os.path.dirname(os.path.abspath(__file__))
    for name, draw in (("sunrise.png", sunrise), ("leaf.png", leaf), ("wave.png", wave)):
        write_png(os.path.join(out, name), draw())


if __name__ == "__main__":
    main()
