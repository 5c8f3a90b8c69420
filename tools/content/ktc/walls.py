"""Walls, wall shadows, door frames, the floor tiles and the exit.

Wall shapes: the shape byte of a wall cell says which of its four neighbours it joins
(a wall or a door in line with it). The numbering is this game's catalogue; the door frames and
the two extra shadow pieces are drawn for the shapes their lists name, and the level compiler
writes these numbers."""
import math

import numpy as np

from . import paint as P
from .atlas import Sheet

N, E, S, W = 1, 2, 4, 8
# shape number -> joined sides
SHAPE_MASK = [N | S | W, W, S | W, N | S, 0, S, N | E, E | W, E | S, N | W, E, E | S | W, N | E | W,
              N | E | S | W, N, N | E | S]
MASK_SHAPE = {m: s for s, m in enumerate(SHAPE_MASK)}

# the wall band inside a cell: x 5..67, y 16..78 (a door leaf is as thick)
BX0, BX1, BY0, BY1 = 5.0, 67.0, 16.0, 78.0
PAD = 16


def wall_sdf(X, Y, mask):
    d = P.box(X, Y, (BX0 + BX1) / 2, (BY0 + BY1) / 2, (BX1 - BX0) / 2, (BY1 - BY0) / 2)
    far = 400.0
    if mask & N:
        d = np.minimum(d, P.box(X, Y, (BX0 + BX1) / 2, BY0 - far / 2 + 1, (BX1 - BX0) / 2, far / 2))
    if mask & S:
        d = np.minimum(d, P.box(X, Y, (BX0 + BX1) / 2, BY1 + far / 2 - 1, (BX1 - BX0) / 2, far / 2))
    if mask & W:
        d = np.minimum(d, P.box(X, Y, BX0 - far / 2 + 1, (BY0 + BY1) / 2, far / 2, (BY1 - BY0) / 2))
    if mask & E:
        d = np.minimum(d, P.box(X, Y, BX1 + far / 2 - 1, (BY0 + BY1) / 2, far / 2, (BY1 - BY0) / 2))
    return d


def padded(w, h):
    sp = P.Sprite(w + 2 * PAD, h + 2 * PAD)
    return sp, sp.X - PAD, sp.Y - PAD


def crop(res, w, h):
    c, a = res
    return c[PAD:PAD + h, PAD:PAD + w], a[PAD:PAD + h, PAD:PAD + w]


def brick_pattern(X, Y):
    """Stone blocks, periodic in the 84-pixel cell so walls tile."""
    row = np.floor(Y / 14.0)
    off = (row % 2) * 14.0
    bx = np.mod(X + off, 28.0)
    by = np.mod(Y, 14.0)
    m = np.minimum(np.minimum(bx, 28.0 - bx), np.minimum(by, 14.0 - by))
    mortar = np.clip(1.2 - m, 0, 1)
    rnd = np.sin(np.floor((X + off) / 28.0) * 12.9898 + row * 78.233) * 43758.5453
    tone = (rnd - np.floor(rnd)) * 0.08
    return mortar, tone


def wall_tile(mask):
    sp, X, Y = padded(84, 84)
    d = wall_sdf(X, Y, mask)
    mortar, tone = brick_pattern(np.mod(X, 84.0), np.mod(Y, 84.0))
    base = np.stack([0.86 - tone, 0.86 - tone, 0.88 - tone], -1)
    base = base * (1 - 0.22 * mortar[..., None])
    sp.outline(d, 1.2, (30, 30, 35), 0.85)
    sp.shade(d, base, bevel=5.0, amb=0.62, dif=0.5, spec=0.12)
    return crop(sp.result(), 84, 84)


def wall_shadow(mask):
    sp, X, Y = padded(84, 84)
    d = wall_sdf(X, Y, mask)
    sp.fill(d, (0, 0, 0), 0.6, soft=3.0)
    return crop(sp.result(), 84, 84)


def shadow_piece(kind):
    sp = P.Sprite(84, 84)
    if kind == 16:
        # softens the lower right corner of the shadow of a wall that ends towards the east
        d = P.circle(sp.X, sp.Y, 25, 33, 12)
        sp.fill(d, (0, 0, 0), 0.25, soft=10.0)
    else:
        # a contact shade along the front edge of a wall top
        d = P.box(sp.X, sp.Y, 34, 74, 30, 3.5, 3)
        sp.fill(d, (0, 0, 0), 0.22, soft=4.0)
    return sp.result()


def door_part(part):
    """Frame parts, drawn over the wall next to a door. 2/5 above and 3/6 below a door in a
    vertical wall; 4/0 right of and 7/1 left of a door in a horizontal wall."""
    sp = P.Sprite(84, 84)
    metal = (175, 180, 188)
    if part in (2, 5):
        rect = (36, 73, 35, 11)   # bottom of the cell above
        slot = (36, 82, 31, 2.5)
    elif part in (3, 6):
        rect = (36, 11, 35, 11)   # top of the cell below
        slot = (36, 2, 31, 2.5)
    elif part in (4, 0):
        rect = (11, 47, 11, 35)   # left end of the cell to the right
        slot = (2, 47, 2.5, 31)
    else:
        rect = (73, 47, 11, 35)   # right end of the cell to the left
        slot = (82, 47, 2.5, 31)
    d = P.box(sp.X, sp.Y, rect[0], rect[1], rect[2], rect[3], 3)
    sp.outline(d, 1.2)
    sp.shade(d, metal, bevel=3.5, spec=0.5)
    if part in (5, 6, 0, 1):
        # the second style carries warning stripes
        stripes = np.mod(sp.X + sp.Y, 10.0) < 5.0
        inner = P.box(sp.X, sp.Y, rect[0], rect[1], rect[2] - 4, rect[3] - 4, 1)
        sp.put(sp.coverage(inner) * stripes, P.rgb((230, 190, 40)), 0.8)
    sp.fill(P.box(sp.X, sp.Y, *slot, 1), (25, 25, 30), 0.95)
    for k in (-1, 1):
        if part in (2, 5, 3, 6):
            rx, ry = rect[0] + k * (rect[2] - 4), rect[1]
        else:
            rx, ry = rect[0], rect[1] + k * (rect[3] - 4)
        sp.shade(P.circle(sp.X, sp.Y, rx, ry, 2.2), (230, 230, 235), bevel=2.2, spec=0.8)
    return sp.result()


def switch_sprite(on):
    sp = P.Sprite(77, 78)
    d = P.box(sp.X, sp.Y, 36, 47, 26, 26, 6)
    sp.outline(d, 1.2)
    sp.shade(d, (160, 165, 172), bevel=4, spec=0.5)
    sp.shade(P.box(sp.X, sp.Y, 36, 47, 18, 18, 4), (95, 98, 105), bevel=3)
    lamp = (60, 230, 90) if on else (235, 50, 40)
    sp.shade(P.circle(sp.X, sp.Y, 36, 47, 10), lamp, bevel=10, spec=0.9, amb=0.8)
    sp.fill(P.circle(sp.X, sp.Y, 32, 43, 3), (255, 255, 255), 0.7, soft=2)
    # lever: tilted to the left when off, to the right when on
    ang = 0.5 if on else -0.5
    lx, ly = 36 + 16 * math.sin(ang), 47 - 16 * math.cos(ang)
    sp.shade(P.segment(sp.X, sp.Y, 36, 47, lx, ly, 2.5), (70, 70, 78), bevel=2.5, spec=0.6)
    sp.shade(P.circle(sp.X, sp.Y, lx, ly, 4.5), (40, 40, 45), bevel=4.5, spec=0.8)
    return sp.result()


def frame_pos(i):
    return (((i // 3) % 3) * 85, (i % 3) * 85)


def build_walls(out):
    w1, w2, s1, s2, df = Sheet(), Sheet(), Sheet(), Sheet(), Sheet()
    for i in range(16):
        x, y = frame_pos(i)
        sheet = w1 if i < 9 else w2
        sheet.place((x, y, x + 84, y + 84), wall_tile(SHAPE_MASK[i]), margin=False, label="wall %d" % i)
        ssheet = s1 if i < 9 else s2
        ssheet.place((x, y, x + 84, y + 84), wall_shadow(SHAPE_MASK[i]), margin=False, label="shadow %d" % i)
    for i in (16, 17):
        x, y = frame_pos(i)
        s2.place((x, y, x + 84, y + 84), shadow_piece(i), label="piece %d" % i)
    w2.place((173, 88, 250, 166), switch_sprite(False), label="23")
    w2.place((173, 173, 250, 251), switch_sprite(True), label="24")
    for i in range(8):
        x, y = frame_pos(i)
        df.place((x, y, x + 84, y + 84), door_part(i), label="part %d" % i)
    w1.save(out, "wall1.png", "wall1mask.png")
    w2.save(out, "wall2.png", "wall2mask.png")
    s1.save_mask(out, "wall1shadow.png")
    s2.save_mask(out, "wall2shadow.png")
    df.save(out, "DoorFrame1.png", "DoorFrame1Mask.png")
    return {"wall1": w1, "wall2": w2, "wall1shadow": s1, "wall2shadow": s2, "DoorFrame1": df}


# ---------------------------------------------------------------- floor

def floor_tile(k):
    n = 84
    ys, xs = np.mgrid[0:n, 0:n].astype(np.float64) + 0.5
    rng_seed = 100 + k
    nz = P.noise(n, n, 12, rng_seed)
    # make the noise tile: blend with its shifted copy
    nz = 0.5 * (nz + np.roll(np.roll(nz[::-1, ::-1], 0, 0), 0, 1))
    if k == 0:
        v = 0.06 + 0.04 * nz
        return np.dstack([v * 0.9, v * 0.95, v * 1.1])
    if k == 1:  # large square tiles
        m = np.minimum(np.mod(xs, 42.0), np.mod(ys, 42.0))
        grout = np.clip(2.0 - m, 0, 1) + np.clip(m - 40.0, 0, 1)
        v = 0.86 + 0.06 * nz - 0.25 * grout
        return np.dstack([v, v, v * 1.02])
    if k == 2:  # wooden planks
        plank = np.floor(ys / 14.0)
        shift = (plank * 37) % 84
        gx = np.mod(xs + shift, 84.0)
        seam = np.clip(1.5 - np.minimum(np.mod(ys, 14.0), 14 - np.mod(ys, 14.0)), 0, 1)
        endseam = np.clip(1.5 - np.minimum(gx, 84 - gx), 0, 1)
        grain = 0.5 + 0.5 * np.sin((ys * 0.9 + np.sin(xs * 0.15 + plank) * 2.0) * 1.3)
        v = 0.78 + 0.06 * grain + 0.05 * nz - 0.3 * np.maximum(seam, endseam)
        return np.dstack([v * 1.05, v * 0.9, v * 0.72])
    if k == 3:  # carpet
        fine = P.noise(n, n, 2, rng_seed + 7, 2)
        v = 0.72 + 0.1 * fine + 0.06 * nz
        return np.dstack([v, v * 0.92, v * 0.95])
    if k == 4:  # metal checker plate
        u = np.mod(xs, 14.0) - 7
        w = np.mod(ys, 14.0) - 7
        alt = (np.floor(xs / 14.0) + np.floor(ys / 14.0)) % 2
        ridge = np.where(alt == 0, np.abs(u + w), np.abs(u - w))
        bump = np.clip(1.5 - ridge, 0, 1) * (np.hypot(u, w) < 5.5)
        v = 0.74 + 0.05 * nz + 0.14 * bump
        return np.dstack([v, v * 1.01, v * 1.04])
    if k == 5:  # concrete with slab joints
        m = np.minimum(np.mod(xs, 84.0), np.mod(ys, 84.0))
        joint = np.clip(1.5 - m, 0, 1)
        speck = P.noise(n, n, 3, rng_seed + 3, 2)
        v = 0.8 + 0.08 * nz + 0.06 * (speck - 0.5) - 0.2 * joint
        return np.dstack([v, v, v * 0.98])
    if k == 6:  # two-tone chequer
        alt = (np.floor(xs / 21.0) + np.floor(ys / 21.0)) % 2
        v = np.where(alt == 0, 0.92, 0.62) + 0.04 * nz
        return np.dstack([v, v, v])
    if k == 7:  # small mosaic
        cx = np.mod(xs, 12.0) - 6
        cy = np.mod(ys, 12.0) - 6
        edge = np.clip(np.maximum(np.abs(cx), np.abs(cy)) - 4.6, 0, 1)
        cell = np.sin(np.floor(xs / 12.0) * 12.9898 + np.floor(ys / 12.0) * 78.233) * 43758.5453
        tone = (cell - np.floor(cell)) * 0.12
        v = 0.82 + tone - 0.3 * edge
        return np.dstack([v, v * 0.98, v * 0.95])
    # 8: grass
    fine = P.noise(n, n, 2, rng_seed + 11, 2)
    v = 0.65 + 0.2 * fine + 0.1 * nz
    return np.dstack([v * 0.75, v, v * 0.6])


def build_floor(out):
    s = Sheet()
    for k in range(9):
        c, r = k % 3, k // 3
        x, y = c * 85, r * 85
        t = np.clip(floor_tile(k), 0, 1)
        s.p[y:y + 84, x:x + 84] = t
        s.a[y:y + 84, x:x + 84] = 1
        s.rects.append(("floor %d" % k, (x, y, x + 84, y + 84)))
        # the gaps repeat the tile's edge so filtering never reaches a foreign colour
        if x + 84 < 256:
            s.p[y:y + 84, x + 84] = t[:, -1]
            s.a[y:y + 84, x + 84] = 1
        if y + 84 < 256:
            s.p[y + 84, x:x + 84] = t[-1]
            s.a[y + 84, x:x + 84] = 1
    s.save(out, "floor.png", None)
    return s


# ---------------------------------------------------------------- exit

def build_exit(out):
    s = Sheet()
    sh = Sheet()
    # 42: the exit pad (173 x 185), drawn at (0, -35) from the exit cell
    sp = P.Sprite(173, 185)
    d = P.box(sp.X, sp.Y, 88, 95, 84, 88, 10)
    sp.outline(d, 1.4)
    sp.shade(d, (150, 158, 168), bevel=6, spec=0.35)
    inner = P.box(sp.X, sp.Y, 88, 95, 72, 76, 8)
    yy = np.clip((sp.Y - 20) / 150.0, 0, 1)
    col = np.stack([0.25 + 0.1 * yy, 0.75 - 0.2 * yy, 0.45 - 0.1 * yy], -1)
    sp.shade(inner, col, bevel=4, amb=0.9, spec=0.2)
    for i in range(3):
        ax = 42 + i * 40
        arrow = [(ax, 60), (ax + 22, 80), (ax, 100), (ax, 90), (ax - 14, 90), (ax - 14, 70), (ax, 70)]
        a = P.polygon(sp.X, sp.Y, arrow)
        sp.shade(a, (200, 255, 210), bevel=3, amb=1.0, spec=0.4, alpha=0.55 + 0.15 * i)
    for i in range(6):
        sp.shade(P.circle(sp.X, sp.Y, 30 + i * 23, 150, 3.5), (255, 240, 150), bevel=3.5, spec=0.7)
    s.place((0, 8, 173, 193), sp.result(), label="42")
    # 43: the gate post and wall the player walks through (72 x 193), drawn above the figures
    sp = P.Sprite(72, 193)
    d = P.box(sp.X, sp.Y, 40, 96.5, 30, 94, 6)
    sp.outline(d, 1.4)
    sp.shade(d, (185, 190, 200), bevel=6, spec=0.4)
    hole = P.box(sp.X, sp.Y, 30, 127, 22, 28, 6)
    sp.fill(hole, (15, 25, 20), 1.0)
    glow = np.clip(1 - np.abs(sp.X - 12) / 14.0, 0, 1) * (hole < 0)
    sp.put(glow * 0.8, P.rgb((120, 255, 160)))
    sign = P.box(sp.X, sp.Y, 40, 40, 24, 14, 4)
    sp.shade(sign, (40, 200, 90), bevel=3, amb=1.0, spec=0.5)
    sp.fill(P.box(sp.X, sp.Y, 40, 40, 16, 2.5, 1), (230, 255, 235), 0.95)
    sp.fill(P.polygon(sp.X, sp.Y, [(52, 33), (60, 40), (52, 47)]), (230, 255, 235), 0.95)
    s.place((173, 0, 245, 193), sp.result(), label="43")
    # 44: the light curtain at the gate (93 x 10, drawn turned upright)
    sp = P.Sprite(93, 10)
    d = P.box(sp.X, sp.Y, 46.5, 5, 44, 3.5, 3)
    yy = np.exp(-((sp.Y - 5) / 2.0) ** 2)
    sp.put(sp.coverage(d) * yy, P.rgb((170, 255, 200)), 0.9)
    s.place((0, 194, 93, 204), sp.result(), label="44")
    s.save(out, "Exit.png", "ExitMask.png")
    # shadows: 45 over the pad's top, 46 beside the gate, 47 under the pad's front
    sp = P.Sprite(140, 52)
    sp.fill(P.box(sp.X, sp.Y, 75, 30, 62, 16, 8), (0, 0, 0), 0.35, soft=6)
    sh.place((0, 16, 140, 68), sp.result(), label="45")
    sp = P.Sprite(50, 186)
    sp.fill(P.box(sp.X, sp.Y, 14, 96, 16, 86, 6), (0, 0, 0), 0.55, soft=5)
    sh.place((206, 7, 256, 193), sp.result(), label="46")
    sp = P.Sprite(143, 60)
    sp.fill(P.box(sp.X, sp.Y, 80, 16, 64, 12, 6), (0, 0, 0), 0.45, soft=6)
    sh.place((0, 130, 143, 190), sp.result(), label="47")
    sh.save_mask(out, "ExitShadow.png")
    return {"Exit": s, "ExitShadow": sh}


def build(out):
    res = build_walls(out)
    res["floor"] = build_floor(out)
    res.update(build_exit(out))
    return res
