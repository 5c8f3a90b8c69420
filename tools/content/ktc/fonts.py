"""The two bitmap fonts: glyphs 0-66 in cells of 36 x 50 pixels, light letters with a dark
outline (texts are tinted when drawn)."""
import numpy as np
from PIL import Image, ImageDraw, ImageFont

from .atlas import Sheet

FONT = "/usr/share/fonts/truetype/dejavu/DejaVuSans-Bold.ttf"

WIDTHS = [34, 34, 33, 34, 32, 32, 34, 34, 18, 34, 33, 31, 35, 33, 35, 34, 35, 33, 34, 34, 34, 34,
          35, 35, 34, 33, 21, 34, 34, 34, 34, 35, 34, 34, 35, 17, 19, 19, 20, 19, 20, 18, 17, 1, 1,
          27, 1, 1, 1, 16, 20, 20, 21, 25, 19, 21, 33, 20, 21, 18, 35, 35, 35, 31, 18, 1, 1]

CHARS = [chr(ord("A") + i) for i in range(26)] + [str(d) for d in range(1, 10)] + \
    list("+-*/=!,.@#$%^&:\"()_[]?{}~") + ["\u00c4", "\u00d6", "\u00dc", "\u00df", ";", "<", ">"]

SS = 4
BASELINE = 40
CAP = 29  # cap height in pixels
STROKE = 3


def glyph_cell(g):
    return ((g % 7) * 36, ((g // 7) % 5) * 50)


def render_glyph(ch, width):
    """Returns (premultiplied grey, alpha) arrays of width x 49."""
    h = 49
    if width <= 2:
        return np.zeros((h, width, 3)), np.zeros((h, width))
    size = int(round(CAP / 0.729 * SS))
    font = ImageFont.truetype(FONT, size)
    stroke = STROKE * SS
    W, H = 200 * SS // 2, 80 * SS // 2
    base = int(H * 0.7)
    fill_img = Image.new("L", (W, H), 0)
    all_img = Image.new("L", (W, H), 0)
    ImageDraw.Draw(fill_img).text((W // 4, base), ch, font=font, fill=255, anchor="ls")
    ImageDraw.Draw(all_img).text((W // 4, base), ch, font=font, fill=255, anchor="ls",
                                 stroke_width=stroke, stroke_fill=255)
    bbox = all_img.getbbox()
    if bbox is None:
        return np.zeros((h, width, 3)), np.zeros((h, width))
    x0, _, x1, _ = bbox
    ink_w = (x1 - x0) / SS
    room = width - 2
    sx = min(1.0, room / ink_w)
    new_w = max(1, int(round((x1 - x0) * sx)))
    # crop horizontally to ink, vertically keep the baseline at BASELINE
    top = base - BASELINE * SS
    crop = (x0, top, x1, top + h * SS)
    fi = fill_img.crop(crop).resize((new_w, h * SS), Image.LANCZOS)
    ai = all_img.crop(crop).resize((new_w, h * SS), Image.LANCZOS)
    out_f = Image.new("L", (width * SS, h * SS), 0)
    out_a = Image.new("L", (width * SS, h * SS), 0)
    ox = (width * SS - new_w) // 2
    out_f.paste(fi, (ox, 0))
    out_a.paste(ai, (ox, 0))
    f = np.asarray(out_f, dtype=np.float64) / 255
    a = np.asarray(out_a, dtype=np.float64) / 255
    # fill: white at the top fading to a light grey; outline: near black
    yy = (np.arange(h * SS) / SS)[:, None]
    t = np.clip((yy - (BASELINE - CAP)) / CAP, 0, 1)
    fillc = 1.0 - 0.22 * t
    grey = fillc * f + 0.09 * (a - f).clip(0)
    grey_pm = grey  # already premultiplied by coverage
    pm = grey_pm.reshape(h, SS, width, SS).mean(axis=(1, 3))
    al = a.reshape(h, SS, width, SS).mean(axis=(1, 3))
    return np.repeat(pm[..., None], 3, axis=2), al


def build(out):
    sheets = [Sheet(256), Sheet(256)]
    for g, ch in enumerate(CHARS):
        s = sheets[0] if g <= 34 else sheets[1]
        x, y = glyph_cell(g)
        w = WIDTHS[g]
        res = render_glyph(ch, w)
        s.place((x, y, x + w, y + 49), res, margin=True, label=str(g))
    sheets[0].save(out, "Font1.png", "Font1Mask.png", colour_mode="P")
    sheets[1].save(out, "Font2.png", "Font2Mask.png", colour_mode="P")
    return sheets
