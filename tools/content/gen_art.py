#!/usr/bin/python3
"""Makes the game's textures, masks, fonts, pictures and decorb.dat.

    gen_art.py [OUTDIR [INCLUDE]]

OUTDIR defaults to resources/gfx, INCLUDE (the decor shadow offsets for the game's code) to
src/game/DecorShadowOffsets.inc. Everything is drawn from fixed seeds: the same run gives the
same bytes."""
import os
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
from ktc import decor, effects, figures, fonts, items, pictures, walls  # noqa: E402


def main():
    root = os.path.normpath(os.path.join(HERE, "..", ".."))
    out = sys.argv[1] if len(sys.argv) > 1 else os.path.join(root, "resources", "gfx")
    inc = sys.argv[2] if len(sys.argv) > 2 else os.path.join(root, "src", "game", "DecorShadowOffsets.inc")
    os.makedirs(out, exist_ok=True)
    fonts.build(out)
    items.build(out)
    figures.build(out)
    walls.build(out)
    effects.build(out)
    decor.build(out)
    decor.write_offsets_include(inc)
    pictures.build(out)


if __name__ == "__main__":
    main()
