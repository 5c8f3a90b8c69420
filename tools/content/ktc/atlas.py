"""A texture sheet: sprites are painted into rectangles, then written as a colour PNG and a grey
mask PNG with premultiplied colour (colour = colour x mask / 255, black where the mask is 0)."""
import os

import numpy as np

from . import png


class Sheet:
    def __init__(self, size=256):
        self.size = size
        self.p = np.zeros((size, size, 3))  # premultiplied colour, 0..1 (may exceed alpha: light)
        self.a = np.zeros((size, size))
        self.rects = []

    def place(self, rect, result, margin=True, stretch=None, label=None):
        """Copies a painted sprite into rect (left, top, right, bottom). With margin the outer ring
        of the rectangle stays transparent, except across a stretched axis ('x' or 'y')."""
        l, t, r, b = rect
        c, a = result
        self.p[t:b, l:r] = c
        self.a[t:b, l:r] = a
        if margin:
            if stretch != "y":
                self.clear((l, t, r, t + 1))
                self.clear((l, b - 1, r, b))
            if stretch != "x":
                self.clear((l, t, l + 1, b))
                self.clear((r - 1, t, r, b))
        if label is not None:
            self.rects.append((label, rect))

    def clear(self, rect):
        l, t, r, b = rect
        self.p[t:b, l:r] = 0
        self.a[t:b, l:r] = 0

    def copy_col(self, src_x, dst_x, t, b):
        self.p[t:b, dst_x] = self.p[t:b, src_x]
        self.a[t:b, dst_x] = self.a[t:b, src_x]

    def copy_row(self, src_y, dst_y, l, r):
        self.p[dst_y, l:r] = self.p[src_y, l:r]
        self.a[dst_y, l:r] = self.a[src_y, l:r]

    def mask8(self):
        return np.clip(np.round(self.a * 255), 0, 255).astype(np.uint8)

    def colour8(self):
        m = self.mask8().astype(np.int32)
        c = np.clip(np.round(self.p * 255), 0, 255).astype(np.int32)
        c = np.minimum(c, m[..., None])  # premultiplied: never brighter than its coverage
        return c.astype(np.uint8)

    def light8(self):
        """Colour of an emissive sheet (its mask is black.png): the light as it is added."""
        return np.clip(np.round(self.p * 255), 0, 255).astype(np.uint8)

    def save(self, folder, colour_name, mask_name=None, colour_mode="RGB", emissive=False):
        if emissive:
            c = self.light8()
        else:
            c = self.colour8()
        write_colour(os.path.join(folder, colour_name), c, colour_mode)
        if mask_name:
            png.write_png(os.path.join(folder, mask_name), self.mask8(), "L")

    def save_mask(self, folder, mask_name):
        png.write_png(os.path.join(folder, mask_name), self.mask8(), "L")


def write_colour(path, c, mode):
    if mode == "RGB":
        png.write_png(path, c, "RGB")
    elif mode == "P":
        idx, pal = png.to_palette(c)
        png.write_png(path, idx, "P", pal)
    elif mode == "RGBA":
        a = c.max(axis=2)
        png.write_png(path, np.dstack([c, a]), "RGBA")
    elif mode == "LA":
        g = c.mean(axis=2).round().astype(np.uint8)
        png.write_png(path, np.dstack([g, np.full_like(g, 255)]), "LA")
    else:
        raise ValueError(mode)
