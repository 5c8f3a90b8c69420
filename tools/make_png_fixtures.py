#!/usr/bin/env python3
"""Writes the PNG test images under tests/fixtures/png: every colour type and bit depth,
non-interlaced and Adam7, with every filter type used on rows of every pixel size, the image
data split over several IDAT chunks, and gAMA/tRNS chunks on some of them.

Standard library only (zlib does the deflate), deterministic: running it again gives the same
files. The tests decode these with our codec and with libpng and compare the pixels.
    python3 tools/make_png_fixtures.py [output-folder]
"""
import os
import random
import struct
import sys
import zlib

COMBOS = [(0, 1), (0, 2), (0, 4), (0, 8), (0, 16), (2, 8), (2, 16), (3, 1), (3, 2), (3, 4), (3, 8),
          (4, 8), (4, 16), (6, 8), (6, 16)]
CHANNELS = {0: 1, 2: 3, 3: 1, 4: 2, 6: 4}
# Adam7: row start, row step, column start, column step
PASSES = [(0, 8, 0, 8), (0, 8, 4, 8), (4, 8, 0, 4), (0, 4, 2, 4), (2, 4, 0, 2), (0, 2, 1, 2), (1, 2, 0, 1)]


def chunk(kind, data):
    body = kind + data
    return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)


def paeth(a, b, c):
    p = a + b - c
    pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
    if pa <= pb and pa <= pc:
        return a
    return b if pb <= pc else c


def filter_row(kind, raw, prev, bpp):
    out = bytearray(len(raw))
    for i, x in enumerate(raw):
        a = raw[i - bpp] if i >= bpp else 0
        b = prev[i]
        c = prev[i - bpp] if i >= bpp else 0
        pred = (0, a, b, (a + b) >> 1, paeth(a, b, c))[kind]
        out[i] = (x - pred) & 255
    return bytes(out)


def pack_row(samples, depth):
    """Samples of one row (already flattened over channels) into bytes."""
    if depth == 8:
        return bytes(samples)
    if depth == 16:
        return b"".join(struct.pack(">H", s) for s in samples)
    out = bytearray()
    per = 8 // depth
    for i in range(0, len(samples), per):
        v = 0
        group = samples[i:i + per]
        for j in range(per):
            v = (v << depth) | (group[j] if j < len(group) else 0)
        out.append(v)
    return bytes(out)


def make_pixels(rng, w, h, color_type, depth, palette_size):
    """Rows of pixels, each pixel a tuple of channel samples: gradients, flat areas and noise."""
    top = (1 << depth) - 1 if color_type != 3 else palette_size - 1
    ch = CHANNELS[color_type]
    rows = []
    for y in range(h):
        row = []
        for x in range(w):
            region = (x * 3 // max(w, 1) + y * 2 // max(h, 1)) % 3
            px = []
            for c in range(ch):
                if region == 0:  # smooth gradient
                    v = ((x * (c + 1) * 37 + y * 53) * top) // max(1, (w + h) * 40)
                elif region == 1:  # flat
                    v = (top * (c + 1)) // (ch + 1)
                else:  # noise
                    v = rng.randint(0, top)
                px.append(min(top, max(0, v)))
            row.append(tuple(px))
        rows.append(row)
    return rows


def encode(rng, w, h, color_type, depth, interlace, pixels):
    ch = CHANNELS[color_type]
    bpp = max(1, ch * depth // 8)
    stream = bytearray()

    def emit(rows):
        prev = None
        for r in rows:
            raw = pack_row([s for px in r for s in px], depth)
            if prev is None:
                prev = bytes(len(raw))
            kind = rng.randint(0, 4)
            stream.append(kind)
            stream.extend(filter_row(kind, raw, prev, bpp))
            prev = raw

    if interlace == 0:
        emit(pixels)
    else:
        for rs, rstep, cs, cstep in PASSES:
            sub = [[pixels[y][x] for x in range(cs, w, cstep)] for y in range(rs, h, rstep)]
            if sub and sub[0]:  # an empty pass has no bytes at all
                emit(sub)
    return zlib.compress(bytes(stream), 9)


def write_png(path, rng, w, h, color_type, depth, interlace, gamma=None, trns=False, palette_size=None,
              pixel_seed=None):
    """pixel_seed: the same seed gives the same pixels (pairs of interlaced and plain files)."""
    if color_type == 3:
        palette_size = palette_size or min(1 << depth, 200)
    prng = random.Random(pixel_seed) if pixel_seed is not None else rng
    pixels = make_pixels(prng, w, h, color_type, depth, palette_size or 0)
    out = bytearray(b"\x89PNG\r\n\x1a\n")
    out += chunk(b"IHDR", struct.pack(">IIBBBBB", w, h, depth, color_type, 0, 0, interlace))
    if gamma is not None:
        out += chunk(b"gAMA", struct.pack(">I", gamma))
    if color_type == 3:
        pal = bytes(rng.randint(0, 255) for _ in range(palette_size * 3))
        out += chunk(b"PLTE", pal)
    if trns:
        if color_type == 2:
            r, g, b = pixels[0][0]
            out += chunk(b"tRNS", struct.pack(">HHH", r, g, b))
        elif color_type == 0:
            out += chunk(b"tRNS", struct.pack(">H", pixels[0][0][0]))
        elif color_type == 3:
            out += chunk(b"tRNS", bytes(rng.randint(0, 255) for _ in range(palette_size // 2)))
    out += chunk(b"tEXt", b"Comment\x00made by make_png_fixtures")
    data = encode(rng, w, h, color_type, depth, interlace, pixels)
    # Several IDAT chunks of uneven sizes.
    pos = 0
    while pos < len(data):
        n = rng.randint(1, 1500)
        out += chunk(b"IDAT", data[pos:pos + n])
        pos += n
    out += chunk(b"IEND", b"")
    with open(path, "wb") as f:
        f.write(out)


def main():
    root = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), "..", "tests",
                                                               "fixtures", "png")
    os.makedirs(root, exist_ok=True)
    rng = random.Random(20240611)
    gammas = [None, 45455, 100000]
    n = 0
    for color_type, depth in COMBOS:
        for interlace in (0, 1):
            gamma = gammas[n % 3]
            n += 1
            name = "c%dd%d%s.png" % (color_type, depth, "i" if interlace else "n")
            write_png(os.path.join(root, name), rng, 37, 23, color_type, depth, interlace, gamma,
                      trns=color_type in (0, 2, 3))
    # Sizes at the edges of the Adam7 passes: some passes are empty.
    # Each pair shows the same pixels.
    for w, h in [(1, 1), (2, 3), (5, 1), (9, 9)]:
        for interlace in (0, 1):
            write_png(os.path.join(root, "small%dx%d%s.png" % (w, h, "i" if interlace else "n")), rng, w, h,
                      2, 8, interlace, 45455, pixel_seed=w * 100 + h)
    for interlace in (0, 1):
        write_png(os.path.join(root, "grey9x9%s.png" % ("i" if interlace else "n")), rng, 9, 9, 0, 8, interlace,
                  pixel_seed=99)
    # A palette image with fewer entries than its depth allows.
    write_png(os.path.join(root, "c3d2short.png"), rng, 17, 5, 3, 2, 0, None, palette_size=3)


if __name__ == "__main__":
    main()
