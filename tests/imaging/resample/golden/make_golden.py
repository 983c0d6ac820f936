#!/usr/bin/python3
"""Regenerate the resampler's golden images with Pillow's BICUBIC resize.

Run with Debian's python3-pil (Pillow 9.4), the reference; the tests then
need no Python. Writes the source images, one PNG per case and cases.txt.
"""
import random
from pathlib import Path

from PIL import Image

HERE = Path(__file__).resolve().parent
PHOTO = Path("/usr/share/backgrounds/mate/nature/Garden.jpg")


def sources():
    rng = random.Random(20261206)
    noise = Image.new("RGB", (97, 73))
    # Extremes as well as mid tones, so the clipping at 0 and 255 is exercised.
    noise.putdata([tuple(rng.choice((0, 255, rng.randrange(256))) for _ in range(3))
                   for _ in range(97 * 73)])
    photo = Image.open(PHOTO).convert("RGB").crop((1200, 700, 1440, 880))
    tiny = Image.new("RGB", (3, 2))
    tiny.putdata([(255, 0, 0), (0, 255, 0), (0, 0, 255), (10, 200, 30), (255, 255, 255), (0, 0, 0)])
    column = Image.new("RGB", (1, 50))
    column.putdata([(i * 5, 255 - i * 5, (i * 37) % 256) for i in range(50)])
    return {"noise": noise, "photo": photo, "tiny": tiny, "column": column}


CASES = [
    ("noise", 31, 19), ("noise", 7, 5), ("noise", 1, 1), ("noise", 150, 20),
    ("noise", 97, 40), ("noise", 40, 73), ("noise", 200, 151), ("noise", 96, 72),
    ("photo", 80, 60), ("photo", 48, 36), ("photo", 239, 179), ("photo", 481, 361),
    ("photo", 13, 170), ("photo", 240, 90),
    ("tiny", 17, 9), ("tiny", 2, 2), ("tiny", 1, 5),
    ("column", 3, 10), ("column", 1, 7), ("column", 5, 50),
]


def main():
    images = sources()
    for name, im in images.items():
        im.save(HERE / f"src_{name}.png")
    lines = []
    for name, w, h in CASES:
        out = images[name].resize((w, h), Image.BICUBIC)
        out_name = f"{name}_{w}x{h}.png"
        out.save(HERE / out_name)
        lines.append(f"src_{name}.png {w} {h} {out_name}")
    (HERE / "cases.txt").write_text("\n".join(lines) + "\n")


if __name__ == "__main__":
    main()
