#!/usr/bin/env python3
"""Draws the program's icon, a small seat map, and writes hallBoard.ico (PNG images at the usual
sizes). Pure Python: rendered with 4x4 supersampling, stored with zlib. Run it again after a
change and commit both the script and the .ico."""
import struct
import sys
import zlib

# 96, 120, 144 and 192 are the cover's icon at 100 %, 125 %, 150 % and 200 % scaling.
SIZES = [16, 20, 24, 32, 40, 48, 64, 96, 120, 128, 144, 192, 256]
BACK = (7, 13, 24)          # the window background #070D18
PANEL = (17, 27, 46)        # the menu background #111B2E
EDGE = (42, 58, 87)         # #2A3A57
SEAT = (128, 152, 180)      # #8098B4
TAKEN = (59, 130, 246)      # #3B82F6
DESK = (230, 238, 246)      # #E6EEF6


def rounded(x, y, l, t, r, b, rad):
    """True when (x, y) lies in the rectangle l..r, t..b with corner radius rad."""
    if x < l or x > r or y < t or y > b:
        return False
    cx = min(max(x, l + rad), r - rad)
    cy = min(max(y, t + rad), b - rad)
    return (x - cx) ** 2 + (y - cy) ** 2 <= rad * rad


def shapes():
    """The glyph in a unit square: (colour, l, t, r, b, radius), later shapes on top."""
    out = [(EDGE, 0.02, 0.02, 0.98, 0.98, 0.20), (PANEL, 0.06, 0.06, 0.94, 0.94, 0.17)]
    # The front desk along the top.
    out.append((DESK, 0.22, 0.16, 0.78, 0.27, 0.05))
    # Three rows of three seats; a few are taken.
    taken = {(0, 1), (1, 0), (1, 2), (2, 1)}
    for row in range(3):
        for col in range(3):
            l = 0.16 + col * 0.245
            t = 0.38 + row * 0.175
            colour = TAKEN if (row, col) in taken else SEAT
            out.append((colour, l, t, l + 0.19, t + 0.13, 0.04))
    return out


def render(size):
    ss = 4
    shp = shapes()
    pixels = bytearray()
    for py in range(size):
        pixels.append(0)  # PNG filter: none
        for px in range(size):
            acc = [0, 0, 0, 0]
            for sy in range(ss):
                for sx in range(ss):
                    x = (px + (sx + 0.5) / ss) / size
                    y = (py + (sy + 0.5) / ss) / size
                    colour = None
                    for c, l, t, r, b, rad in shp:
                        if rounded(x, y, l, t, r, b, rad):
                            colour = c
                    if colour is not None:
                        acc[0] += colour[0]
                        acc[1] += colour[1]
                        acc[2] += colour[2]
                        acc[3] += 1
            n = ss * ss
            if acc[3]:
                pixels += bytes([acc[0] // acc[3], acc[1] // acc[3], acc[2] // acc[3],
                                 255 * acc[3] // n])
            else:
                pixels += bytes([0, 0, 0, 0])
    return png(size, bytes(pixels))


def png(size, raw):
    def chunk(kind, data):
        return (struct.pack(">I", len(data)) + kind + data +
                struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF))
    header = struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0)  # 8-bit RGBA
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) +
            chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b""))


def main(path):
    images = [render(s) for s in SIZES]
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for s, data in zip(SIZES, images):
        dim = 0 if s >= 256 else s
        out += struct.pack("<BBBBHHII", dim, dim, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    for data in images:
        out += data
    with open(path, "wb") as f:
        f.write(out)


if __name__ == "__main__":
    main(sys.argv[1] if len(sys.argv) > 1 else "hallBoard.ico")
