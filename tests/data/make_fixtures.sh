#!/bin/bash
# Remakes the small pictures in this folder (needs Debian's python3-pil,
# imagemagick, libheif-examples and mate-backgrounds). The tests only read
# them; run this by hand when a fixture has to change.
set -euo pipefail
cd "$(dirname "$0")"
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
/usr/bin/python3 - "$tmp" <<'PY'
import sys
from PIL import Image
tmp = sys.argv[1]
src = Image.open("/usr/share/backgrounds/mate/nature/Garden.jpg").convert("RGB")
photo = src.resize((192, 120), Image.LANCZOS)
photo.save(f"{tmp}/photo.png")
photo.save("photo.jpg", quality=90)
photo.quantize(64).save("photo.gif")
rgba = photo.convert("RGBA")
rgba.putalpha(Image.linear_gradient("L").resize((192, 120)).rotate(90, expand=False))
rgba.save(f"{tmp}/alpha.png")
photo.resize((64, 40), Image.LANCZOS).save(f"{tmp}/p3.png", icc_profile=open("displayp3.icc", "rb").read())
PY
# A phone's motion photo: the still, then (here) 64 KB standing in for the video.
{ cat photo.jpg; printf '\0\0\0\030ftypmp42'; head -c 65536 /dev/urandom; } > motion.jpg
heif-enc -q 80 -o photo.heic "$tmp/photo.png" >/dev/null
heif-enc -A -q 80 -o photo.avif "$tmp/photo.png" >/dev/null
heif-enc -q 80 -o alpha.heic "$tmp/alpha.png" >/dev/null
# A Display P3 profile (prof box), from the PNG's.
heif-enc -q 60 -o displayp3.heic "$tmp/p3.png" >/dev/null
/usr/bin/convert "$tmp/photo.png" -depth 16 -define png:bit-depth=16 "$tmp/photo16.png"
heif-enc -b 10 -q 80 -o photo10.heic "$tmp/photo16.png" >/dev/null
# What libheif's own converter makes of them, as lossless references.
for f in photo.heic photo.avif alpha.heic photo10.heic; do
    heif-convert "$f" "$tmp/ref.png" >/dev/null
    mv "$tmp/ref.png" "${f%.*}_${f##*.}_ref.png"
    rm -f "$tmp"/ref-*.png
done
