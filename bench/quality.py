#!/usr/bin/python3
"""Quality per byte: Tovalin's JPEG encoder against mozjpeg and jpegli.

    bench/quality_setup.sh                  # once: the yardsticks and the peers
    bench/quality.py BUILD WORKDIR [--quick] > quality.txt

The pictures are fixed before any tuning; their sources, all from Debian
packages installed by quality_setup.sh:

- photos: the twelve photographs of mate-backgrounds' nature folder
  (/usr/share/backgrounds/mate/nature/*.jpg). Those whose EXIF names a
  phone would count as phone photos: none does (three are from Canon
  cameras, one from a Konica Minolta DiMAGE, eight carry no camera).
- screenshots: six HTML pages of Debian's own documentation (listed in
  SCREENSHOTS) as headless Chromium draws them at 1440x900.
- pages of text: six pages of two PDF manuals (listed in PAGES) drawn by
  pdftoppm at 150 dpi.

Each is resized once with Tovalin's resampler (tovalin-quality resize) to
a long edge of 1000 to 1400 and stored as an 8-bit PNG without colour
chunks, so that only the encoders differ. Tovalin is its default encoder
(our own); libjpeg's bytes are --encoder libjpeg.

Last, every factor step where Tovalin's size grows is listed.

For each picture each encoder is swept: Tovalin over quality factors,
mozjpeg (sharp's defaults: progressive, trellis, its tables, 4:2:0) and
jpegli (4:2:0) over qualities. Over the bytes where mozjpeg's SSIMULACRA2
runs from 50 to 90 (as far as its sweep reaches: with 4:2:0 screenshots
stay under 90 and text pages above 50), the bytes each encoder needs at equal score are
compared for SSIMULACRA2, butteraugli's 3-norm and SSIM (log-averaged
over 16 points of that range, then over pictures): per class and over
all. At each KB target every encoder's scores are given (a peer bisects
its quality 1-100 to the largest file under the target; Tovalin runs
--kb). Every output is decoded by djpeg, Pillow, Qt and headless
Chromium; the verdicts are counted.
"""
import argparse
import json
import math
import os
import statistics
import subprocess
import sys
import tempfile
from concurrent.futures import ThreadPoolExecutor
from pathlib import Path

from PIL import Image

HERE = Path(__file__).resolve().parent
TOOLS = HERE.parent.parent / "shared" / "tools" / "quality"
NODE = HERE / ".quality"  # sharp, installed by quality_setup.sh

PHOTOS = sorted(Path("/usr/share/backgrounds/mate/nature").glob("*.jpg"))
SCREENSHOTS = [
    "/usr/share/doc/python3/python-policy.html",
    "/usr/share/doc/libffi8/html/The-Basics.html",
    "/usr/share/doc/base-passwd/users-and-groups.html",
    "/usr/share/doc/zlib1g-dev/examples/zlib_how.html",
    "/usr/share/doc/libxslt1-dev/html/APIchunk7.html",
    "/usr/share/doc/libxslt1-dev/html/html/libxslt-transform.html",
]
PAGES = [
    ("/usr/share/doc/libtasn1-doc/libtasn1.pdf", 1),
    ("/usr/share/doc/libtasn1-doc/libtasn1.pdf", 9),
    ("/usr/share/doc/libtasn1-doc/libtasn1.pdf", 20),
    ("/usr/share/doc/shared-mime-info/shared-mime-info-spec.pdf", 1),
    ("/usr/share/doc/shared-mime-info/shared-mime-info-spec.pdf", 4),
    ("/usr/share/doc/shared-mime-info/shared-mime-info-spec.pdf", 8),
]
EDGE = {"photo": 1200, "screenshot": 1152, "text": 1240}

TOVALIN_FACTORS = [2, 5, 9, 15, 23, 34, 48, 68, 96, 136, 190, 255]
PEER_QUALITIES = [5, 10, 18, 28, 40, 52, 64, 75, 84, 91, 96, 100]
TARGETS_KB = [40, 80, 150, 250]
ENCODERS = ["tovalin", "mozjpeg", "jpegli"]


def run(args, **kw):
    return subprocess.run(args, check=True, capture_output=True, **kw)


def chromium(*args):
    return run(["chromium", "--headless=new", "--no-sandbox", "--disable-gpu", "--hide-scrollbars", *args], timeout=120)


def make_pictures(build, work):
    """The benchmark's PNGs, made once into WORKDIR/pictures."""
    out = work / "pictures"
    out.mkdir(parents=True, exist_ok=True)
    tool = build / "bench" / "tovalin-quality"
    raw = work / "raw"
    raw.mkdir(exist_ok=True)
    pictures = []
    for photo in PHOTOS:
        pictures.append(("photo", photo.stem, photo))
    for i, page in enumerate(SCREENSHOTS):
        shot = raw / f"screen{i}.png"
        if not shot.exists():
            chromium("--window-size=1440,900", f"--screenshot={shot}", f"file://{page}")
        pictures.append(("screenshot", f"screen{i}", shot))
    for i, (pdf, page) in enumerate(PAGES):
        shot = raw / f"page{i}.png"
        if not shot.exists():
            run(["pdftoppm", "-r", "150", "-f", str(page), "-l", str(page), "-singlefile", "-png", pdf, str(shot.with_suffix(""))])
        pictures.append(("text", f"page{i}", shot))
    made = []
    for kind, name, source in pictures:
        png = out / f"{kind}-{name}.png"
        if not png.exists():
            run([str(tool), "resize", str(source), str(EDGE[kind]), str(png)])
        made.append((kind, png))
    return made


def encode(encoder, png, setting, dest):
    """One JPEG of `png` at quality `setting` (a factor for Tovalin)."""
    if encoder == "tovalin":
        with open(dest, "wb") as f:
            subprocess.run([str(ARGS.cli), "-q", "-o", "-", "--factor", str(setting), str(png)], stdout=f, check=True)
    elif encoder == "jpegli":
        env = dict(os.environ, LD_LIBRARY_PATH=str(TOOLS))
        run([str(TOOLS / "cjpegli"), str(png), str(dest), "-q", str(setting), "--chroma_subsampling=420"], env=env)
    else:
        script = ("const s=require('sharp');s(process.argv[1]).jpeg({quality:+process.argv[2],mozjpeg:true})"
                  ".toFile(process.argv[3]).catch(e=>{console.error(e);process.exit(1)})")
        run(["node", "-e", script, str(png), str(setting), str(dest)], cwd=NODE)
    return dest.stat().st_size


def scores(ref_png, ref_ppm, jpeg):
    """SSIMULACRA2, butteraugli 3-norm and SSIM of one JPEG."""
    s2 = float(run([str(TOOLS / "ssimulacra2"), str(ref_png), str(jpeg)]).stdout.split()[-1])
    ppm = jpeg.with_suffix(".ppm")
    with open(ppm, "wb") as f:
        subprocess.run(["djpeg", "-pnm", str(jpeg)], stdout=f, check=True)
    words = run([str(TOOLS / "butteraugli-pnorm"), str(ref_ppm), str(ppm)]).stdout.decode().split()
    ppm.unlink()
    return {"ssimulacra2": s2, "butteraugli": float(words[1]), "ssim": float(words[5])}


def bytes_at(curve, metric, value):
    """log bytes where an encoder's curve reaches `value` of `metric`
    (linear between sweep points; None outside the sweep)."""
    points = sorted((p[metric], math.log(p["bytes"])) for p in curve)
    for (m0, b0), (m1, b1) in zip(points, points[1:]):
        if m0 <= value <= m1 and m1 > m0:
            return b0 + (b1 - b0) * (value - m0) / (m1 - m0)
        if m0 == value:
            return b0
    return None


def compare(curves):
    """Per metric, each encoder's log bytes ratio to mozjpeg at equal score,
    over the bytes where mozjpeg's SSIMULACRA2 runs from 50 to 90."""
    moz = sorted(curves["mozjpeg"], key=lambda p: p["bytes"])
    # As far as its sweep reaches: with 4:2:0, screenshots stay under 90
    # and text pages over 50.
    reached = [p["ssimulacra2"] for p in moz]
    s_lo, s_hi = max(50.0, min(reached)), min(90.0, max(reached))
    lo = bytes_at([{"bytes": p["bytes"], "s": p["ssimulacra2"]} for p in moz], "s", s_lo)
    hi = bytes_at([{"bytes": p["bytes"], "s": p["ssimulacra2"]} for p in moz], "s", s_hi)
    if lo is None or hi is None or hi <= lo:
        return None
    out = {}
    for metric in ("ssimulacra2", "butteraugli", "ssim"):
        # mozjpeg's values of the metric over its bytes from lo to hi
        mb = sorted((math.log(p["bytes"]), p[metric]) for p in moz)
        values = []
        for i in range(16):
            b = lo + (hi - lo) * (i + 0.5) / 16
            for (b0, m0), (b1, m1) in zip(mb, mb[1:]):
                if b0 <= b <= b1:
                    values.append(m0 + (m1 - m0) * (b - b0) / (b1 - b0))
                    break
        for encoder in ENCODERS:
            diffs = []
            for v in values:
                mine, theirs = bytes_at(curves[encoder], metric, v), bytes_at(moz, metric, v)
                if mine is not None and theirs is not None:
                    diffs.append(mine - theirs)
            out[(encoder, metric)] = statistics.fmean(diffs) if len(diffs) >= 8 else None
    return out


def largest_under(encoder, png, target, dest):
    """A peer's file at the target: its quality bisected over 1-100 to the
    largest file under it. Tovalin: --kb."""
    if encoder == "tovalin":
        with open(dest, "wb") as f:
            subprocess.run([str(ARGS.cli), "-q", "-o", "-", "--kb", str(target), str(png)], stdout=f)
        return dest.stat().st_size
    lo, hi, best = 1, 100, None
    while lo <= hi:
        q = (lo + hi) // 2
        size = encode(encoder, png, q, dest)
        if size <= target * 1024:
            best, lo = q, q + 1
        else:
            hi = q - 1
    return encode(encoder, png, best or 1, dest)


def decoders(jpegs, work):
    """How many outputs each decoder reads whole: djpeg, Pillow, Qt, Chromium."""
    verdict = {}
    verdict["djpeg"] = sum(subprocess.run(["djpeg", "-pnm", "-outfile", os.devnull, str(j)], capture_output=True).returncode == 0
                           for j in jpegs)
    pillow = 0
    for j in jpegs:
        try:
            with Image.open(j) as im:
                im.load()
                pillow += 1
        except Exception:
            pass
    verdict["Pillow"] = pillow
    qt = run([str(ARGS.build / "bench" / "tovalin-quality"), "qtdecode", *map(str, jpegs)]).stdout.decode()
    verdict["Qt"] = qt.count("ok\n")
    page = work / "decode.html"
    page.write_text("<body><script>let n=0;const files=%s;let left=files.length;for(const f of files){const i=new Image();"
                    "i.onload=()=>{if(i.naturalWidth>0)n++;if(--left==0)document.title='ok '+n};"
                    "i.onerror=()=>{if(--left==0)document.title='ok '+n};i.src='file://'+f}</script>"
                    % json.dumps([str(j) for j in jpegs]))
    dom = chromium("--allow-file-access-from-files", "--virtual-time-budget=60000", "--dump-dom", f"file://{page}").stdout.decode()
    start = dom.find("<title>ok ")
    verdict["Chromium"] = int(dom[start + 10:dom.find("<", start + 10)]) if start >= 0 else 0
    return verdict


def main():
    global ARGS
    parser = argparse.ArgumentParser()
    parser.add_argument("build", type=Path)
    parser.add_argument("work", type=Path)
    parser.add_argument("--quick", action="store_true", help="four pictures, for trying the script")
    ARGS = parser.parse_args()
    ARGS.build = ARGS.build.resolve()
    ARGS.cli = ARGS.build / "src" / "cli" / "tovalin-cli"
    work = ARGS.work.resolve()
    pictures = make_pictures(ARGS.build, work)
    if ARGS.quick:
        pictures = [p for i, p in enumerate(pictures) if i % 6 == 0]
    out = work / "out"
    out.mkdir(exist_ok=True)

    def one_picture(item):
        kind, png = item
        ref_ppm = out / f"{png.stem}.ref.ppm"
        Image.open(png).convert("RGB").save(ref_ppm)
        curves = {e: [] for e in ENCODERS}
        jpegs = []
        for encoder in ENCODERS:
            for setting in TOVALIN_FACTORS if encoder == "tovalin" else PEER_QUALITIES:
                dest = out / f"{png.stem}.{encoder}.{setting}.jpg"
                size = encode(encoder, png, setting, dest)
                curves[encoder].append({"bytes": size, **scores(png, ref_ppm, dest)})
                jpegs.append(dest)
        at_targets = {}
        for target in TARGETS_KB:
            for encoder in ENCODERS:
                dest = out / f"{png.stem}.{encoder}.kb{target}.jpg"
                size = largest_under(encoder, png, target, dest)
                at_targets[(target, encoder)] = {"bytes": size, **scores(png, ref_ppm, dest)}
                jpegs.append(dest)
        ref_ppm.unlink()
        return kind, png.stem, compare(curves), at_targets, jpegs

    with ThreadPoolExecutor(max_workers=os.cpu_count() or 2) as pool:
        results = list(pool.map(one_picture, pictures))

    print("Bytes needed at equal quality, relative to mozjpeg (log-averaged; - is fewer bytes)")
    print(f"{'class':<12}{'encoder':<10}{'SSIMULACRA2':>13}{'butteraugli':>13}{'SSIM':>9}  pictures")
    for cls in ["photo", "screenshot", "text", "all"]:
        chosen = [r for r in results if r[2] and (cls == "all" or r[0] == cls)]
        for encoder in ENCODERS:
            cells = []
            for metric in ("ssimulacra2", "butteraugli", "ssim"):
                vals = [r[2][(encoder, metric)] for r in chosen if r[2][(encoder, metric)] is not None]
                cells.append(f"{(math.exp(statistics.fmean(vals)) - 1) * 100:+.1f} %" if vals else "n/a")
            print(f"{cls:<12}{encoder:<10}{cells[0]:>13}{cells[1]:>13}{cells[2]:>9}  {len(chosen)}")
    print()
    print("Scores at KB targets (mean over pictures)")
    print(f"{'KB':>5} {'encoder':<10}{'bytes':>9}{'SSIMULACRA2':>13}{'butteraugli':>13}{'SSIM':>9}")
    for target in TARGETS_KB:
        for encoder in ENCODERS:
            rows = [r[3][(target, encoder)] for r in results]
            print(f"{target:>5} {encoder:<10}{statistics.fmean(r['bytes'] for r in rows):>9.0f}"
                  f"{statistics.fmean(r['ssimulacra2'] for r in rows):>13.2f}"
                  f"{statistics.fmean(r['butteraugli'] for r in rows):>13.3f}{statistics.fmean(r['ssim'] for r in rows):>9.4f}")
    print()
    # The size search relies on sizes never growing with the factor.
    growths = []
    for kind, png in pictures:
        sizes = [int(line.split()[1]) for line in run([str(ARGS.build / "bench" / "tovalin-quality"), "sizes", str(png)]).stdout.decode().splitlines()]
        steps = [(f + 3, b - a) for f, (a, b) in enumerate(zip(sizes, sizes[1:])) if b > a]
        growths.append((png.stem, steps))
    grown = [(name, steps) for name, steps in growths if steps]
    print(f"Factor steps 2..255 where the size grows: {sum(len(s) for _, s in grown)} on {len(grown)} of {len(growths)} pictures"
          + (f", at most +{max(d for _, s in grown for _, d in s)} bytes" if grown else ""))
    for name, steps in grown:
        print(f"  {name}: " + ", ".join(f"{f} +{d}" for f, d in steps))
    print()
    jpegs = [j for r in results for j in r[4]]
    verdict = decoders(jpegs, work)
    print("Outputs decoded whole: " + ", ".join(f"{k} {v}/{len(jpegs)}" for k, v in verdict.items()))


if __name__ == "__main__":
    sys.exit(main())
