#!/usr/bin/python3
"""Make a folder of varied pictures for the batch benchmark.

    bench/batch_inputs.py DIR

From Debian's mate-backgrounds: 12 phone-like 12 MP JPEGs (4032x3024, two
of them progressive), 8 of 24 MP (5664x4248), 8 PNG screenshots and
wallpapers, 8 HEIC of 12 MP, 2 AVIF, and 2 very large JPEGs (48 and 96 MP):
40 pictures of every kind a folder of holiday photos and screenshots holds.
"""
import subprocess
import sys
from pathlib import Path

from PIL import Image, ImageDraw, ImageFont

MATE = Path("/usr/share/backgrounds/mate")


def photos():
    for folder in ("nature", "abstract"):
        for p in sorted((MATE / folder).glob("*.jpg")):
            if "x" not in p.stem.split("_")[-1]:
                yield Image.open(p).convert("RGB")


def screenshot(width, height, seed):
    shot = Image.new("RGB", (width, height), (246, 246, 246))
    draw = ImageDraw.Draw(shot)
    font = ImageFont.truetype("/usr/share/fonts/opentype/ipafont-gothic/ipag.ttf", 15)
    draw.rectangle((0, 0, width, 40), fill=(48, 63, 159 - seed * 9))
    for row in range(height // 20 - 3):
        draw.text((20, 56 + row * 20), f"{row:02d} 設定ファイルを保存しました — window {seed} line {row} " * 3,
                  fill=(20, 20, 20), font=font)
    return shot


def main():
    out = Path(sys.argv[1])
    out.mkdir(parents=True, exist_ok=True)
    sources = list(photos())
    for i in range(12):
        picture = sources[i % len(sources)].resize((4032, 3024), Image.BICUBIC)
        picture.save(out / f"phone12_{i:02d}.jpg", quality=90, progressive=i % 6 == 5)
    for i in range(8):
        picture = sources[(i + 5) % len(sources)].resize((5664, 4248), Image.BICUBIC)
        picture.save(out / f"phone24_{i:02d}.jpg", quality=88)
    pngs = sorted((MATE / "abstract").glob("*.png"))[:4]
    for i, p in enumerate(pngs):
        Image.open(p).convert("RGB").save(out / f"wallpaper_{i:02d}.png")
    for i, (w, h) in enumerate([(1920, 1080), (2560, 1440), (1366, 768), (3840, 2160)]):
        screenshot(w, h, i).save(out / f"screenshot_{i:02d}.png")
    for i in range(8):
        picture = sources[(i + 3) % len(sources)].resize((4032, 3024), Image.BICUBIC)
        picture.save(out / "heif_source.png")
        subprocess.run(["heif-enc", "-q", "55", "-o", str(out / f"phone_{i:02d}.heic"), str(out / "heif_source.png")],
                       check=True, capture_output=True)
    for i in range(2):
        picture = sources[(i + 7) % len(sources)].resize((2400, 1600), Image.BICUBIC)
        picture.save(out / "heif_source.png")
        subprocess.run(["heif-enc", "-A", "-q", "55", "-o", str(out / f"photo_{i:02d}.avif"), str(out / "heif_source.png")],
                       check=True, capture_output=True)
    (out / "heif_source.png").unlink()
    sources[0].resize((8000, 6000), Image.BICUBIC).save(out / "large48.jpg", quality=90)
    sources[1].resize((12000, 8000), Image.BICUBIC).save(out / "large96.jpg", quality=90)


if __name__ == "__main__":
    main()
