#!/usr/bin/env python3
"""Draws the programs' icon and writes it as a multi-size .ico.

The picture: a blue rounded tile with a white ring and a slanted tail (a
"Q" for Quorel) over a folded-paper corner. Each size is drawn on its own
with 4x4 supersampling, so the small ones stay sharp rather than being a
scaled-down large one. The sizes up to 48 are 32-bit DIBs (what Windows 7's
shell reads best), the 256 one a PNG.

    make_icon.py OUT.ico
"""
import math
import struct
import sys
import zlib

SIZES = (16, 20, 24, 32, 40, 48, 64, 256)
PNG_FROM = 256
SUPERSAMPLE = 4
TILE = (0x1F, 0x5F, 0xB4)      # RGB
TILE_EDGE = (0x12, 0x3C, 0x78)
RING = (0xFF, 0xFF, 0xFF)
CORNER = (0xF2, 0xB1, 0x34)


def coverage(size, x, y, inside):
    """The share of pixel (x, y) that inside() holds, in 0..1."""
    hits = 0
    for sy in range(SUPERSAMPLE):
        for sx in range(SUPERSAMPLE):
            u = (x + (sx + 0.5) / SUPERSAMPLE) / size
            v = (y + (sy + 0.5) / SUPERSAMPLE) / size
            hits += inside(u, v)
    return hits / (SUPERSAMPLE * SUPERSAMPLE)


def in_tile(u, v, inset=0.04, radius=0.18):
    lo, hi = inset + radius, 1 - inset - radius
    cx, cy = min(max(u, lo), hi), min(max(v, lo), hi)
    return (u - cx) ** 2 + (v - cy) ** 2 <= radius ** 2


def in_tile_face(u, v):
    return in_tile(u, v, inset=0.08, radius=0.14)


def in_ring(u, v):
    r = math.hypot(u - 0.46, v - 0.46)
    return 0.17 <= r <= 0.28


def in_tail(u, v):
    # A thick stroke from the ring's lower right outwards.
    ax, ay, bx, by = 0.56, 0.56, 0.78, 0.78
    t = max(0.0, min(1.0, ((u - ax) * (bx - ax) + (v - ay) * (by - ay)) / ((bx - ax) ** 2 + (by - ay) ** 2)))
    return math.hypot(u - (ax + t * (bx - ax)), v - (ay + t * (by - ay))) <= 0.065


def in_corner(u, v):
    return u + (1 - v) >= 1.62 and in_tile_face(u, v) and u > 0.5 and v < 0.5


def blend(under, over, alpha):
    return tuple(round(a * (1 - alpha) + b * alpha) for a, b in zip(under, over))


def pixel(size, x, y):
    """RGBA of one pixel: the tile's edge, its face, the corner, the Q."""
    tile = coverage(size, x, y, in_tile)
    if tile == 0:
        return (0, 0, 0, 0)
    rgb = blend(TILE_EDGE, TILE, coverage(size, x, y, in_tile_face))
    rgb = blend(rgb, CORNER, coverage(size, x, y, in_corner))
    rgb = blend(rgb, RING, coverage(size, x, y, lambda u, v: in_ring(u, v) or in_tail(u, v)))
    return rgb + (round(255 * tile),)


def draw(size):
    return [[pixel(size, x, y) for x in range(size)] for y in range(size)]


def dib(rows):
    """A 32-bit BGRA DIB with its AND mask, rows bottom-up, as .ico wants."""
    size = len(rows)
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    xor = b"".join(bytes((b, g, r, a)) for row in reversed(rows) for (r, g, b, a) in row)
    mask_stride = ((size + 31) // 32) * 4
    mask = bytearray()
    for row in reversed(rows):
        bits = bytearray(mask_stride)
        for x, (_, _, _, a) in enumerate(row):
            if a == 0:
                bits[x // 8] |= 0x80 >> (x % 8)
        mask += bits
    return header + xor + bytes(mask)


def png(rows):
    size = len(rows)
    raw = b"".join(b"\0" + b"".join(bytes(p) for p in row) for row in rows)

    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF)

    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0)) +
            chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b""))


def ico(sizes):
    images = [png(draw(s)) if s >= PNG_FROM else dib(draw(s)) for s in sizes]
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for size, image in zip(sizes, images):
        side = 0 if size >= 256 else size  # 0 stands for 256
        out += struct.pack("<BBBBHHII", side, side, 0, 0, 1, 32, len(image), offset)
        offset += len(image)
    return out + b"".join(images)


if __name__ == "__main__":
    with open(sys.argv[1], "wb") as f:
        f.write(ico(SIZES))
