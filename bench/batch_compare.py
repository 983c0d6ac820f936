#!/usr/bin/python3
"""tovalin-cli against its peers on a folder of pictures, in one run.

    bench/batch_compare.py [--inputs DIR] [--runs N] [--cli build/src/cli/tovalin-cli]

Makes the folder with bench/batch_inputs.py unless --inputs names one.
Each contender does the whole folder; the rounds interleave them, and the
medians are printed with the files per second, the peak memory (the
largest resident set of any of the contender's processes) and the ratio
to tovalin-cli:

- size target: tovalin-cli --jobs 2 --kb 200 --long-edge 1600, against
  ImageMagick (-filter Catrom -resize 1600x1600 -define jpeg:extent=200kb,
  two processes at a time) and a Pillow script (bicubic to a long edge of
  1600, then a bisection over the quality for 200 KB; two processes,
  half the folder each; Pillow reads no HEIC or AVIF here, so those are
  left out of its share and its rate is of the files it did).
- fixed quality: tovalin-cli --jobs 2 --factor F --long-edge 1600 against
  vipsthumbnail -s 1600 at Q (one process with its own threads), F chosen
  so that the mean output size is within a few per cent of vips'.
"""
import argparse
import os
import statistics
import subprocess
import sys
import tempfile
import time
from pathlib import Path

HERE = Path(__file__).resolve().parent
IM = "/usr/bin/convert-im6.q16"
TIME = "/usr/bin/time"

PILLOW = r"""
import io, sys
from pathlib import Path
from PIL import Image
out = Path(sys.argv[1])
for name in sys.argv[2:]:
    im = Image.open(name)
    im = im.convert("RGB")
    w, h = im.size
    s = 1600 / max(w, h)
    im = im.resize((max(1, round(w * s)), max(1, round(h * s))), Image.BICUBIC)
    lo, hi, best = 1, 95, None
    while lo <= hi:
        q = (lo + hi) // 2
        buf = io.BytesIO()
        im.save(buf, "JPEG", quality=q)
        if buf.tell() <= 200 * 1024:
            best, lo = buf.getvalue(), q + 1
        else:
            hi = q - 1
    if best is None:
        buf = io.BytesIO(); im.save(buf, "JPEG", quality=1); best = buf.getvalue()
    (out / (Path(name).stem + ".jpg")).write_bytes(best)
"""


def timed(cmds, env=None):
    """Runs the commands at once; wall ms and the largest peak RSS in MB."""
    t = time.perf_counter()
    procs = [subprocess.Popen([TIME, "-f", "%M"] + c, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True, env=env)
             for c in cmds]
    peaks = []
    for p in procs:
        err = p.communicate()[1]
        peaks.append(int(err.strip().splitlines()[-1]) / 1024)
    return (time.perf_counter() - t) * 1000, max(peaks)


def im_pairs(files, out):
    """ImageMagick, two processes at a time: two shell loops over halves."""
    halves = [files[0::2], files[1::2]]
    cmds = []
    for half in halves:
        script = "; ".join(f"{IM} '{f}' -filter Catrom -resize 1600x1600 -define jpeg:extent=200kb '{out}/{Path(f).stem}.jpg'"
                           for f in half)
        cmds.append(["sh", "-c", script])
    return cmds


def mean_size(folder):
    sizes = [p.stat().st_size for p in Path(folder).glob("**/*.jpg")]
    return statistics.mean(sizes) if sizes else 0


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--inputs")
    ap.add_argument("--runs", type=int, default=3)
    ap.add_argument("--cli", default=str(HERE.parent / "build/src/cli/tovalin-cli"))
    ap.add_argument("--vips-q", type=int, default=80)
    args = ap.parse_args()
    tmp_dir = tempfile.TemporaryDirectory()
    tmp = Path(tmp_dir.name)
    src = Path(args.inputs) if args.inputs else tmp / "in"
    if not (src / "large96.jpg").exists():
        subprocess.run(["/usr/bin/python3", str(HERE / "batch_inputs.py"), str(src)], check=True)
    files = sorted(str(p) for p in src.iterdir() if p.is_file())
    pillow_files = [f for f in files if not f.endswith((".heic", ".avif"))]
    n = len(files)

    def fresh(name):
        d = tmp / name
        subprocess.run(["rm", "-rf", str(d)])
        d.mkdir()
        return d

    # The factor whose outputs are about vips' size.
    vdir = fresh("vips")
    subprocess.run(["vipsthumbnail", "-s", "1600", "-o", f"{vdir}/%s.jpg[Q={args.vips_q}]"] + files, check=True)
    vips_mean = mean_size(vdir)
    factor, best = 30, None
    for f in range(10, 120, 5):
        d = fresh("probe")
        subprocess.run([args.cli, "--jobs", "2", "--factor", str(f), "--long-edge", "1600", "-o", str(d), "-q"] + files[:12], check=True)
        probe = subprocess.run(["vipsthumbnail", "-s", "1600", "-o", f"{fresh('vprobe')}/%s.jpg[Q={args.vips_q}]"] + files[:12],
                               check=True)
        ratio = mean_size(d) / mean_size(tmp / "vprobe")
        if best is None or abs(ratio - 1) < best:
            factor, best = f, abs(ratio - 1)

    contenders = {
        "size target": {
            "tovalin-cli": lambda: [[args.cli, "--jobs", "2", "--kb", "200", "--long-edge", "1600", "-o", str(fresh("t1")), "-q"] + files],
            "imagemagick x2": lambda: im_pairs(files, fresh("im")),
            "pillow x2": lambda: [["/usr/bin/python3", "-c", PILLOW, str(fresh("pil"))] + pillow_files[0::2],
                                  ["/usr/bin/python3", "-c", PILLOW, str(tmp / "pil")] + pillow_files[1::2]],
        },
        "fixed quality": {
            f"tovalin-cli --factor {factor}": lambda: [[args.cli, "--jobs", "2", "--factor", str(factor), "--long-edge", "1600",
                                                        "-o", str(fresh("t2")), "-q"] + files],
            f"vipsthumbnail Q={args.vips_q}": lambda: [["vipsthumbnail", "-s", "1600", "-o",
                                                        f"{fresh('v2')}/%s.jpg[Q={args.vips_q}]"] + files],
        },
    }
    print(f"{n} pictures in {src}; vips mean {vips_mean / 1024:.0f} KB, tovalin factor {factor}")
    for case, runs in contenders.items():
        results = {name: [] for name in runs}
        for _ in range(args.runs):
            for name, make in runs.items():
                results[name].append(timed(make()))
        ours = None
        for name, rs in results.items():
            ms = statistics.median(r[0] for r in rs)
            mem = max(r[1] for r in rs)
            count = len(pillow_files) if name.startswith("pillow") else n
            rate = count / (ms / 1000)
            ours = ours or rate
            spread = f"{min(r[0] for r in rs) / 1000:.1f}-{max(r[0] for r in rs) / 1000:.1f} s"
            print(f"{case:14s} {name:28s} {rate:6.2f} files/s ({spread})  peak {mem:7.0f} MB  "
                  f"tovalin/this {ours / rate:5.2f}x")
    sizes = {name: mean_size(tmp / d) for name, d in (("tovalin-cli", "t1"), ("imagemagick", "im"), ("pillow", "pil"))}
    print("mean output KB at 200 KB: " + ", ".join(f"{k} {v / 1024:.0f}" for k, v in sizes.items()))


if __name__ == "__main__":
    main()
