"""The full-screen pictures of the game (800 x 600), the menu window's pictures, the dialog
background and the small pictures of the dialogs."""
import math
import os

import numpy as np
from PIL import Image, ImageDraw, ImageFilter, ImageFont

from . import paint as P
from . import png

BOLD = "/usr/share/fonts/truetype/dejavu/DejaVuSans-Bold.ttf"
SANS = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf"


def gradient(w, h, top, bottom):
    t = np.linspace(0, 1, h)[:, None, None]
    a = np.array(top, float)[None, None, :]
    b = np.array(bottom, float)[None, None, :]
    return np.repeat(a * (1 - t) + b * t, w, axis=1)


def vignette(img, k=0.45):
    h, w = img.shape[:2]
    yy, xx = np.mgrid[0:h, 0:w]
    r = np.hypot((xx - w / 2) / (w / 2), (yy - h / 2) / (h / 2))
    return img * (1 - k * np.clip(r - 0.4, 0, 1)[..., None])


def bubbles(img, n, seed, rmin, rmax, col=(180, 230, 255), alpha=0.25):
    h, w = img.shape[:2]
    rng = np.random.RandomState(seed)
    yy, xx = np.mgrid[0:h, 0:w]
    for _ in range(n):
        cx, cy = rng.rand() * w, rng.rand() * h
        r = rmin + rng.rand() * (rmax - rmin)
        x0, x1 = int(max(0, cx - r - 2)), int(min(w, cx + r + 2))
        y0, y1 = int(max(0, cy - r - 2)), int(min(h, cy + r + 2))
        if x0 >= x1 or y0 >= y1:
            continue
        d = np.hypot(xx[y0:y1, x0:x1] - cx, yy[y0:y1, x0:x1] - cy) - r
        ring = np.clip(1.5 - np.abs(d + 1.5), 0, 1) * 0.8 + np.clip(-d / r, 0, 1) * 0.15
        hl = np.clip(1 - np.hypot(xx[y0:y1, x0:x1] - (cx - r * 0.4), yy[y0:y1, x0:x1] - (cy - r * 0.4)) / (r * 0.3), 0, 1)
        a = np.clip(ring + hl * 0.7, 0, 1)[..., None] * alpha
        img[y0:y1, x0:x1] = img[y0:y1, x0:x1] * (1 - a) + np.array(col)[None, None, :] * a
    return img


def smoke_clouds(img, seed, strength=0.5, region=None):
    h, w = img.shape[:2]
    nz = P.noise(h, w, 90, seed, 4)
    m = np.clip((nz - 0.52) * 3.5, 0, 1) * strength
    if region is not None:
        m = m * region
    grey = np.array([150, 150, 155], float)
    return img * (1 - m[..., None]) + grey * m[..., None]


def title_text(draw_img, text, cx, cy, size, fill_top=(255, 255, 255), fill_bot=(160, 220, 255),
               outline=(10, 30, 60), stroke=6, shadow=True):
    """Draws centred text with outline, vertical gradient and a soft drop shadow onto a PIL RGB image."""
    font = ImageFont.truetype(BOLD, size)
    w, h = draw_img.size
    mask = Image.new("L", (w, h), 0)
    ImageDraw.Draw(mask).text((cx, cy), text, font=font, fill=255, anchor="mm")
    omask = Image.new("L", (w, h), 0)
    ImageDraw.Draw(omask).text((cx, cy), text, font=font, fill=255, anchor="mm", stroke_width=stroke, stroke_fill=255)
    base = np.asarray(draw_img, dtype=np.float64)
    if shadow:
        sm = np.asarray(omask.filter(ImageFilter.GaussianBlur(6)), dtype=np.float64) / 255 * 0.6
        sm = np.roll(np.roll(sm, 6, 0), 6, 1)
        base = base * (1 - sm[..., None])
    om = np.asarray(omask, dtype=np.float64)[..., None] / 255
    fm = np.asarray(mask, dtype=np.float64)[..., None] / 255
    base = base * (1 - om) + np.array(outline)[None, None, :] * om
    bbox = mask.getbbox() or (0, 0, w, h)
    t = np.clip((np.arange(h) - bbox[1]) / max(1, bbox[3] - bbox[1]), 0, 1)[:, None, None]
    grad = np.array(fill_top)[None, None, :] * (1 - t) + np.array(fill_bot)[None, None, :] * t
    base = base * (1 - fm) + grad * fm
    return Image.fromarray(np.clip(base, 0, 255).astype(np.uint8))


def save_jpeg(img, path, quality=88):
    if isinstance(img, np.ndarray):
        img = Image.fromarray(np.clip(img, 0, 255).astype(np.uint8))
    img.save(path, "JPEG", quality=quality, optimize=True)


def hero(img, cx, cy, scale=1.0):
    """A large friendly figure with a spray of fresh air, for the title."""
    sp = P.Sprite(int(240 * scale), int(240 * scale), ss=2)
    s = scale
    X, Y = sp.X / s, sp.Y / s
    d = P.circle(X, Y, 120, 150, 70)
    sp.outline(d, 3)
    sp.shade(d, (60, 175, 145), bevel=40, spec=0.3)
    d = P.circle(X, Y, 120, 80, 48)
    sp.outline(d, 3)
    sp.shade(d, (245, 245, 250), bevel=48, spec=0.5)
    sp.shade(np.maximum(P.circle(X, Y, 120, 80, 48), np.abs(X - 120) - 9), (40, 120, 225), bevel=48, spec=0.4)
    for ex in (102, 138):
        sp.shade(P.circle(X, Y, ex, 92, 7), (30, 30, 40), bevel=7, spec=0.9)
    c, a = sp.result()
    h, w = a.shape
    y0, x0 = int(cy - h / 2), int(cx - w / 2)
    reg = img[y0:y0 + h, x0:x0 + w]
    img[y0:y0 + h, x0:x0 + w] = c * 255 + reg * (1 - a[..., None])
    return img


def build_title(out):
    img = gradient(800, 600, (20, 70, 120), (10, 25, 45))
    img = smoke_clouds(img, 11, 0.45, region=np.clip(np.linspace(-0.5, 1.5, 600), 0, 1)[:, None])
    img = bubbles(img, 70, 12, 6, 30)
    img = vignette(img)
    pil = Image.fromarray(np.clip(img, 0, 255).astype(np.uint8))
    pil = title_text(pil, "KESTRUNE", 400, 92, 120)
    # The game writes over the middle of the picture: the page texts at y 300 and the highscore
    # page's rows from y 170 to 530. The tagline keeps to the free band below them.
    pil = title_text(pil, "clear the air", 400, 572, 30, (255, 240, 170), (255, 190, 80), stroke=3)
    save_jpeg(pil, os.path.join(out, "title.jpg"))


def build_loading(out):
    img = gradient(800, 600, (15, 40, 70), (5, 12, 25))
    img = bubbles(img, 40, 21, 4, 18, alpha=0.18)
    img = vignette(img, 0.6)
    pil = Image.fromarray(np.clip(img, 0, 255).astype(np.uint8))
    pil = title_text(pil, "KESTRUNE", 400, 90, 90)
    save_jpeg(pil, os.path.join(out, "loading.jpg"))


def build_credits(out):
    img = gradient(800, 600, (30, 20, 60), (10, 10, 30))
    img = bubbles(img, 50, 31, 6, 26, col=(255, 200, 230), alpha=0.2)
    img = vignette(img, 0.5)
    pil = Image.fromarray(np.clip(img, 0, 255).astype(np.uint8))
    pil = title_text(pil, "KESTRUNE", 400, 150, 100, (255, 255, 255), (255, 180, 220), (50, 10, 40))
    pil = title_text(pil, "Made by Orvalent for the Tessivo campaign", 400, 250, 26,
                     (240, 240, 255), (200, 200, 230), (20, 10, 30), stroke=2)
    a = np.asarray(pil).astype(np.float64)
    # the credits line scrolls in this band; it is plain so that redrawing only it stays clean
    a[505:560] = a[505:560] * 0.3 + np.array([5, 5, 15]) * 0.7
    a[519:545] = np.array([8, 8, 20])
    save_jpeg(a, os.path.join(out, "credits.jpg"), quality=92)


def build_leveljump(out, final):
    if final:
        img = gradient(800, 600, (60, 20, 80), (20, 10, 40))
        img = bubbles(img, 120, 41, 3, 20, col=(255, 220, 120), alpha=0.3)
    else:
        img = gradient(800, 600, (20, 60, 60), (8, 20, 30))
        yy, xx = np.mgrid[0:600, 0:800]
        ang = np.arctan2(yy - 300, xx - 400)
        rays = (np.sin(ang * 16) > 0.6) * np.clip(np.hypot(xx - 400, yy - 300) / 500, 0, 1)
        img = img + rays[..., None] * np.array([20, 40, 40])
        img = bubbles(img, 40, 42, 5, 24, alpha=0.2)
    img = vignette(img, 0.5)
    pil = Image.fromarray(np.clip(img, 0, 255).astype(np.uint8))
    if final:
        pil = title_text(pil, "You cleared the air!", 400, 110, 52, (255, 250, 200), (255, 190, 90), (60, 20, 10))
    save_jpeg(pil, os.path.join(out, "leveljumpend.jpg" if final else "leveljump.jpg"))


def play_button(w, h, pressed):
    sp = P.Sprite(w, h, ss=3)
    d = P.box(sp.X, sp.Y, w / 2, h / 2, w / 2 - 2, h / 2 - 2, 14)
    sp.outline(d, 1.5, (10, 30, 20))
    sp.shade(d, (40, 150, 80) if pressed else (60, 200, 110), bevel=8 if not pressed else 4,
             spec=0.4 if not pressed else 0.15, amb=0.6 if not pressed else 0.45)
    c, a = sp.result()
    return c, a


def compose(bg, c, a, x, y):
    h, w = a.shape
    bg[y:y + h, x:x + w] = c * 255 + bg[y:y + h, x:x + w] * (1 - a[..., None])
    return bg


def build_menu(out):
    bg = gradient(500, 350, (25, 85, 130), (10, 30, 55))
    bg = bubbles(bg, 30, 51, 4, 16, alpha=0.2)
    # the frame round the browser (102, 62) - (394, 233)
    sp = P.Sprite(500, 350, ss=2)
    d = P.box(sp.X, sp.Y, 248, 147.5, 154, 93, 12)
    sp.shade(np.maximum(d, -P.box(sp.X, sp.Y, 248, 147.5, 146, 85.5, 3)), (190, 200, 215), bevel=5, spec=0.5)
    c, a = sp.result()
    bg = compose(bg, c, a, 0, 0)
    bg[62:233, 102:394] = np.array([8, 20, 35])
    pil = Image.fromarray(np.clip(bg, 0, 255).astype(np.uint8))
    pil = title_text(pil, "KESTRUNE", 250, 32, 40, stroke=3)
    base = np.asarray(pil).astype(np.float64)
    c, a = play_button(148, 45, False)
    base = compose(base, c, a, 175, 281)
    pil = Image.fromarray(np.clip(base, 0, 255).astype(np.uint8))
    pil = title_text(pil, "PLAY", 249, 303, 26, (255, 255, 255), (220, 255, 230), (10, 50, 25), stroke=2, shadow=False)
    save_jpeg(pil, os.path.join(out, "menu_base.jpg"), 92)
    # the pressed button, shown over (175, 281)
    btn = np.asarray(pil).astype(np.float64)[281:326, 175:323].copy()
    c, a = play_button(148, 45, True)
    btn = compose(btn, c, a, 0, 0)
    bp = Image.fromarray(np.clip(btn, 0, 255).astype(np.uint8))
    bp = title_text(bp, "PLAY", 75, 24, 26, (230, 240, 235), (190, 220, 200), (10, 40, 20), stroke=2, shadow=False)
    save_jpeg(bp, os.path.join(out, "menu_playdown.jpg"), 92)
    # the pictures behind the browser: offline logo and the online frame
    lg = gradient(292, 171, (20, 60, 100), (8, 20, 35))
    lg = bubbles(lg, 14, 52, 4, 14, alpha=0.25)
    lp = Image.fromarray(np.clip(lg, 0, 255).astype(np.uint8))
    lp = title_text(lp, "KESTRUNE", 146, 70, 44, stroke=3)
    lp = title_text(lp, "clear the air", 146, 118, 18, (255, 240, 170), (255, 190, 80), stroke=2)
    save_jpeg(lp, os.path.join(out, "menu_logo.jpg"), 92)
    ng = gradient(292, 171, (230, 238, 245), (200, 215, 230))
    npil = Image.fromarray(np.clip(ng, 0, 255).astype(np.uint8))
    npil = title_text(npil, "online", 146, 85, 30, (60, 120, 190), (30, 80, 150), (255, 255, 255), stroke=2, shadow=False)
    save_jpeg(npil, os.path.join(out, "menu_net.jpg"), 92)


def build_menuback(out):
    img = gradient(400, 302, (230, 238, 246), (190, 208, 226))
    img = bubbles(img, 25, 61, 5, 22, col=(255, 255, 255), alpha=0.35)
    pil = Image.fromarray(np.clip(img, 0, 255).astype(np.uint8))
    # a faint watermark of the name
    wm = Image.new("L", pil.size, 0)
    ImageDraw.Draw(wm).text((200, 270), "KESTRUNE", font=ImageFont.truetype(BOLD, 44), fill=255, anchor="mm")
    a = np.asarray(pil).astype(np.float64)
    m = np.asarray(wm, dtype=np.float64)[..., None] / 255 * 0.12
    a = a * (1 - m) + np.array([40, 90, 150]) * m
    save_jpeg(a, os.path.join(out, "MenuBack.jpg"), 90)


def icon(kind, size=16):
    sp = P.Sprite(size, size)
    c = size / 2.0
    if kind == "running":
        d = P.circle(sp.X, sp.Y, c, c, c - 1.5)
        sp.shade(d, (80, 150, 240), bevel=3, spec=0.5)
        ang = np.arctan2(sp.Y - c, sp.X - c)
        sp.fill(np.maximum(P.circle(sp.X, sp.Y, c, c, c - 4), -(np.mod(ang, 2 * math.pi) - 4.7)), (255, 255, 255), 0.9)
    elif kind == "done":
        d = P.circle(sp.X, sp.Y, c, c, c - 1.5)
        sp.shade(d, (60, 190, 90), bevel=3, spec=0.5)
        sp.fill(P.union(P.segment(sp.X, sp.Y, 4.5, 8.5, 7, 11, 1.3), P.segment(sp.X, sp.Y, 7, 11, 11.5, 5, 1.3)), (255, 255, 255))
    else:
        d = P.circle(sp.X, sp.Y, c, c, c - 1.5)
        sp.shade(d, (220, 60, 50), bevel=3, spec=0.5)
        sp.fill(P.union(P.segment(sp.X, sp.Y, 5, 5, 11, 11, 1.3), P.segment(sp.X, sp.Y, 11, 5, 5, 11, 1.3)), (255, 255, 255))
    return sp.result()


def rgba8(res):
    c, a = res
    straight = np.where(a[..., None] > 0, c / np.maximum(a[..., None], 1e-6), 0)
    return np.dstack([np.clip(np.round(straight * 255), 0, 255), np.clip(np.round(a * 255), 0, 255)]).astype(np.uint8)


def anim_strip(kind, frames, size):
    strip = np.zeros((size, size * frames, 4), np.uint8)
    for i in range(frames):
        sp = P.Sprite(size, size)
        c = size / 2.0
        ph = 2 * math.pi * i / frames
        if kind == "levels":
            # a globe with a level card travelling down into the computer's folder
            d = P.circle(sp.X, sp.Y, c, c * 0.8, c * 0.55)
            sp.shade(d, (70, 140, 220), bevel=c * 0.55, spec=0.5)
            ang = np.arctan2(sp.Y - c * 0.8, sp.X - c)
            sp.fill(np.maximum(d + 1, np.abs(np.sin(ang * 3 + ph)) - 0.35), (90, 190, 110), 0.8)
            y = c * 0.4 + (c * 1.2) * i / frames
            sp.shade(P.box(sp.X, sp.Y, c * 1.45, y, 4, 5, 1), (250, 240, 200), bevel=2)
        else:
            # a magnifying glass circling over a screen
            sp.shade(P.box(sp.X, sp.Y, c, c * 1.1, c * 0.75, c * 0.55, 3), (200, 205, 215), bevel=3)
            sp.shade(P.box(sp.X, sp.Y, c, c * 1.05, c * 0.6, c * 0.4, 2), (60, 120, 190), bevel=2, amb=0.9)
            mx, my = c + c * 0.35 * math.cos(ph), c * 0.9 + c * 0.25 * math.sin(ph)
            ring = np.abs(P.circle(sp.X, sp.Y, mx, my, c * 0.3)) - 1.6
            sp.shade(ring, (60, 60, 70), bevel=1.6, spec=0.8)
            sp.shade(P.segment(sp.X, sp.Y, mx + c * 0.22, my + c * 0.22, mx + c * 0.5, my + c * 0.5, 2.2), (90, 60, 40), bevel=2)
        strip[:, i * size:(i + 1) * size] = rgba8(sp.result())
    return strip


def build_small(out):
    for kind, name in (("running", "StateRunning.png"), ("done", "StateDone.png"), ("failed", "StateFailed.png")):
        png.write_png(os.path.join(out, name), rgba8(icon(kind)), "RGBA")
    png.write_png(os.path.join(out, "AnimLevels.png"), anim_strip("levels", 12, 32), "RGBA")
    png.write_png(os.path.join(out, "AnimSearch.png"), anim_strip("search", 12, 48), "RGBA")
    img = gradient(120, 120, (30, 90, 140), (10, 30, 55))
    img = bubbles(img, 8, 71, 4, 12, alpha=0.3)
    img = hero(img, 60, 62, 0.45)
    save_jpeg(img, os.path.join(out, "AboutPicture.jpg"), 90)


def build(out):
    build_title(out)
    build_loading(out)
    build_credits(out)
    build_leveljump(out, False)
    build_leveljump(out, True)
    build_menu(out)
    build_menuback(out)
    build_small(out)
