"""Light sheets (added to the screen: their mask is black.png), the smoke particle, cigarette
shadows and black.png."""
import math
import os

import numpy as np

from . import png
from . import paint as P
from .atlas import Sheet, write_colour

CIG_LEN = [40, 38, 33, 29, 25, 21, 17, 12, 6, 2]


def glow(sp, cx, cy, r, col, power=2.0, k=1.0):
    rr = np.hypot(sp.X - cx, sp.Y - cy) / r
    sp.add(np.clip(1 - rr, 0, 1) ** power * k, P.rgb(col))


def build_lightfx(out):
    s = Sheet()
    sp = P.Sprite(80, 80)
    glow(sp, 40, 40, 39, (255, 250, 220), 2.2, 1.0)
    glow(sp, 40, 40, 14, (255, 255, 255), 1.5, 0.6)
    s.place((1, 1, 81, 81), sp.result(), label="22")
    # 31: the column of light over an energy field; its foot is the bottom left corner
    sp = P.Sprite(158, 157)
    u = (sp.X - 8) / 150.0
    v = (157 - sp.Y) / 157.0
    centre = 35 + 40 * v  # leans to the right as it rises
    width = 26 + 18 * v
    beam = np.exp(-((sp.X - centre) / width) ** 2) * np.clip(1 - v, 0, 1) ** 0.8 * np.clip(v * 6, 0, 1)
    nz = P.noise(157 * 4, 158 * 4, 40, 31)
    sp.add(beam * (0.6 + 0.4 * nz) * 0.7, P.rgb((120, 255, 230)))
    del u
    s.place((82, 1, 240, 158), sp.result(), label="31")
    s.save(out, "LightFX.png", None, colour_mode="RGBA", emissive=True)
    return s


def flame(k):
    sp = P.Sprite(61, 63)
    ph = 2 * math.pi * k / 16.0
    X, Y = sp.X, sp.Y
    t = np.clip((47 - Y) / 44.0, -0.3, 1)  # 0 at the base, 1 at the top
    tp = np.clip(t, 0, 1)
    sway = 4 * math.sin(ph) * tp + 10 * tp ** 1.5 + 2 * np.sin(ph * 2 + tp * 5) * tp
    cx = 15 + sway
    halfw = 12 * (1 - t) ** 0.7 * (1 + 0.15 * np.sin(ph * 3 + t * 7))
    halfw = np.where(t < 0, 12 * np.sqrt(np.clip(1 - (t / 0.3) ** 2, 0, 1)), halfw)
    inside = np.clip(1 - np.abs(X - cx) / np.maximum(halfw, 0.01), 0, 1)
    body = inside ** 0.8 * np.clip(1 - t, 0, 1) ** 0.3
    core = inside ** 2 * np.clip(1 - t * 1.6, 0, 1)
    sp.add(body * 0.9, P.rgb((255, 90, 20)))
    sp.add(body ** 2 * 0.8, P.rgb((255, 170, 40)))
    sp.add(core * 0.8, P.rgb((255, 240, 170)))
    return sp.result()


def build_fire(out):
    s = Sheet()
    for i in range(16):
        x, y = (i % 4) * 64 + 2, (i // 4) * 64
        s.place((x, y, x + 61, y + 63), flame(i), label="flame %d" % i)
    s.save(out, "Fire.png", None, colour_mode="RGB", emissive=True)
    return s


def build_smoke(out):
    s = Sheet()
    for n, (x0, seed) in enumerate(((0, 49), (128, 50))):
        sp = P.Sprite(127, 256)
        nz = P.noise(256 * 4, 127 * 4, 60, seed)
        shaft = np.exp(-((sp.X - 63.5) / (30 + 8 * nz)) ** 2)
        fade = np.clip(sp.Y / 60.0, 0, 1) * np.clip((256 - sp.Y) / 60.0, 0, 1)
        sp.add(shaft * fade * (0.18 + 0.12 * nz), P.rgb((190, 220, 255)))
        s.place((x0, 0, x0 + 127, 256), sp.result(), label=str(49 + n))
    s.save(out, "Smoke.png", None, colour_mode="RGB", emissive=True)
    return s


def build_particle(out):
    s = Sheet(64)
    sp = P.Sprite(64, 64)
    nz = P.noise(256, 256, 20, 35)
    rr = np.hypot(sp.X - 32, sp.Y - 32) / 30.0
    a = np.clip(1 - rr, 0, 1) ** 1.6 * (0.55 + 0.45 * nz)
    sp.put(np.clip(a, 0, 1), P.rgb((215, 215, 210)))
    s.place((0, 0, 64, 64), sp.result(), label="particle")
    s.save(out, "SmokeParticle.png", "SmokeParticleMask.png", colour_mode="RGB")
    return s


def build_cig_shadow(out):
    s = Sheet()
    for k, ln in enumerate(CIG_LEN):
        w = ln + 25
        sp = P.Sprite(w, 10)
        d = P.box(sp.X, sp.Y, w / 2.0, 5, w / 2.0 - 1.5, 2.5, 2.5)
        sp.fill(d, (0, 0, 0), 0.7, soft=2.0)
        s.place((0, 11 * k, w, 11 * k + 10), sp.result(), label="cig %d" % k)
    s.save_mask(out, "CigaretteShadow.png")
    return s


def build_black(out):
    write_colour(os.path.join(out, "black.png"), np.zeros((256, 256, 3), np.uint8), "LA")


def build(out):
    build_black(out)
    return {"LightFX": build_lightfx(out), "Fire": build_fire(out), "Smoke": build_smoke(out),
            "SmokeParticle": build_particle(out), "CigaretteShadow": build_cig_shadow(out)}
