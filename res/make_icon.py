#!/usr/bin/env python3
"""Draws the launcher icon (a crimson V on a dark rounded tile) and writes velmora.ico.

Sizes 256 (PNG-compressed), 48, 32 and 16 (32-bit BMP), all from the same vector shapes,
so the file is reproducible byte for byte.
"""
import struct
import sys
import zlib

BG = (22, 22, 32)
FG = (153, 38, 41)
RIM = (200, 200, 210)


def seg_dist(px, py, ax, ay, bx, by):
    dx, dy = bx - ax, by - ay
    t = max(0.0, min(1.0, ((px - ax) * dx + (py - ay) * dy) / (dx * dx + dy * dy)))
    cx, cy = ax + t * dx, ay + t * dy
    return ((px - cx) ** 2 + (py - cy) ** 2) ** 0.5


def rounded_inside(x, y, r=0.18):
    # Unit square with rounded corners, coordinates in 0..1.
    cx = min(max(x, r), 1 - r)
    cy = min(max(y, r), 1 - r)
    return (x - cx) ** 2 + (y - cy) ** 2 <= r * r


def sample(x, y):
    """Colour and alpha of one point in unit coordinates."""
    if not rounded_inside(x, y):
        return (0, 0, 0, 0)
    if not rounded_inside((x - 0.04) / 0.92, (y - 0.04) / 0.92):
        return RIM + (255,)
    d = min(seg_dist(x, y, 0.27, 0.26, 0.5, 0.76), seg_dist(x, y, 0.73, 0.26, 0.5, 0.76))
    if d < 0.075:
        return FG + (255,)
    return BG + (255,)


def render(size, ss=4):
    rows = []
    for j in range(size):
        row = []
        for i in range(size):
            acc = [0, 0, 0, 0]
            for sj in range(ss):
                for si in range(ss):
                    r, g, b, a = sample((i + (si + 0.5) / ss) / size, (j + (sj + 0.5) / ss) / size)
                    acc[0] += r * a
                    acc[1] += g * a
                    acc[2] += b * a
                    acc[3] += a
            a = acc[3]
            n = ss * ss
            row.append((0, 0, 0, 0) if a == 0 else
                       (round(acc[0] / a), round(acc[1] / a), round(acc[2] / a), round(a / n)))
        rows.append(row)
    return rows


def png(rows):
    size = len(rows)
    raw = b"".join(b"\0" + bytes(c for px in row for c in px) for row in rows)

    def chunk(tag, data):
        return struct.pack(">I", len(data)) + tag + data + struct.pack(">I", zlib.crc32(tag + data) & 0xFFFFFFFF)

    ihdr = struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0)
    return b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", ihdr) + chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b"")


def dib(rows):
    size = len(rows)
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    pixels = b"".join(bytes((b, g, r, a)) for row in reversed(rows) for (r, g, b, a) in row)
    mask_row = ((size + 31) // 32) * 4
    return header + pixels + b"\0" * (mask_row * size)


def main(out):
    images = [(256, png(render(256, 2)))] + [(s, dib(render(s))) for s in (48, 32, 16)]
    data = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for size, blob in images:
        data += struct.pack("<BBBBHHII", size % 256, size % 256, 0, 0, 1, 32, len(blob), offset)
        offset += len(blob)
    data += b"".join(blob for _, blob in images)
    with open(out, "wb") as f:
        f.write(data)


if __name__ == "__main__":
    main(sys.argv[1] if len(sys.argv) > 1 else "velmora.ico")
