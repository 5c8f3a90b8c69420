#!/usr/bin/env bash
# Proves that the committed content is what the committed generators make: installs their
# packages (setup.sh), regenerates everything into a scratch folder and compares byte for byte.
set -euo pipefail
cd "$(dirname "$0")/../.."
bash tools/content/setup.sh
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
/usr/bin/python3 tools/content/gen_art.py "$tmp/gfx" "$tmp/DecorShadowOffsets.inc"
/usr/bin/python3 tools/content/gen_sounds.py "$tmp/snd"
fail=0
for group in gfx snd; do
  for f in "$tmp/$group"/*; do
    n=$(basename "$f")
    if ! cmp -s "$f" "resources/$group/$n"; then echo "differs: resources/$group/$n"; fail=1; fi
  done
  for f in resources/$group/*; do
    [ -e "$tmp/$group/$(basename "$f")" ] || { echo "not generated: $f"; fail=1; }
  done
done
cmp -s "$tmp/DecorShadowOffsets.inc" src/game/DecorShadowOffsets.inc || { echo "differs: src/game/DecorShadowOffsets.inc"; fail=1; }
[ $fail -eq 0 ] && echo "content: regenerated files match the committed ones"
exit $fail
