"""Misc1, Misc2 and Misc3: shots, pick-ups, icons, the head-up display pieces, the cigarette,
the laser, keys, door leaf, fire pit, energy pad, the player and the score digits."""
import math

import numpy as np
from PIL import Image, ImageDraw, ImageFont

from . import figures
from . import paint as P
from .atlas import Sheet

FONT = "/usr/share/fonts/truetype/dejavu/DejaVuSans-Bold.ttf"
CIG_LEN = [40, 38, 33, 29, 25, 21, 17, 12, 6, 2]


def heart(sp, cx, cy, size, col=(235, 45, 70), bevel=7, outline=True):
    d = P.polygon(sp.X, sp.Y, P.heart_pts(cx, cy, size))
    if outline:
        sp.outline(d, 1.4, (60, 10, 20))
    sp.shade(d, col, bevel=bevel, spec=0.55, power=14)
    return d


def star_burst(sp, cx, cy, r, core=(255, 255, 255), rim=(90, 170, 255), points=8, rot=0.0):
    d = P.polygon(sp.X, sp.Y, P.star_pts(cx, cy, r, r * 0.45, points, rot))
    glow = np.clip(1 - np.hypot(sp.X - cx, sp.Y - cy) / r, 0, 1)
    sp.put(glow ** 1.5 * 0.8, P.rgb(rim))
    sp.shade(d, rim, bevel=r * 0.3, spec=0.6, amb=0.8)
    c = P.circle(sp.X, sp.Y, cx, cy, r * 0.32)
    sp.shade(c, core, bevel=r * 0.32, spec=0.4, amb=0.9)
    return d


def text_sprite(w, h, ch, size, fill, outline=(30, 20, 10), stroke=2):
    ss = 4
    img = Image.new("L", (w * ss, h * ss), 0)
    all_img = Image.new("L", (w * ss, h * ss), 0)
    font = ImageFont.truetype(FONT, size * ss)
    pos = (w * ss // 2, h * ss // 2 + ss)
    ImageDraw.Draw(img).text(pos, ch, font=font, fill=255, anchor="mm")
    ImageDraw.Draw(all_img).text(pos, ch, font=font, fill=255, anchor="mm", stroke_width=stroke * ss,
                                 stroke_fill=255)
    f = np.asarray(img, dtype=np.float64) / 255
    a = np.asarray(all_img, dtype=np.float64) / 255
    yy = (np.arange(h * ss) / (h * ss))[:, None, None]
    top = np.array(fill[0]) / 255.0
    bot = np.array(fill[1]) / 255.0
    fc = top * (1 - yy) + bot * yy
    oc = np.array(outline) / 255.0
    pm = fc * f[..., None] + oc * (a - f).clip(0)[..., None]
    pm = pm.reshape(h, ss, w, ss, 3).mean(axis=(1, 3))
    al = a.reshape(h, ss, w, ss).mean(axis=(1, 3))
    return pm, al


# ---------------------------------------------------------------- Misc1

def build_misc1(out):
    s = Sheet(256)
    # hearts: a beating heart, 8 frames of 58 x 52
    for k in range(8):
        c, r = k % 4, k // 4
        x, y = c * 59, r * 53
        sp = P.Sprite(58, 52)
        beat = 1.0 + 0.09 * math.sin(2 * math.pi * k / 8.0)
        d = heart(sp, 29, 27, 44 * beat)
        # a glint that wanders over the heart
        gx = 17 + 5 * math.cos(2 * math.pi * k / 8.0)
        g = P.ellipse(sp.X, sp.Y, gx, 17, 5.5 * beat, 3.2 * beat, -0.6)
        sp.fill(np.maximum(g, d + 2), (255, 220, 225), 0.75, soft=1.5)
        s.place((x, y, x + 58, y + 52), sp.result(), label="heart %d" % k)
    # sprite 0: a head-up display plate (225 x 56)
    sp = P.Sprite(225, 56)
    d = P.box(sp.X, sp.Y, 112.5, 28, 110, 25, 12)
    sp.fill(d, (10, 20, 30), 0.65)
    sp.fill(np.abs(d) - 1.2, (170, 210, 230), 0.9)
    s.place((0, 106, 225, 162), sp.result(), label="0")
    # energy bar: frame (33-35) and the two fills (36-38 healthy, 39-41 low)
    frame_left = P.Sprite(23, 32)
    d = P.box(frame_left.X, frame_left.Y, 23 + 12, 16, 34, 14.5, 9)
    frame_left.fill(d, (10, 15, 25), 0.7)
    frame_left.shade(np.abs(d) - 1.8, (200, 210, 225), bevel=1.8, spec=0.5)
    s.place((205, 204, 228, 236), frame_left.result(), label="33")
    strip = P.Sprite(3, 32)
    d = P.box(strip.X, strip.Y, 1.5, 16, 40, 14.5, 0)
    strip.fill(d, (10, 15, 25), 0.7)
    strip.shade(np.abs(d) - 1.8, (200, 210, 225), bevel=1.8, spec=0.5)
    s.place((228, 204, 231, 236), strip.result(), stretch="x")
    s.rects.append(("34", (229, 204, 230, 236)))
    frame_right = P.Sprite(23, 32)
    d = P.box(frame_right.X, frame_right.Y, -12, 16, 34, 14.5, 9)
    frame_right.fill(d, (10, 15, 25), 0.7)
    frame_right.shade(np.abs(d) - 1.8, (200, 210, 225), bevel=1.8, spec=0.5)
    s.place((231, 204, 254, 236), frame_right.result(), label="35")
    # the inner edges join the stretched strip: no margin there
    for t, cols, y0 in (("hi", [(80, 235, 120), (20, 150, 70)], 106),
                        ("lo", [(255, 120, 60), (200, 20, 20)], 129)):
        def bar(w, h, cx):
            sp = P.Sprite(w, h)
            d = P.box(sp.X, sp.Y, cx, 11, 150, 9.5, 8)
            top, bot = np.array(cols[0]) / 255.0, np.array(cols[1]) / 255.0
            yy = np.clip((sp.Y - 2) / 18, 0, 1)[..., None]
            col = top * (1 - yy) + bot * yy
            sp.shade(d, col, bevel=6, spec=0.5, amb=0.75)
            return sp.result()
        s.place((226, y0, 238, y0 + 22), bar(12, 22, 150 + 1.5), label=str(36 if t == "hi" else 39))
        s.place((238, y0, 241, y0 + 22), bar(3, 22, 1.5), stretch="x")
        s.rects.append((str(37 if t == "hi" else 40), (239, y0, 240, y0 + 22)))
        s.place((241, y0, 252, y0 + 22), bar(11, 22, -150 + 9.5), label=str(38 if t == "hi" else 41))
    # re-open the inner edges of the caps (they meet the strip)
    fl = frame_left.result()
    s.p[205:235, 227] = fl[0][1:31, 22]
    s.a[205:235, 227] = fl[1][1:31, 22]
    s.p[205:235, 231] = s.p[205:235, 229]
    s.a[205:235, 231] = s.a[205:235, 229]
    for y0 in (106, 129):
        s.p[y0 + 1:y0 + 21, 237] = s.p[y0 + 1:y0 + 21, 239]
        s.a[y0 + 1:y0 + 21, 237] = s.a[y0 + 1:y0 + 21, 239]
        s.p[y0 + 1:y0 + 21, 241] = s.p[y0 + 1:y0 + 21, 239]
        s.a[y0 + 1:y0 + 21, 241] = s.a[y0 + 1:y0 + 21, 239]
    # cigarette: tips (10 frames of 15 x 10 at 16 k, 163), filters 17 and 18, paper strip 19
    for k in range(10):
        sp = P.Sprite(15, 10)
        ash = 2 + k * 0.5
        d = P.box(sp.X, sp.Y, 6, 5, 6, 3.6, 1.5)
        sp.shade(d, (235, 235, 230), bevel=2)
        glow = 0.55 + 0.45 * abs(math.sin(k * 1.7))
        e = P.box(sp.X, sp.Y, 8.5, 5, 3.5, 3.6, 2.5)
        sp.shade(e, (255, int(120 + 80 * glow), 40), bevel=2, amb=0.9, spec=0.5)
        a = P.box(sp.X, sp.Y, 11 + ash * 0.3, 5, 1.5 + ash * 0.25, 3.4, 1.5)
        sp.shade(a, (120, 118, 115), bevel=1.5)
        s.place((16 * k, 163, 16 * k + 15, 173), sp.result(), label="tip %d" % k)

    def filter_sprite(w):
        sp = P.Sprite(w, 10)
        d = P.box(sp.X, sp.Y, w / 2.0 + 1, 5, w / 2.0 + 1, 3.6, 0.5)
        sp.shade(d, (215, 140, 60), bevel=2.2, spec=0.3)
        speck = P.noise(40, w * 4, 6, 7 + w)
        sp.put(np.clip(speck - 0.55, 0, 1) * (d < 0), P.rgb((170, 95, 35)))
        band = np.maximum(d, np.abs(sp.X - (w - 2.5)) - 1.0)
        sp.shade(band, (235, 215, 120), bevel=1.5, spec=0.4)
        return sp.result()
    s.place((160, 163, 184, 173), filter_sprite(24), label="17")
    s.place((185, 163, 205, 173), filter_sprite(20), label="18")
    sp = P.Sprite(4, 10)
    d = P.box(sp.X, sp.Y, 2, 5, 10, 3.6, 0)
    sp.shade(d, (245, 245, 240), bevel=2.2, spec=0.3)
    s.place((205, 163, 209, 173), sp.result(), stretch="x")
    s.rects.append(("19", (207, 163, 208, 173)))
    # the laser beam's cross-section: row 163, texels 216..232 and nothing else on the row
    xs = np.arange(17) - 8.0
    core = np.exp(-(xs / 2.2) ** 2)
    halo = np.exp(-(xs / 6.0) ** 2)
    a = np.clip(0.15 + 0.85 * halo, 0, 1) * (np.abs(xs) < 8.5)
    a[0] = a[-1] = 0.0
    colr = np.stack([1.0 * halo + 0.0 * core, 0.15 * halo + 0.85 * core, 0.12 * halo + 0.8 * core], 1)
    pm = np.minimum(colr, a[:, None])
    s.p[163, 216:233] = pm
    s.a[163, 216:233] = a
    s.rects.append(("laser", (216, 163, 233, 164)))
    # option icons: 13 and 14 selected, 15 and 16 not
    for n, (rect, kind, sel) in enumerate([((94, 174, 148, 244), "heart", True),
                                           ((149, 174, 203, 244), "super", True),
                                           ((0, 174, 46, 240), "heart", False),
                                           ((47, 174, 93, 240), "super", False)]):
        w, h = rect[2] - rect[0], rect[3] - rect[1]
        sp = P.Sprite(w, h)
        cx, cy = w / 2.0, h / 2.0
        r = min(w, h) / 2.0 - 2
        d = P.circle(sp.X, sp.Y, cx, cy, r)
        ring = (60, 120, 200) if sel else (70, 75, 85)
        sp.fill(d, (15, 25, 40), 0.75)
        sp.shade(np.abs(d) - 2.0, ring if sel else (120, 125, 135), bevel=2, spec=0.6)
        if kind == "heart":
            heart(sp, cx, cy + 1, r * 1.35, (235, 45, 70) if sel else (150, 90, 100), bevel=6)
        else:
            star_burst(sp, cx, cy, r * 0.85, rim=(90, 170, 255) if sel else (120, 135, 160))
        s.place(rect, sp.result(), label=str(13 + n))
    # 28: the laser emitter (50 x 29)
    sp = P.Sprite(50, 29)
    d = P.box(sp.X, sp.Y, 25, 14.5, 22, 11, 4)
    sp.outline(d, 1.2)
    sp.shade(d, (150, 155, 165), bevel=4, spec=0.6)
    d = P.box(sp.X, sp.Y, 25, 14.5, 14, 6, 2)
    sp.shade(d, (60, 62, 70), bevel=2)
    d = P.circle(sp.X, sp.Y, 25, 14.5, 4.5)
    sp.shade(d, (255, 50, 40), bevel=4.5, spec=0.9, amb=0.9)
    for bx in (8, 42):
        sp.shade(P.circle(sp.X, sp.Y, bx, 14.5, 2.0), (210, 210, 215), bevel=2, spec=0.8)
    s.place((204, 174, 254, 203), sp.result(), label="28")
    # 32: a small sparkle (19 x 20)
    sp = P.Sprite(19, 20)
    rr = np.hypot(sp.X - 9.5, sp.Y - 10)
    glow = np.clip(1 - rr / 8.5, 0, 1) ** 2
    sp.put(glow, P.rgb((255, 255, 255)))
    rays = np.maximum(np.exp(-np.abs(sp.X - 9.5) * 1.4), np.exp(-np.abs(sp.Y - 10) * 1.4)) * np.clip(1 - rr / 9, 0, 1)
    sp.put(np.clip(rays, 0, 1), P.rgb((255, 255, 240)))
    s.place((237, 0, 256, 20), sp.result(), label="32")
    # 48: one opaque white texel (its neighbours too, for filtering)
    s.p[21:24, 253:256] = 1.0
    s.a[21:24, 253:256] = 1.0
    s.rects.append(("48", (254, 22, 255, 23)))
    s.save(out, "Misc1.png", "Misc1Mask.png")
    return s


# ---------------------------------------------------------------- Misc2

def key_sprite(k):
    sp = P.Sprite(33, 32)
    ang = 2 * math.pi * k / 15.0
    sx = math.cos(ang)
    X = 16.5 + (sp.X - 16.5) / max(abs(sx), 0.12)
    Y = sp.Y
    ring = P.subtract(P.circle(X, Y, 16.5, 9.5, 7.5), P.circle(X, Y, 16.5, 9.5, 3.2))
    shaft = P.box(X, Y, 16.5, 20, 2.3, 9.5, 1)
    teeth = P.union(P.box(X, Y, 20.5, 24.5, 2.5, 1.6, 0.5), P.box(X, Y, 20, 28.5, 2.2, 1.6, 0.5))
    d = P.union(ring, shaft, teeth)
    sp.outline(d, 1.1, (40, 40, 45))
    tone = 0.75 + 0.25 * abs(sx)
    sp.shade(d, (int(240 * tone), int(240 * tone), int(235 * tone)), bevel=2.5, spec=0.8, power=10)
    return sp.result()


def build_misc2(out):
    s = Sheet(256)
    for k in range(15):
        c, r = k % 5, k // 5
        x, y = c * 34, r * 33
        s.place((x, y, x + 33, y + 32), key_sprite(k), label="key %d" % k)
    # 21: super weapon (85 x 85)
    sp = P.Sprite(85, 85)
    star_burst(sp, 42.5, 42.5, 38, rim=(110, 190, 255), points=8)
    s.place((171, 0, 256, 85), sp.result(), label="21")
    # 20: oxygen shot (53 x 53): a bubble of fresh air
    sp = P.Sprite(53, 53)
    d = P.circle(sp.X, sp.Y, 26.5, 26.5, 22)
    sp.fill(d, (120, 200, 255), 0.45)
    rimd = np.abs(d + 1.5) - 1.5
    sp.fill(rimd, (200, 235, 255), 0.8)
    sp.fill(P.ellipse(sp.X, sp.Y, 19, 17, 7, 4, -0.7), (255, 255, 255), 0.85, soft=2)
    sp.fill(P.circle(sp.X, sp.Y, 34, 35, 2.5), (255, 255, 255), 0.6, soft=1.5)
    s.place((203, 86, 256, 139), sp.result(), label="20")
    # 25: the door leaf (202 x 62), light metal for the key colour
    sp = P.Sprite(202, 62)
    d = P.box(sp.X, sp.Y, 101, 31, 99, 29, 5)
    sp.outline(d, 1.2)
    sp.shade(d, (215, 218, 222), bevel=5, spec=0.4)
    for i in range(8):
        x0 = 20 + i * 23
        st = P.polygon(sp.X, sp.Y, [(x0, 8), (x0 + 10, 8), (x0 + 2, 54), (x0 - 8, 54)])
        sp.fill(np.maximum(st, d + 5), (255, 255, 255), 0.45)
    sp.shade(P.box(sp.X, sp.Y, 101, 31, 90, 3, 1.5), (150, 155, 160), bevel=1.5)
    s.place((0, 101, 202, 163), sp.result(), label="25")
    # 26 / 27: the fire pit, cold and glowing
    for n, hot in ((26, False), (27, True)):
        sp = P.Sprite(84, 84)
        d = P.circle(sp.X, sp.Y, 42, 42, 38)
        sp.outline(d, 1.3)
        sp.shade(d, (120, 115, 110), bevel=5, spec=0.3)
        inner = P.circle(sp.X, sp.Y, 42, 42, 31)
        if hot:
            rr = np.hypot(sp.X - 42, sp.Y - 42) / 31
            col = np.stack([np.ones_like(rr), 0.85 - 0.5 * rr, 0.35 - 0.3 * rr], -1).clip(0, 1)
            sp.shade(inner, col, bevel=3, amb=1.0, dif=0.1, spec=0.0)
        else:
            sp.shade(inner, (55, 50, 48), bevel=3)
        for i in range(-3, 4):
            bar = np.maximum(P.box(sp.X, sp.Y, 42 + i * 8.5, 42, 2.2, 34, 1), inner)
            sp.shade(bar, (80, 78, 76) if not hot else (150, 70, 40), bevel=2, spec=0.5)
        s.place((0, 164, 84, 248) if n == 26 else (85, 164, 169, 248), sp.result(), label=str(n))
    # 30: the energy pad (76 x 76)
    sp = P.Sprite(76, 76)
    hexa = [(38 + 34 * math.cos(math.pi / 3 * i), 38 + 34 * math.sin(math.pi / 3 * i)) for i in range(6)]
    d = P.polygon(sp.X, sp.Y, hexa)
    sp.outline(d, 1.2)
    sp.shade(d, (150, 160, 170), bevel=4, spec=0.5)
    hexi = [(38 + 26 * math.cos(math.pi / 3 * i), 38 + 26 * math.sin(math.pi / 3 * i)) for i in range(6)]
    di = P.polygon(sp.X, sp.Y, hexi)
    rr = np.clip(np.hypot(sp.X - 38, sp.Y - 38) / 26, 0, 1)
    col = np.stack([0.35 + 0.5 * rr, 0.95 - 0.1 * rr, 0.9 + 0.1 * rr], -1).clip(0, 1)
    sp.shade(di, col, bevel=3, amb=1.0, dif=0.2, spec=0.3)
    s.place((171, 165, 247, 241), sp.result(), label="30")
    s.save(out, "Misc2.png", "Misc2Mask.png")
    return s


# ---------------------------------------------------------------- Misc3 and its shadows

def build_misc3(out):
    s = Sheet(256)
    sh = Sheet(256)
    for f, (rect, res) in enumerate(zip(figures.PLAYER_RECTS, figures.player_sprites())):
        s.place(rect, res, label=str(1 + f))
        sh.place(rect, figures.silhouette_shadow(res[1], 2.5, 0.85), label=str(5 + f))
    # 51: the key slot of the head-up display (48 x 47)
    sp = P.Sprite(48, 47)
    d = P.box(sp.X, sp.Y, 24, 23.5, 21, 20.5, 8)
    sp.fill(d, (10, 20, 30), 0.6)
    sp.shade(np.abs(d) - 1.8, (190, 205, 220), bevel=1.8, spec=0.6)
    s.place((72, 77, 120, 124), sp.result(), label="51")
    # 52: the diamond (52 x 48)
    sp = P.Sprite(52, 48)
    outer = [(14, 8), (38, 8), (48, 19), (26, 44), (4, 19)]
    d = P.polygon(sp.X, sp.Y, outer)
    sp.outline(d, 1.2, (20, 40, 60))
    facets = [([(14, 8), (26, 8), (20, 19)], (200, 245, 255)), ([(26, 8), (38, 8), (32, 19)], (150, 225, 255)),
              ([(4, 19), (14, 8), (20, 19)], (170, 235, 255)), ([(20, 19), (26, 8), (32, 19)], (235, 252, 255)),
              ([(32, 19), (38, 8), (48, 19)], (110, 200, 250)), ([(4, 19), (20, 19), (26, 44)], (120, 210, 250)),
              ([(20, 19), (32, 19), (26, 44)], (170, 230, 255)), ([(32, 19), (48, 19), (26, 44)], (70, 170, 235))]
    for pts, col in facets:
        sp.fill(np.maximum(P.polygon(sp.X, sp.Y, pts), d), col)
    sp.fill(np.abs(d) - 0.6, (230, 250, 255), 0.7)
    sp.fill(P.circle(sp.X, sp.Y, 17, 13, 2.2), (255, 255, 255), 0.9, soft=1.2)
    s.place((72, 207, 124, 255), sp.result(), label="52")
    # score digits 0-9, '-', '+' (16 x 22)
    chars = [str(i) for i in range(10)] + ["-", "+"]
    for i, ch in enumerate(chars):
        c, r = i % 2, i // 2
        x, y = 213 + c * 17, r * 23
        s.place((x, y, x + 16, y + 22), text_sprite(16, 22, ch, 19, [(255, 240, 140), (255, 170, 30)]),
                label="d%s" % ch)
    s.save(out, "Misc3.png", "Misc3Mask.png")
    sh.save_mask(out, "Misc3Shadow.png")
    return s, sh


def build(out):
    return {"Misc1": build_misc1(out), "Misc2": build_misc2(out), "Misc3": build_misc3(out)}
