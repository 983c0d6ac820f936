#!/usr/bin/python3
"""Run tovalin-bench, ImageMagick and Pillow interleaved on one photograph.

    bench/compare.py [--runs N] [--bench build/bench/tovalin-bench]

The photograph is a 4000x3000 crop of a 5640x3172 photo from Debian's
mate-backgrounds. Every round runs each peer once; medians and ratios are
printed at the end.
"""
import argparse
import os
import statistics
import subprocess
import sys
import tempfile
import time
from pathlib import Path

PHOTO = Path("/usr/share/backgrounds/mate/abstract/Elephants_5640x3172.jpg")
SIZE = (800, 600)
KB = 40

PILLOW_RESIZE = """
import sys, time
from PIL import Image
im = Image.open(sys.argv[1]); im.load()
t = time.perf_counter()
im.resize((int(sys.argv[2]), int(sys.argv[3])), Image.BICUBIC)
print((time.perf_counter() - t) * 1000)
"""


CROP = """
import sys
from PIL import Image
Image.open(sys.argv[1]).convert("RGB").crop((820, 86, 4820, 3086)).save(sys.argv[2], quality=95)
"""


def wall(cmd):
    t = time.perf_counter()
    out = subprocess.run(cmd, check=True, capture_output=True, text=True).stdout
    return (time.perf_counter() - t) * 1000, out


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--runs", type=int, default=7)
    ap.add_argument("--bench", default=str(Path(__file__).resolve().parent.parent / "build/bench/tovalin-bench"))
    args = ap.parse_args()

    with tempfile.TemporaryDirectory() as tmp:
        tmp = Path(tmp)
        src = tmp / "photo.jpg"
        # Cropped in a child process: a child inherits its parent's peak RSS
        # figure, so this process must stay small for tovalin-bench's to count.
        subprocess.run([sys.executable, "-c", CROP, str(PHOTO), str(src)], check=True)
        w, h = SIZE
        ours_wall, ours_resize, ours_rss, ours_bytes, im_wall, im_bytes, pil_resize = [], [], [], [], [], [], []
        for _ in range(args.runs):
            ms, out = wall([args.bench, str(src), f"{w}x{h}", str(KB), "--out", str(tmp / "ours.jpg")])
            fig = dict(line.split() for line in out.splitlines())
            ours_wall.append(ms)
            ours_resize.append(float(fig["resize_ms"]))
            ours_rss.append(float(fig["peak_rss_mb"]))
            ours_bytes.append(int(fig["bytes"]))
            ms, _ = wall(["convert", str(src), "-filter", "Catrom", "-resize", f"{w}x{h}!",
                          "-define", f"jpeg:extent={KB}kb", str(tmp / "im.jpg")])
            im_wall.append(ms)
            im_bytes.append((tmp / "im.jpg").stat().st_size)
            _, out = wall([sys.executable, "-c", PILLOW_RESIZE, str(src), str(w), str(h)])
            pil_resize.append(float(out))

        med = statistics.median
        target = KB * 1024
        decoded_mb = 4000 * 3000 * 4 / 2**20
        print(f"runs {args.runs}, 4000x3000 -> {w}x{h}, target {KB} KB")
        print(f"resize_ms tovalin {med(ours_resize):.1f} pillow {med(pil_resize):.1f} "
              f"ratio {med(ours_resize) / med(pil_resize):.3f} (target <= 0.35)")
        print(f"job_ms tovalin {med(ours_wall):.1f} imagemagick {med(im_wall):.1f} "
              f"ratio {med(ours_wall) / med(im_wall):.3f} (target <= 0.30)")
        print(f"landing tovalin {ours_bytes[-1]} B = {100 * ours_bytes[-1] / target:.1f} % "
              f"imagemagick {im_bytes[-1]} B = {100 * im_bytes[-1] / target:.1f} %")
        budget = 1.5 * decoded_mb + 60
        print(f"peak_rss_mb {med(ours_rss):.1f} budget {budget:.1f} (1.5 x {decoded_mb:.1f} MB decoded + 60)")


if __name__ == "__main__":
    main()
