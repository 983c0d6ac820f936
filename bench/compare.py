#!/usr/bin/python3
"""Tovalin against its peers, interleaved in one run, on every kind of input.

    bench/compare.py [--runs N] [--inputs DIR] [--bench build/bench/tovalin-bench]

Makes the pictures with bench/make_inputs.py (unless --inputs names a folder
that has them), then for each case runs every contender once per round and
prints medians and ratios. Wall-clock times are of whole processes; decode
times are measured inside the process by each tool.
"""
import argparse
import statistics
import subprocess
import sys
import tempfile
import time
from pathlib import Path

HERE = Path(__file__).resolve().parent
IM = "/usr/bin/convert-im6.q16"  # the real ImageMagick, whatever stands first on PATH

PILLOW_DECODE = """
import sys, time
from PIL import Image
t = time.perf_counter()
im = Image.open(sys.argv[1]); im.load()
print((time.perf_counter() - t) * 1000)
"""


def wall(cmd):
    t = time.perf_counter()
    out = subprocess.run(cmd, check=True, capture_output=True, text=True).stdout
    return (time.perf_counter() - t) * 1000, out


def figures(out):
    return dict(line.split() for line in out.splitlines())


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--runs", type=int, default=7)
    ap.add_argument("--inputs")
    ap.add_argument("--bench", default=str(HERE.parent / "build/bench/tovalin-bench"))
    args = ap.parse_args()
    tmp_dir = tempfile.TemporaryDirectory()
    tmp = Path(tmp_dir.name)
    src = Path(args.inputs) if args.inputs else tmp / "in"
    if not (src / "big24.jpg").exists():
        subprocess.run(["/usr/bin/python3", str(HERE / "make_inputs.py"), str(src)], check=True)
    ours = lambda f, size, kb: [args.bench, str(src / f), size, str(kb), "--out", str(tmp / "ours.jpg")]
    # libjpeg's encoder (--encoder libjpeg), as Tovalin wrote before its own.
    old = lambda f, size, kb: ours(f, size, kb) + ["--encoder", "libjpeg"]
    im = lambda f, size, kb: [IM, str(src / f), "-filter", "Catrom", "-resize", f"{size}!",
                              "-define", f"jpeg:extent={kb}kb", str(tmp / "im.jpg")]
    # name: {contender: command}; the first contender is ours.
    cases = {
        "baseline JPEG 12 MP -> 800x600, 40 KB": {"tovalin": ours("baseline.jpg", "800x600", 40), "libjpeg encoder": old("baseline.jpg", "800x600", 40),
                                                  "imagemagick": im("baseline.jpg", "800x600", 40)},
        "24 MP JPEG at full size, 2000 KB": {"tovalin": ours("big24.jpg", "full", 2000), "libjpeg encoder": old("big24.jpg", "full", 2000),
                                             "imagemagick": im("big24.jpg", "6000x4000", 2000)},
        "PNG screenshot -> 667x338, 30 KB": {"tovalin": ours("screenshot.png", "667x338", 30), "libjpeg encoder": old("screenshot.png", "667x338", 30),
                                             "imagemagick": im("screenshot.png", "667x338", 30)},
        "progressive JPEG 13 MP -> 800x600, 40 KB": {"tovalin": ours("progressive.jpg", "800x600", 40), "libjpeg encoder": old("progressive.jpg", "800x600", 40),
                                                     "djpeg": ["djpeg", "-outfile", "/dev/null", str(src / "progressive.jpg")]},
        "HEIC 1920x1200 -> 800x500, 40 KB": {"tovalin": ours("photo.heic", "800x500", 40), "libjpeg encoder": old("photo.heic", "800x500", 40),
                                            "heif-convert": ["heif-convert", str(src / "photo.heic"), str(tmp / "h.jpg")]},
        "AVIF 1920x1200 -> 800x500, 40 KB": {"tovalin": ours("photo.avif", "800x500", 40), "libjpeg encoder": old("photo.avif", "800x500", 40),
                                            "heif-convert": ["heif-convert", str(src / "photo.avif"), str(tmp / "a.jpg")]},
        "AVIF 1920x1200 -> 960x600, 60 KB": {"tovalin": ours("photo.avif", "960x600", 60), "libjpeg encoder": old("photo.avif", "960x600", 60),
                                             "heif-convert": ["heif-convert", str(src / "photo.avif"), str(tmp / "a.jpg")]},
        "motion photo -> 800x600, 40 KB": {"tovalin": ours("motion.jpg", "800x600", 40), "libjpeg encoder": old("motion.jpg", "800x600", 40),
                                           "imagemagick": im("motion.jpg", "800x600", 40)},
    }
    times = {case: {name: [] for name in c} for case, c in cases.items()}
    rss = {case: [] for case in cases}
    rss_old = {case: [] for case in cases}
    job = {case: [] for case in cases}
    results = {}
    png_ours, png_pillow = [], []
    for _ in range(args.runs):
        for case, contenders in cases.items():
            for name, cmd in contenders.items():
                ms, out = wall(cmd)
                times[case][name].append(ms)
                if name == "tovalin":
                    fig = figures(out)
                    rss[case].append(float(fig["peak_rss_mb"]))
                    job[case].append(float(fig["total_ms"]))
                    results[case] = (int(fig["bytes"]), int(fig["factor"]))
                elif name == "libjpeg encoder":
                    rss_old[case].append(float(figures(out)["peak_rss_mb"]))
        _, out = wall([args.bench, str(src / "screenshot.png"), "--decode-only"])
        png_ours.append(float(figures(out)["decode_ms"]))
        _, out = wall(["/usr/bin/python3", "-c", PILLOW_DECODE, str(src / "screenshot.png")])
        png_pillow.append(float(out))

    med = statistics.median
    print(f"runs {args.runs}; medians in ms; ratio = tovalin / peer, for the job and for the whole process")
    for case, contenders in times.items():
        names = list(contenders)
        ours_ms = med(contenders[names[0]])
        job_ms = med(job[case])
        peers = ", ".join(f"{n} {med(contenders[n]):.0f} ratio {job_ms / med(contenders[n]):.3f}"
                          f" / {ours_ms / med(contenders[n]):.3f}" for n in names[1:])
        size, factor = results[case]
        print(f"{case}: tovalin job {job_ms:.0f}, process {ours_ms:.0f}; {peers}; "
              f"{size} B at factor {factor}; peak {med(rss[case]):.0f} MB (libjpeg encoder {med(rss_old[case]):.0f})")
    print(f"PNG decode in-process: tovalin {med(png_ours):.1f}, pillow {med(png_pillow):.1f}, "
          f"ratio {med(png_ours) / med(png_pillow):.3f}")
    rgb24 = 6000 * 4000 * 3 / 2**20
    print(f"24 MP memory budget: 2 x {rgb24:.1f} MB + 64 = {2 * rgb24 + 64:.0f} MB")


if __name__ == "__main__":
    main()
