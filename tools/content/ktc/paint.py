"""Signed-distance painting at 4x supersampling: every sprite is built from shapes whose edges
are anti-aliased, shaded with one light from the upper left, and reduced to texture pixels."""
import math

import numpy as np

SS = 4
LIGHT = np.array([-0.45, -0.55, 0.70])
LIGHT = LIGHT / np.linalg.norm(LIGHT)


def rgb(c):
    """'#rrggbb' or a tuple of 0..255 -> array of 0..1."""
    if isinstance(c, str):
        c = tuple(int(c[i:i + 2], 16) for i in (1, 3, 5))
    return np.array(c[:3], dtype=np.float64) / 255.0


# ---- distance functions over coordinate arrays (pixels) ----

def circle(X, Y, cx, cy, r):
    return np.hypot(X - cx, Y - cy) - r


def ellipse(X, Y, cx, cy, rx, ry, ang=0.0):
    c, s = math.cos(ang), math.sin(ang)
    x = (X - cx) * c + (Y - cy) * s
    y = -(X - cx) * s + (Y - cy) * c
    k = np.hypot(x / rx, y / ry)
    return (k - 1.0) * min(rx, ry)


def box(X, Y, cx, cy, hw, hh, r=0.0, ang=0.0):
    c, s = math.cos(ang), math.sin(ang)
    x = np.abs((X - cx) * c + (Y - cy) * s) - (hw - r)
    y = np.abs(-(X - cx) * s + (Y - cy) * c) - (hh - r)
    out = np.hypot(np.maximum(x, 0), np.maximum(y, 0))
    return out + np.minimum(np.maximum(x, y), 0) - r


def segment(X, Y, ax, ay, bx, by, r):
    px, py = X - ax, Y - ay
    vx, vy = bx - ax, by - ay
    ll = vx * vx + vy * vy
    t = np.clip((px * vx + py * vy) / ll, 0, 1) if ll > 0 else 0
    return np.hypot(px - vx * t, py - vy * t) - r


def polygon(X, Y, pts):
    pts = [(float(a), float(b)) for a, b in pts]
    d = np.full(X.shape, 1e9)
    inside = np.zeros(X.shape, dtype=bool)
    n = len(pts)
    for i in range(n):
        ax, ay = pts[i]
        bx, by = pts[(i + 1) % n]
        d = np.minimum(d, segment(X, Y, ax, ay, bx, by, 0.0))
        cond = ((ay > Y) != (by > Y))
        xint = (bx - ax) * (Y - ay) / ((by - ay) if by != ay else 1e-12) + ax
        inside ^= cond & (X < xint)
    return np.where(inside, -d, d)


def union(*ds):
    out = ds[0]
    for d in ds[1:]:
        out = np.minimum(out, d)
    return out


def smooth_union(a, b, k):
    h = np.clip(0.5 + 0.5 * (b - a) / k, 0, 1)
    return b * (1 - h) + a * h - k * h * (1 - h)


def subtract(a, b):
    return np.maximum(a, -b)


def heart_pts(cx, cy, size, n=90):
    pts = []
    for i in range(n):
        t = 2 * math.pi * i / n
        x = 16 * math.sin(t) ** 3
        y = 13 * math.cos(t) - 5 * math.cos(2 * t) - 2 * math.cos(3 * t) - math.cos(4 * t)
        pts.append((cx + x * size / 32.0, cy - y * size / 32.0 - size * 0.05))
    return pts


def star_pts(cx, cy, r1, r2, n, rot=0.0):
    pts = []
    for i in range(2 * n):
        r = r1 if i % 2 == 0 else r2
        a = rot + math.pi * i / n - math.pi / 2
        pts.append((cx + r * math.cos(a), cy + r * math.sin(a)))
    return pts


class Sprite:
    """One drawing surface of w x h texture pixels; colours kept premultiplied internally."""

    def __init__(self, w, h, ss=SS):
        self.w, self.h, self.ss = w, h, ss
        ys, xs = np.mgrid[0:h * ss, 0:w * ss]
        self.X = (xs + 0.5) / ss
        self.Y = (ys + 0.5) / ss
        self.rgb = np.zeros((h * ss, w * ss, 3))
        self.a = np.zeros((h * ss, w * ss))

    def coverage(self, d, soft=0.0):
        if soft > 0:
            return np.clip(0.5 - d / soft, 0, 1)
        return np.clip(0.5 - d * self.ss, 0, 1)

    def put(self, cov, col, alpha=1.0):
        c = (cov * alpha)[..., None]
        col = np.asarray(col, dtype=np.float64)
        if col.ndim == 1:
            col = col[None, None, :]
        self.rgb = col * c + self.rgb * (1 - c)
        self.a = c[..., 0] + self.a * (1 - c[..., 0])

    def add(self, cov, col, alpha=0.0):
        """Emissive paint: adds light (and optionally some coverage)."""
        col = np.asarray(col, dtype=np.float64)
        if col.ndim == 1:
            col = col[None, None, :]
        self.rgb = self.rgb + col * cov[..., None]
        self.a = self.a + (1 - self.a) * cov * alpha

    def fill(self, d, col, alpha=1.0, soft=0.0):
        self.put(self.coverage(d, soft), rgb(col) if not isinstance(col, np.ndarray) else col, alpha)

    def shade(self, d, col, bevel=4.0, amb=0.55, dif=0.6, spec=0.25, power=18, alpha=1.0,
              flat=0.0, soft=0.0):
        """Fills a shape lit as a raised surface: a rounded edge of width `bevel` and a top that
        is flat (flat=1) or domed (flat=0, the default: the whole shape is one cushion)."""
        base = rgb(col) if not isinstance(col, np.ndarray) else col
        depth = np.clip(-d, 0, None)
        t = np.clip(depth / bevel, 0, 1)
        H = bevel * np.sqrt(1 - (1 - t) ** 2)
        gy, gx = np.gradient(H, 1.0 / self.ss)
        nx, ny, nz = -gx, -gy, np.ones_like(H)
        ln = np.sqrt(nx * nx + ny * ny + nz * nz)
        nx, ny, nz = nx / ln, ny / ln, nz / ln
        ndl = np.clip(nx * LIGHT[0] + ny * LIGHT[1] + nz * LIGHT[2], 0, 1)
        # half-vector specular for a viewer straight above
        hv = LIGHT + np.array([0, 0, 1.0])
        hv = hv / np.linalg.norm(hv)
        sp = np.clip(nx * hv[0] + ny * hv[1] + nz * hv[2], 0, 1) ** power
        light = amb + dif * ndl
        if base.ndim == 1:
            colour = base[None, None, :] * light[..., None] + spec * sp[..., None]
        else:
            colour = base * light[..., None] + spec * sp[..., None]
        self.put(self.coverage(d, soft), np.clip(colour, 0, 1), alpha)

    def outline(self, d, width=1.5, col=(25, 25, 30), alpha=0.9):
        self.fill(d - width, col, alpha)

    def result(self):
        """Reduces to texture pixels: (straight colour 0..1 [h,w,3], alpha 0..1 [h,w])."""
        ss = self.ss
        h, w = self.h, self.w
        a = self.a.reshape(h, ss, w, ss).mean(axis=(1, 3))
        c = self.rgb.reshape(h, ss, w, ss, 3).mean(axis=(1, 3))
        return np.clip(c, 0, None), np.clip(a, 0, 1)


def blur(a, radius):
    """Separable box blur applied three times (close to a Gaussian)."""
    r = max(1, int(round(radius)))
    out = a.astype(np.float64)
    for _ in range(3):
        for axis in (0, 1):
            pad = [(0, 0), (0, 0)]
            pad[axis] = (r, r)
            p = np.pad(out, pad, mode="constant")
            cs = np.cumsum(p, axis=axis)
            cs = np.insert(cs, 0, 0, axis=axis)
            n = out.shape[axis]
            hi = np.take(cs, np.arange(2 * r + 1, 2 * r + 1 + n), axis=axis)
            lo = np.take(cs, np.arange(0, n), axis=axis)
            out = (hi - lo) / (2 * r + 1)
    return out


def noise(h, w, scale, seed, octaves=3):
    """Smooth value noise in 0..1, reproducible from the seed."""
    rng = np.random.RandomState(seed)
    out = np.zeros((h, w))
    amp, tot = 1.0, 0.0
    for o in range(octaves):
        s = max(1, int(scale / (2 ** o)))
        gh, gw = h // s + 2, w // s + 2
        g = rng.rand(gh, gw)
        ys = np.arange(h) / s
        xs = np.arange(w) / s
        y0 = np.floor(ys).astype(int)
        x0 = np.floor(xs).astype(int)
        fy = (ys - y0)[:, None]
        fx = (xs - x0)[None, :]
        fy = fy * fy * (3 - 2 * fy)
        fx = fx * fx * (3 - 2 * fx)
        a = g[y0][:, x0]
        b = g[y0][:, x0 + 1]
        c = g[y0 + 1][:, x0]
        d = g[y0 + 1][:, x0 + 1]
        out += amp * (a * (1 - fx) * (1 - fy) + b * fx * (1 - fy) + c * (1 - fx) * fy + d * fx * fy)
        tot += amp
        amp *= 0.5
    return out / tot
