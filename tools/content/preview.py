#!/usr/bin/python3
"""Shows colour image + mask over a background, as the game blends them (premultiplied)."""
import sys

import numpy as np
from PIL import Image


def main(colour, mask, out, scale=2, bg=(70, 90, 80)):
    c = np.asarray(Image.open(colour).convert("RGB"), dtype=np.float64)
    if mask == "-":
        a = np.zeros(c.shape[:2])
    elif mask == "1":
        a = np.ones(c.shape[:2]) * 255
    else:
        a = np.asarray(Image.open(mask).convert("L"), dtype=np.float64)
    h, w = a.shape
    yy, xx = np.mgrid[0:h, 0:w]
    chk = (((yy // 8) + (xx // 8)) % 2)[..., None]
    b = np.array(bg, dtype=np.float64)[None, None, :] * (0.85 + 0.3 * chk)
    o = c + b * (1 - a[..., None] / 255)
    img = Image.fromarray(np.clip(o, 0, 255).astype(np.uint8))
    img = img.resize((w * scale, h * scale), Image.NEAREST)
    img.save(out)


if __name__ == "__main__":
    main(sys.argv[1], sys.argv[2], sys.argv[3], int(sys.argv[4]) if len(sys.argv) > 4 else 2)
