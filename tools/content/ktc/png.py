"""A small PNG writer: we decide the colour type, the chunk order (IHDR, gAMA, PLTE, IDAT, IEND)
and the compression, so the files come out the same on every run."""
import struct
import zlib

import numpy as np

GAMMA = 45455  # 1/2.2: the decoder's gamma table is then the identity


def _chunk(kind, data):
    body = kind + data
    return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)


def _filter_rows(raw, bpp):
    """Chooses per row the filter with the smallest sum of absolute values (a common heuristic)."""
    h, rb = raw.shape
    out = bytearray()
    prev = np.zeros(rb, dtype=np.int16)
    for y in range(h):
        row = raw[y].astype(np.int16)
        left = np.concatenate([np.zeros(bpp, np.int16), row[:-bpp]])
        upleft = np.concatenate([np.zeros(bpp, np.int16), prev[:-bpp]])
        cands = [row, row - left, row - prev, row - ((left + prev) >> 1)]
        p = left + prev - upleft
        pa, pb, pc = np.abs(p - left), np.abs(p - prev), np.abs(p - upleft)
        pred = np.where((pa <= pb) & (pa <= pc), left, np.where(pb <= pc, prev, upleft))
        cands.append(row - pred)
        best, bestcost = 0, None
        for i, c in enumerate(cands):
            c8 = (c & 0xFF).astype(np.uint8)
            cost = int(np.minimum(c8, 256 - c8.astype(np.int32)).sum())
            if bestcost is None or cost < bestcost:
                best, bestcost = i, cost
        out.append(best)
        out += (cands[best] & 0xFF).astype(np.uint8).tobytes()
        prev = row
    return bytes(out)


def write_png(path, pixels, mode, palette=None):
    """mode: 'L' (type 0), 'RGB' (2), 'P' (3, palette = list of (r,g,b)), 'LA' (4), 'RGBA' (6)."""
    a = np.asarray(pixels, dtype=np.uint8)
    h, w = a.shape[:2]
    ctype, ch = {"L": (0, 1), "RGB": (2, 3), "P": (3, 1), "LA": (4, 2), "RGBA": (6, 4)}[mode]
    raw = a.reshape(h, w * ch)
    data = b"\x89PNG\r\n\x1a\n"
    data += _chunk(b"IHDR", struct.pack(">IIBBBBB", w, h, 8, ctype, 0, 0, 0))
    data += _chunk(b"gAMA", struct.pack(">I", GAMMA))
    if mode == "P":
        data += _chunk(b"PLTE", b"".join(bytes(c) for c in palette))
    data += _chunk(b"IDAT", zlib.compress(_filter_rows(raw, ch), 9))
    data += _chunk(b"IEND", b"")
    with open(path, "wb") as f:
        f.write(data)


def to_palette(rgb):
    """Exact palette image from an RGB array with at most 256 colours (raises otherwise)."""
    flat = rgb.reshape(-1, 3)
    keys = (flat[:, 0].astype(np.int32) << 16) | (flat[:, 1].astype(np.int32) << 8) | flat[:, 2]
    uniq, inv = np.unique(keys, return_inverse=True)
    if len(uniq) > 256:
        raise ValueError("more than 256 colours: %d" % len(uniq))
    pal = [((k >> 16) & 255, (k >> 8) & 255, k & 255) for k in uniq.tolist()]
    return inv.reshape(rgb.shape[:2]).astype(np.uint8), pal
