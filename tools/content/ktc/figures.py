"""The figures, seen from above: the player (sprites 1-4 and shadows 5-8), the smokers (four
facings of nine puff frames, their shadows, the eye) and the converted non-smokers (9-12).
Smokers are drawn in light natural colours because the game tints them by their smoke level;
they have no eyes of their own (the eye sprite is drawn over the head at run time)."""
import math

import numpy as np

from . import paint as P
from .atlas import Sheet

DIRS = [(1, 0), (0, -1), (-1, 0), (0, 1)]  # right, up, left, down

# Where the game draws the eyes and holds the cigarette, per facing, in (forward, right) of
# the figure: derived from the head and hand offsets the smoker uses when drawing.
EYE_MID = [(22, -7), (25, 1), (21, 1), (19, -6)]
HAND = [(31, 0), (32, 2), (28, 2), (29, 0)]
NOD = [0, 1, 1, 2, 2, 3, 3, 4, 5]


def local(sp, cx, cy, f):
    fx, fy = DIRS[f]
    rx, ry = -fy, fx
    U = (sp.X - cx) * fx + (sp.Y - cy) * fy
    V = (sp.X - cx) * rx + (sp.Y - cy) * ry
    return U, V


# ---------------------------------------------------------------- player

PLAYER_RECTS = [(1, 1, 135, 74), (1, 78, 69, 212), (72, 133, 201, 203), (138, 1, 211, 130)]


def draw_player(w, h, f):
    sp = P.Sprite(w, h)
    U, V = local(sp, w / 2.0, h / 2.0, f)
    # oxygen tanks on the back
    for v in (-10, 10):
        d = P.circle(U, V, -30, v, 9.5)
        sp.outline(d, 1.2)
        sp.shade(d, (175, 215, 245), bevel=9.5, spec=0.5)
        sp.shade(P.circle(U, V, -30, v, 3.5), (230, 235, 240), bevel=3.5, spec=0.6)
    # hose from the tanks round the right side to the nozzle
    pts = [(-26, 16), (-14, 30), (4, 31), (18, 18), (26, 6)]
    for (a1, b1), (a2, b2) in zip(pts, pts[1:]):
        d = P.segment(U, V, a1, b1, a2, b2, 2.4)
        sp.shade(d, (40, 60, 90), bevel=2.4, spec=0.3)
    # arms under the body edge
    for side in (-1, 1):
        d = P.segment(U, V, -2, 22 * side, 27, 7 * side, 6.5)
        sp.outline(d, 1.2)
        sp.shade(d, (50, 150, 125), bevel=6.5)
    # body: shoulders of the jacket
    d = P.ellipse(U, V, -6, 0, 15, 28)
    sp.outline(d, 1.4)
    sp.shade(d, (60, 175, 145), bevel=9)
    # collar stripes
    sp.fill(P.subtract(P.ellipse(U, V, -6, 0, 15, 28), P.ellipse(U, V, -6, 0, 12, 25)),
            (35, 110, 95), 0.6)
    # the spray gun: held by both hands, pointing forward
    d = P.segment(U, V, 18, 0, 56, 0, 4.6)
    sp.outline(d, 1.2)
    sp.shade(d, (185, 190, 200), bevel=4.6, spec=0.6)
    d = P.segment(U, V, 54, 0, 61, 0, 5.5)
    sp.shade(d, (70, 160, 255), bevel=5.5, spec=0.7)
    d = P.box(U, V, 30, 0, 6, 7, 2)
    sp.shade(d, (90, 95, 110), bevel=3)
    for side in (-1, 1):
        d = P.circle(U, V, 28, 6.5 * side, 5.2)
        sp.outline(d, 1.0)
        sp.shade(d, (236, 192, 160), bevel=5.2)
    # head with a white helmet and a blue stripe
    d = P.circle(U, V, 2, 0, 14)
    sp.outline(d, 1.4)
    sp.shade(d, (245, 245, 250), bevel=14, spec=0.5)
    stripe = np.maximum(P.circle(U, V, 2, 0, 14), np.abs(V) - 3.2)
    sp.shade(stripe, (40, 120, 225), bevel=14, spec=0.4)
    visor = np.maximum(P.circle(U, V, 2, 0, 14), -(U - 10))
    sp.shade(visor, (60, 70, 90), bevel=3, spec=0.8)
    return sp.result()


# ---------------------------------------------------------------- smokers

def draw_person(f, frame, smoker=True, size=(76, 76), centre=(38, 38)):
    w, h = size
    sp = P.Sprite(w, h)
    U, V = local(sp, centre[0], centre[1], f)
    eu, ev = EYE_MID[f]
    hu, hv = HAND[f]
    nod = NOD[frame] if smoker else 0
    # frames 0..8 take the cigarette up to the mouth: the elbow swings out and up, the chest
    # fills with the draw, the cheeks puff and the first smoke leaves the mouth
    t = frame / 8.0 if smoker else 0.0
    grow = 1 + 0.03 * frame if smoker else 1.0
    coat = (190, 165, 135) if smoker else (175, 200, 225)
    sleeve = (170, 145, 118) if smoker else (155, 185, 215)
    # shoes peeking out in front
    for side in (-1, 1):
        d = P.ellipse(U, V, 6, 9 * side, 6.5, 4.5)
        sp.outline(d, 1)
        sp.shade(d, (95, 80, 70), bevel=4)
    if smoker:
        # left arm hangs at the side
        d = P.segment(U, V, -4, -23, 8, -26, 5.8)
        sp.outline(d, 1.2)
        sp.shade(d, sleeve, bevel=5.8)
        d = P.circle(U, V, 10, -26, 4.6)
        sp.shade(d, (232, 196, 170), bevel=4.6)
        # right arm: shoulder, elbow, wrist; the elbow rises away from the body
        ex, ey = -2 + 14 * t, 25 + 4 * t
        wx, wy = hu - 12 + 6 * t, hv + 12 - 7 * t
        d = P.union(P.segment(U, V, -3, 20, ex, ey, 5.8), P.segment(U, V, ex, ey, wx, wy, 5.2))
        sp.outline(d, 1.2)
        sp.shade(d, sleeve, bevel=5.8)
    else:
        # both arms up in a cheer
        for side in (-1, 1):
            d = P.segment(U, V, -3, 21 * side, 14, 27 * side, 5.6)
            sp.outline(d, 1.2)
            sp.shade(d, sleeve, bevel=5.6)
            d = P.circle(U, V, 17, 27 * side, 4.8)
            sp.outline(d, 1)
            sp.shade(d, (232, 196, 170), bevel=4.8)
    d = P.box(U, V, -6, 0, 12 * grow, 23 * grow, 10)
    sp.outline(d, 1.4)
    sp.shade(d, coat, bevel=8)
    # shirt showing at the neck
    d = P.polygon(U, V, [(2, -9), (6, 0), (2, 9), (-3, 0)])
    sp.shade(d, (235, 235, 225) if smoker else (240, 245, 250), bevel=2)
    # head: hair on top, the face towards the front
    cu, cv = eu - 9 - nod, ev
    d = P.circle(U, V, cu, cv, 11.5)
    sp.outline(d, 1.3)
    sp.shade(d, (110, 98, 88) if smoker else (140, 108, 78), bevel=11.5, spec=0.25)
    face = np.maximum(P.circle(U, V, cu, cv, 11.4), P.circle(U, V, cu + 9, cv, 9.5))
    sp.shade(face, (236, 198, 172), bevel=6, spec=0.15)
    if smoker and frame >= 5:
        # cheeks puffed while the smoke is held
        for side in (-1, 1):
            d = P.circle(U, V, cu + 6, cv + 8.5 * side, 2.2 + 0.4 * (frame - 5))
            sp.shade(d, (238, 180, 160), bevel=2.5)
    if smoker:
        # hand with two fingers at the cigarette
        d = P.circle(U, V, hu - 7 + 2 * t, hv + 5 - 3 * t, 5.0)
        sp.outline(d, 1.0)
        sp.shade(d, (232, 196, 170), bevel=5)
        if frame >= 6:
            # the first smoke curls out of the corner of the mouth
            k = frame - 5
            for du, dv, r in ((10, -10, 2.4 + 1.6 * k), (14 + k, -15 - k, 1.8 + 1.3 * k),
                              (6, -17 - k, 1.2 + 1.0 * k)):
                d = P.circle(U, V, cu + du, cv + dv, r)
                sp.shade(d, (228, 230, 234), bevel=r, amb=0.8, dif=0.3, spec=0.0, alpha=0.6)
    else:
        # a smile line in front of the face
        d = np.abs(P.circle(U, V, cu + 2, cv, 8.5)) - 0.7
        d = np.maximum(d, -(U - cu - 7.5))
        sp.fill(d, (150, 70, 60), 0.8)
    return sp.result()


NONSMOKER_RECTS = [(0, 1, 72, 64), (76, 76, 137, 149), (0, 66, 74, 127), (74, 0, 138, 75)]


def silhouette_shadow(alpha, radius=2.0, strength=0.8):
    a = P.blur(alpha, radius) * strength
    return np.zeros(alpha.shape + (3,)), np.clip(a, 0, 1)


def build(out):
    sheets = {}
    # --- smokers: four sheets, one per facing; the eye lives on Smoker2
    smoker_frames = {}
    for f in range(4):
        s = Sheet(256)
        for j in range(9):
            x, y = (j % 3) * 77, ((j // 3) % 3) * 77
            res = draw_person(f, j, True)
            smoker_frames[(f, j)] = res
            s.place((x, y, x + 76, y + 76), res, label="f%d j%d" % (f, j))
        if f == 1:
            eye = P.Sprite(5, 5)
            eye.shade(P.circle(eye.X, eye.Y, 2.5, 2.5, 1.55), (25, 25, 35), bevel=1.5, spec=0.9,
                      power=6)
            s.place((231, 0, 236, 5), eye.result(), label="29")
        s.save(out, "Smoker%d.png" % (f + 1), "Smoker%dMask.png" % (f + 1))
        sheets["Smoker%d" % (f + 1)] = s
    # --- smoker shadows: right-facing silhouettes, pivot (35, 36)
    sh = Sheet(256)
    for j in range(9):
        c, a = smoker_frames[(0, j)]
        box = np.zeros((74, 72))
        box[0:74, 0:72] = np.pad(a, ((0, 4), (0, 0)))[2:76, 3:75]
        x, y = (j % 3) * 73, ((j // 3) % 3) * 75
        sh.place((x, y, x + 72, y + 74), silhouette_shadow(box), label="j%d" % j)
    sh.save_mask(out, "SmokerShadow.png")
    sheets["SmokerShadow"] = sh
    # --- non-smokers
    ns = Sheet(256)
    for f, r in enumerate(NONSMOKER_RECTS):
        w, h = r[2] - r[0], r[3] - r[1]
        ns.place(r, draw_person(f, 0, False, (w, h), (w / 2.0, h / 2.0)), label=str(9 + f))
    ns.save(out, "NonSmoker.png", "NonSmokerMask.png")
    sheets["NonSmoker"] = ns
    return sheets, smoker_frames


def player_sprites():
    res = []
    for f, r in enumerate(PLAYER_RECTS):
        w, h = r[2] - r[0], r[3] - r[1]
        res.append(draw_player(w, h, f))
    return res
