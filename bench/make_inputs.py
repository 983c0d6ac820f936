#!/usr/bin/python3
"""Make the benchmark's pictures from Debian's mate-backgrounds photographs.

    bench/make_inputs.py DIR

baseline.jpg (12 MP), progressive.jpg (13 MP), big24.jpg (24 MP, 6000x4000),
screenshot.png (1334x676, text and flat colours), photo.heic and photo.avif
(1920x1200), motion.jpg (a phone's motion photo: the JPEG, then a video).
"""
import os
import subprocess
import sys
from pathlib import Path

from PIL import Image, ImageDraw, ImageFont

NATURE = Path("/usr/share/backgrounds/mate/nature")
ABSTRACT = Path("/usr/share/backgrounds/mate/abstract")


def main():
    out = Path(sys.argv[1])
    out.mkdir(parents=True, exist_ok=True)
    elephants = Image.open(ABSTRACT / "Elephants_5640x3172.jpg").convert("RGB")
    elephants.crop((820, 86, 4820, 3086)).save(out / "baseline.jpg", quality=95)
    garden = Image.open(NATURE / "Garden.jpg").convert("RGB")
    garden.resize((4416, 3000), Image.LANCZOS).save(out / "progressive.jpg", quality=92, progressive=True)
    elephants.resize((6000, 4000), Image.LANCZOS).save(out / "big24.jpg", quality=92)
    shot = Image.new("RGB", (1334, 676), (246, 246, 246))
    draw = ImageDraw.Draw(shot)
    font = ImageFont.truetype("/usr/share/fonts/opentype/ipafont-gothic/ipag.ttf", 15)
    draw.rectangle((0, 0, 1334, 40), fill=(48, 63, 159))
    draw.rectangle((0, 40, 260, 676), fill=(230, 232, 240))
    for row in range(30):
        draw.text((280, 56 + row * 20), f"{row:02d} 設定ファイルを保存しました — Tovalin resized photo_{row}.jpg to 800x600, 40 KB",
                  fill=(20, 20, 20), font=font)
        draw.text((12, 56 + row * 20), f"フォルダ {row}", fill=(60, 60, 90), font=font)
    shot.save(out / "screenshot.png")
    small = elephants.resize((1920, 1200), Image.LANCZOS)
    small.save(out / "heif_source.png")
    subprocess.run(["heif-enc", "-q", "60", "-o", str(out / "photo.heic"), str(out / "heif_source.png")],
                   check=True, capture_output=True)
    subprocess.run(["heif-enc", "-A", "-q", "60", "-o", str(out / "photo.avif"), str(out / "heif_source.png")],
                   check=True, capture_output=True)
    still = (out / "baseline.jpg").read_bytes()
    video = b"\x00\x00\x00\x18ftypmp42" + os.urandom(3 << 20)
    (out / "motion.jpg").write_bytes(still + video)


if __name__ == "__main__":
    main()
