"""Decor: six sheets of eight objects each (48 decor sprites) with their shadow sheets, and
decorb.dat, the table that cuts them out. Decor 0-23 stand on the floor and cast shadows,
24-31 are floor markings, 32-39 hang above the scene, 40-47 are signs and machines."""
import math
import os
import struct

import numpy as np

from . import paint as P
from .atlas import Sheet

# shadow offsets (sx, sy) per decor sprite; the game holds the same table
SHADOW_OFFSETS = [(1, 0), (-4, 3), (0, 0), (-1, 3), (-4, 5), (0, 4), (-2, 1), (-2, 3)] + [(0, 0)] * 40
SHADOW_SHIFT = 10  # the shadow falls this far to the right, like the walls'
SHADOW_EXTRA = 6


def leafy(sp, cx, cy, r, n, col, seed, pot=None):
    if pot:
        d = P.circle(sp.X, sp.Y, cx, cy, pot)
        sp.outline(d, 1.2)
        sp.shade(d, (190, 110, 70), bevel=4, spec=0.3)
    rng = np.random.RandomState(seed)
    for i in range(n):
        a = 2 * math.pi * i / n + rng.rand() * 0.4
        ln = r * (0.75 + 0.25 * rng.rand())
        ex, ey = cx + ln * math.cos(a), cy + ln * math.sin(a)
        d = P.ellipse(sp.X, sp.Y, (cx + ex) / 2, (cy + ey) / 2, ln / 2, ln / 6.5, a)
        sp.outline(d, 1.0, (20, 50, 20), 0.7)
        shade = 0.8 + 0.2 * rng.rand()
        sp.shade(d, tuple(int(c * shade) for c in col), bevel=3, spec=0.2)
    d = P.circle(sp.X, sp.Y, cx, cy, r * 0.22)
    sp.shade(d, tuple(int(c * 0.8) for c in col), bevel=r * 0.2)


def furniture_box(sp, cx, cy, hw, hh, col, r=4, bevel=5, top=None):
    d = P.box(sp.X, sp.Y, cx, cy, hw, hh, r)
    sp.outline(d, 1.3)
    sp.shade(d, col, bevel=bevel, spec=0.3)
    if top:
        sp.shade(P.box(sp.X, sp.Y, cx, cy, hw - 5, hh - 5, max(1, r - 2)), top, bevel=2, spec=0.2)
    return d


def draw(k, w, h):
    sp = P.Sprite(w, h)
    X, Y = sp.X, sp.Y
    cx, cy = w / 2.0, h / 2.0
    if k == 0:
        leafy(sp, cx, cy, 35, 11, (70, 160, 70), 1, pot=16)
    elif k == 1:
        leafy(sp, cx, cy, 20, 8, (90, 175, 80), 2, pot=10)
    elif k == 2:
        leafy(sp, cx, cy, 43, 9, (60, 140, 60), 3)
    elif k == 3:
        for i, (ox, oy, r) in enumerate(((-10, -6, 18), (12, -4, 16), (0, 10, 18), (-14, 10, 12))):
            d = P.circle(X, Y, cx + ox, cy + oy, r)
            sp.outline(d, 1.0, (20, 50, 20), 0.7)
            sp.shade(d, (60 + 10 * i, 150, 65), bevel=r, spec=0.15)
    elif k == 4:
        d = P.circle(X, Y, cx, cy, 17)
        sp.outline(d, 1.2)
        sp.shade(d, (200, 120, 80), bevel=5, spec=0.3)
        for i in range(6):
            a = i * math.pi / 3
            sp.shade(P.circle(X, Y, cx + 8 * math.cos(a), cy + 8 * math.sin(a), 5.5),
                     [(240, 90, 120), (250, 200, 60), (200, 120, 240)][i % 3], bevel=5, spec=0.4)
    elif k == 5:
        leafy(sp, cx, cy, 45, 14, (50, 130, 55), 5)
    elif k == 6:
        d = P.circle(X, Y, cx, cy, 16)
        sp.outline(d, 1.2)
        sp.shade(d, (90, 160, 90), bevel=16, spec=0.2)
        for i in range(10):
            a = i * math.pi / 5
            sp.fill(P.segment(X, Y, cx + 13 * math.cos(a), cy + 13 * math.sin(a),
                              cx + 18 * math.cos(a), cy + 18 * math.sin(a), 0.4), (240, 240, 200))
    elif k == 7:
        leafy(sp, cx, cy, 28, 16, (80, 170, 90), 7)
    elif k == 8:  # round table
        d = P.circle(X, Y, cx, cy, 32)
        sp.outline(d, 1.3)
        sp.shade(d, (170, 120, 80), bevel=5, spec=0.35)
    elif k == 9:  # long table
        furniture_box(sp, cx, cy, 43, 28, (175, 125, 85), r=5)
    elif k == 10:  # chair
        furniture_box(sp, cx, cy + 2, 15, 14, (160, 110, 75), r=4)
        furniture_box(sp, cx, cy - 12, 15, 4, (130, 90, 60), r=2, bevel=3)
    elif k == 11:  # sofa
        furniture_box(sp, cx, cy, 48, 20, (150, 70, 60), r=8, top=(175, 90, 75))
        furniture_box(sp, cx, cy - 14, 46, 6, (130, 60, 50), r=4, bevel=4)
    elif k == 12:  # bed
        furniture_box(sp, cx, cy, 33, 48, (120, 90, 70), r=5)
        furniture_box(sp, cx, cy + 6, 30, 40, (230, 230, 240), r=5)
        furniture_box(sp, cx, cy - 34, 24, 8, (250, 250, 255), r=6, bevel=6)
    elif k == 13:  # bookshelf
        furniture_box(sp, cx, cy, 43, 12, (140, 95, 60), r=2)
        rng = np.random.RandomState(13)
        for i in range(14):
            x0 = 4 + i * 6
            col = tuple(int(v) for v in rng.randint(80, 230, 3))
            sp.shade(P.box(X, Y, x0 + 3, cy, 2.4, 8, 0.5), col, bevel=1.5)
    elif k == 14:  # armchair
        furniture_box(sp, cx, cy, 21, 21, (90, 110, 160), r=8, top=(110, 130, 180))
    elif k == 15:  # cupboard
        furniture_box(sp, cx, cy, 28, 13, (200, 195, 185), r=3)
        sp.fill(P.box(X, Y, cx, cy, 0.6, 11), (120, 115, 110))
    elif k == 16:  # desk with papers
        furniture_box(sp, cx, cy, 43, 25, (190, 175, 150), r=3)
        sp.shade(P.box(X, Y, cx - 20, cy - 5, 10, 7, 0.5, 0.2), (250, 250, 245), bevel=1)
        sp.shade(P.box(X, Y, cx + 15, cy - 8, 13, 9, 2), (60, 62, 70), bevel=2, spec=0.5)
    elif k == 17:  # computer screen
        furniture_box(sp, cx, cy, 13, 10, (70, 72, 80), r=2, bevel=3)
        sp.shade(P.box(X, Y, cx, cy - 1, 10, 6, 1), (90, 170, 230), bevel=1, amb=1.0)
    elif k == 18:  # filing cabinet
        furniture_box(sp, cx, cy, 15, 20, (150, 160, 170), r=2)
        for i in range(3):
            sp.fill(P.box(X, Y, cx, cy - 10 + i * 10, 6, 1.2, 0.5), (80, 85, 95))
    elif k == 19:  # water cooler
        d = P.circle(X, Y, cx, cy, 13)
        sp.outline(d, 1.2)
        sp.shade(d, (235, 235, 240), bevel=4)
        sp.shade(P.circle(X, Y, cx, cy, 9), (110, 190, 250), bevel=9, spec=0.7)
    elif k == 20:  # printer
        furniture_box(sp, cx, cy, 18, 14, (215, 215, 220), r=3)
        sp.fill(P.box(X, Y, cx, cy - 6, 13, 1.5, 0.5), (40, 40, 45))
    elif k == 21:  # office chair
        d = P.circle(X, Y, cx, cy, 15)
        sp.outline(d, 1.2)
        sp.shade(d, (50, 55, 70), bevel=8, spec=0.3)
        sp.shade(P.box(X, Y, cx, cy - 12, 12, 4, 3), (40, 45, 58), bevel=3)
    elif k == 22:  # stack of paper
        for i in range(3):
            sp.shade(P.box(X, Y, cx + i, cy - i, 9, 7, 0.5, 0.1 * i), (245, 245, 240), bevel=1)
    elif k == 23:  # waste bin
        d = P.circle(X, Y, cx, cy, 10)
        sp.outline(d, 1.2)
        sp.shade(P.subtract(d, P.circle(X, Y, cx, cy, 7.5)), (120, 130, 140), bevel=2.5, spec=0.4)
        sp.fill(P.circle(X, Y, cx, cy, 7.5), (60, 60, 65))
    elif k == 24:  # round rug
        d = P.circle(X, Y, cx, cy, 48)
        sp.fill(d, (170, 60, 60), 0.9)
        for r, col in ((40, (220, 180, 90)), (34, (150, 50, 55)), (14, (220, 180, 90))):
            sp.fill(np.abs(P.circle(X, Y, cx, cy, r)) - 1.5, col, 0.9)
    elif k == 25:  # long rug
        d = P.box(X, Y, cx, cy, 58, 33, 3)
        sp.fill(d, (60, 90, 150), 0.9)
        sp.fill(np.abs(P.box(X, Y, cx, cy, 50, 26, 2)) - 1.5, (230, 210, 160), 0.9)
        sp.fill(P.polygon(X, Y, [(cx - 20, cy), (cx, cy - 14), (cx + 20, cy), (cx, cy + 14)]), (230, 210, 160), 0.8)
    elif k == 26:  # stain
        sp.fill(P.union(P.ellipse(X, Y, cx, cy, 16, 11), P.circle(X, Y, cx + 12, cy + 6, 5)), (90, 80, 60), 0.35, soft=3)
    elif k == 27:  # hazard stripes
        d = P.box(X, Y, cx, cy, 41, 9, 1)
        stripes = np.mod(X - Y, 14.0) < 7.0
        sp.put(sp.coverage(d) * stripes, P.rgb((240, 200, 30)), 0.9)
        sp.put(sp.coverage(d) * (~stripes), P.rgb((30, 30, 30)), 0.9)
    elif k == 28:  # drain
        d = P.circle(X, Y, cx, cy, 13)
        sp.shade(d, (110, 112, 118), bevel=2)
        for i in range(-2, 3):
            sp.fill(np.maximum(P.box(X, Y, cx + i * 4.5, cy, 1.3, 10), d + 2), (30, 30, 35))
    elif k == 29:  # floor arrow
        sp.fill(P.polygon(X, Y, [(4, 14), (22, 14), (22, 5), (36, 20), (22, 35), (22, 26), (4, 26)]), (250, 250, 250), 0.75)
    elif k == 30:  # no-smoking floor sign
        d = P.circle(X, Y, cx, cy, 32)
        sp.fill(d, (250, 250, 250), 0.85)
        sp.fill(np.abs(d + 3) - 3, (220, 30, 30), 0.95)
        sp.fill(P.box(X, Y, cx, cy, 18, 4, 1), (80, 80, 80), 0.9)
        sp.fill(P.box(X, Y, cx + 15, cy, 3, 4, 1), (240, 120, 40), 0.9)
        sp.fill(P.box(X, Y, cx, cy, 30, 3, 1.5, math.pi / 4), (220, 30, 30), 0.95)
    elif k == 31:  # manhole cover
        d = P.circle(X, Y, cx, cy, 23)
        sp.shade(d, (100, 100, 105), bevel=3, spec=0.3)
        for r in (8, 15):
            sp.fill(np.abs(P.circle(X, Y, cx, cy, r)) - 1, (60, 60, 65), 0.8)
    elif k == 32:  # ceiling lamp with its glow
        rr = np.hypot(X - cx, Y - cy) / (w / 2.0)
        sp.put(np.clip(1 - rr, 0, 1) ** 2 * 0.35, P.rgb((255, 250, 220)))
        d = P.circle(X, Y, cx, cy, 9)
        sp.shade(d, (255, 250, 220), bevel=9, amb=1.0, spec=0.6)
    elif k == 33:  # air vent
        furniture_box(sp, cx, cy, 18, 18, (190, 195, 200), r=3, bevel=3)
        for i in range(-3, 4):
            sp.fill(P.box(X, Y, cx, cy + i * 4.5, 13, 1.0), (70, 72, 78))
    elif k in (34, 35):  # pipes
        horiz = k == 34
        if horiz:
            d = P.box(X, Y, cx, cy, w / 2.0 - 1, 5.5, 5)
        else:
            d = P.box(X, Y, cx, cy, 5.5, h / 2.0 - 1, 5)
        sp.outline(d, 1.0)
        sp.shade(d, (170, 175, 185), bevel=5.5, spec=0.6)
        for i in (0.2, 0.8):
            if horiz:
                sp.shade(P.box(X, Y, w * i, cy, 3, 7, 1.5), (140, 145, 155), bevel=2, spec=0.5)
            else:
                sp.shade(P.box(X, Y, cx, h * i, 7, 3, 1.5), (140, 145, 155), bevel=2, spec=0.5)
    elif k == 36:  # cable
        pts = [(2 + i * 8, cy + 3 * math.sin(i * 0.9)) for i in range(13)]
        for (a1, b1), (a2, b2) in zip(pts, pts[1:]):
            sp.shade(P.segment(X, Y, a1, b1, a2, b2, 2.2), (40, 40, 45), bevel=2.2, spec=0.4)
    elif k == 37:  # hanging sign "EXIT"
        furniture_box(sp, cx, cy, 28, 10, (40, 190, 90), r=3, bevel=3)
        sp.fill(P.polygon(X, Y, [(cx + 10, cy - 6), (cx + 20, cy), (cx + 10, cy + 6)]), (230, 255, 230))
        sp.fill(P.box(X, Y, cx - 6, cy, 14, 2.2, 1), (230, 255, 230))
    elif k == 38:  # light grid
        rr = np.hypot(X - cx, Y - cy) / (w / 2.0)
        sp.put(np.clip(1 - rr, 0, 1) ** 2 * 0.25, P.rgb((220, 240, 255)))
        furniture_box(sp, cx, cy, 22, 8, (235, 240, 250), r=3, bevel=3)
    elif k == 39:  # ceiling fan
        for i in range(4):
            a = i * math.pi / 2 + 0.3
            sp.shade(P.ellipse(X, Y, cx + 13 * math.cos(a), cy + 13 * math.sin(a), 12, 4, a), (160, 130, 100), bevel=3, spec=0.3)
        sp.shade(P.circle(X, Y, cx, cy, 5), (120, 120, 125), bevel=5, spec=0.6)
    elif k == 40:  # no-smoking sign on a post
        d = P.circle(X, Y, cx, cy, 22)
        sp.outline(d, 1.2)
        sp.shade(d, (250, 250, 250), bevel=3, spec=0.3)
        sp.fill(np.abs(d + 2.5) - 2.5, (220, 30, 30))
        sp.fill(P.box(X, Y, cx, cy, 12, 3, 1), (80, 80, 80))
        sp.fill(P.box(X, Y, cx + 10, cy, 2, 3, 1), (240, 120, 40))
        sp.fill(P.box(X, Y, cx, cy, 20, 2.5, 1.2, math.pi / 4), (220, 30, 30))
    elif k == 41:  # vending machine
        furniture_box(sp, cx, cy, 28, 18, (200, 60, 60), r=3)
        sp.shade(P.box(X, Y, cx - 6, cy, 16, 12, 2), (150, 210, 240), bevel=2, amb=0.9, spec=0.6)
    elif k == 42:  # barrel
        d = P.circle(X, Y, cx, cy, 16)
        sp.outline(d, 1.2)
        sp.shade(d, (60, 120, 170), bevel=5, spec=0.5)
        sp.fill(np.abs(P.circle(X, Y, cx, cy, 10)) - 1, (40, 90, 130))
    elif k == 43:  # crate
        d = furniture_box(sp, cx, cy, 20, 20, (200, 160, 100), r=2, bevel=3)
        sp.fill(np.maximum(P.box(X, Y, cx, cy, 26, 2.2, 0, math.pi / 4), d), (150, 110, 60))
        sp.fill(np.abs(P.box(X, Y, cx, cy, 15, 15)) - 1.2, (150, 110, 60))
    elif k == 44:  # ash bin of a smoking corner
        d = P.circle(X, Y, cx, cy, 13)
        sp.outline(d, 1.2)
        sp.shade(d, (170, 175, 180), bevel=4, spec=0.6)
        sp.fill(P.circle(X, Y, cx, cy, 9), (120, 115, 110))
        for i in range(4):
            a = i * 1.7
            sp.fill(P.segment(X, Y, cx + 4 * math.cos(a), cy + 4 * math.sin(a), cx + 8 * math.cos(a + 0.4),
                              cy + 8 * math.sin(a + 0.4), 1.1), (235, 225, 200))
    elif k == 45:  # poster on the floor stand
        furniture_box(sp, cx, cy, 18, 23, (240, 240, 235), r=2, bevel=2)
        heart_pts = P.heart_pts(cx, cy - 4, 22)
        sp.fill(P.polygon(X, Y, heart_pts), (230, 50, 70))
        sp.fill(P.box(X, Y, cx, cy + 15, 12, 2, 1), (60, 120, 200))
    elif k == 46:  # air purifier
        d = P.box(X, Y, cx, cy, 19, 19, 9)
        sp.outline(d, 1.2)
        sp.shade(d, (235, 240, 245), bevel=6, spec=0.4)
        for r in (12, 8, 4):
            sp.fill(np.abs(P.circle(X, Y, cx, cy, r)) - 0.8, (120, 170, 210))
    else:  # 47: small round table with a cup
        d = P.circle(X, Y, cx, cy, 18)
        sp.outline(d, 1.2)
        sp.shade(d, (220, 215, 205), bevel=4, spec=0.3)
        sp.shade(P.circle(X, Y, cx + 5, cy - 3, 4.5), (250, 250, 250), bevel=2)
        sp.fill(P.circle(X, Y, cx + 5, cy - 3, 3), (110, 70, 40))
    return sp.result()


SIZES = [(76, 76), (48, 48), (92, 92), (66, 56), (40, 40), (96, 96), (40, 40), (64, 64),
         (70, 70), (90, 60), (34, 38), (100, 46), (72, 100), (90, 28), (46, 46), (60, 30),
         (90, 54), (30, 24), (34, 44), (30, 30), (40, 32), (36, 40), (26, 22), (24, 24),
         (100, 100), (120, 70), (46, 32), (84, 20), (30, 30), (40, 40), (70, 70), (50, 50),
         (90, 90), (40, 40), (120, 16), (16, 120), (100, 14), (60, 24), (80, 50), (60, 60),
         (48, 48), (60, 40), (36, 36), (44, 44), (30, 30), (40, 50), (42, 42), (40, 40)]
CASTS_SHADOW = [True] * 24 + [False] * 8 + [False, False, True, True, True, False, False, False] + [True] * 8


def pack(sizes, size=256):
    """First-fit shelf packing with one pixel between rectangles (callers sort by height)."""
    shelves = []  # [y, height, next x]
    out = []
    for w, h in sizes:
        for sh in shelves:
            if sh[2] + w <= size and h <= sh[1]:
                out.append((sh[2], sh[0], sh[2] + w, sh[0] + h))
                sh[2] += w + 1
                break
        else:
            y = shelves[-1][0] + shelves[-1][1] + 1 if shelves else 0
            if y + h > size or w > size:
                raise ValueError("decor sheet full")
            shelves.append([y, h, w + 1])
            out.append((0, y, w, y + h))
    return out


def build(out):
    records = [(0, 0, 0, 0, 0)] * 48
    shadows = [(0, 0, 0, 0, 0)] * 48
    sheets = {}
    for sheet_no in range(6):
        ks = list(range(sheet_no * 8, sheet_no * 8 + 8))
        order = sorted(ks, key=lambda k: -SIZES[k][1])
        rects = dict(zip(order, pack([SIZES[k] for k in order])))
        s = Sheet()
        shsz = [(SIZES[k][0] + SHADOW_SHIFT + 6, SIZES[k][1] + SHADOW_EXTRA) for k in order]
        srects = dict(zip(order, pack(shsz)))
        sh = Sheet()
        for k in ks:
            w, h = SIZES[k]
            res = draw(k, w, h)
            s.place(rects[k], res, label=str(k))
            records[k] = (sheet_no + 1,) + rects[k]
            if CASTS_SHADOW[k]:
                sx, sy = SHADOW_OFFSETS[k]
                sw, shh = shsz[order.index(k)]
                box = np.zeros((shh, sw))
                # silhouette placed so that, after the game's offset, it lies SHADOW_SHIFT to the right
                u0 = SHADOW_SHIFT - sx
                v0 = SHADOW_EXTRA - sy
                box[v0:v0 + h, u0:u0 + w] = res[1][:shh - v0, :sw - u0]
                a = np.clip(P.blur(box, 1.5) * 0.75, 0, 1)
                sh.place(srects[k], (np.zeros((shh, sw, 3)), a), label=str(k))
                shadows[k] = (sheet_no + 1,) + srects[k]
        s.save(out, "Decor%d.png" % (sheet_no + 1), "Decor%dMask.png" % (sheet_no + 1))
        sh.save_mask(out, "Decor%dShadows.png" % (sheet_no + 1))
        sheets["Decor%d" % (sheet_no + 1)] = s
        sheets["Decor%dShadows" % (sheet_no + 1)] = sh
    data = b"".join(struct.pack("<Biiii", *r) for r in records)
    data += b"".join(struct.pack("<Biiii", *r) for r in shadows)
    assert len(data) == 1632
    with open(os.path.join(out, "decorb.dat"), "wb") as f:
        f.write(data)
    return sheets


def write_offsets_include(path):
    lines = ["// generated by tools/content/gen_art.py: the decor shadows' offsets (sx, sy), one",
             "// pair per decor sprite; the shadow images in resources/gfx are drawn for them.", ""]
    for i in range(0, 48, 4):
        lines.append("  " + " ".join("{%d.0f, %d.0f}," % SHADOW_OFFSETS[j] for j in range(i, i + 4)))
    with open(path, "w") as f:
        f.write("\n".join(lines) + "\n")
