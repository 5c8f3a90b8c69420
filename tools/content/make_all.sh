#!/usr/bin/env bash
# Regenerates every committed content file: resources/gfx, resources/snd and the decor shadow
# offsets of the game's code. Needs the packages of setup.sh.
set -euo pipefail
cd "$(dirname "$0")/../.."
/usr/bin/python3 tools/content/gen_art.py resources/gfx src/game/DecorShadowOffsets.inc
/usr/bin/python3 tools/content/gen_sounds.py resources/snd
