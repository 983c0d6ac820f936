#!/usr/bin/python3
"""The shrink-to-fit floor for Tovalin's own encoder.

    bench/shrink_floor.py BUILD WORKDIR      # WORKDIR as quality.py made it

The floor was factor 100 under the libjpeg encoder. Its successor is the
factor at which our encoder's median SSIMULACRA2 over the quality
benchmark's 24 pictures equals libjpeg's median at 100: the same look,
fewer bytes. Prints both medians at every factor tried and the factor.
"""
import statistics
import subprocess
import sys
import tempfile
from concurrent.futures import ThreadPoolExecutor
from pathlib import Path

HERE = Path(__file__).resolve().parent
TOOLS = HERE.parent.parent / "shared" / "tools" / "quality"
FACTORS = list(range(90, 181, 10))


def score(cli, png, factor, encoder, dest):
    with open(dest, "wb") as f:
        subprocess.run([str(cli), "-q", "-o", "-", "--factor", str(factor), "--encoder", encoder, str(png)], stdout=f, check=True)
    out = subprocess.run([str(TOOLS / "ssimulacra2"), str(png), str(dest)], check=True, capture_output=True).stdout
    return float(out.split()[-1])


def main():
    build, work = Path(sys.argv[1]).resolve(), Path(sys.argv[2]).resolve()
    cli = build / "src" / "cli" / "tovalin-cli"
    pictures = sorted((work / "pictures").glob("*.png"))
    with tempfile.TemporaryDirectory() as tmp, ThreadPoolExecutor(2) as pool:
        def median(encoder, factor):
            jobs = [pool.submit(score, cli, p, factor, encoder, Path(tmp) / f"{encoder}.{factor}.{p.stem}.jpg") for p in pictures]
            return statistics.median(j.result() for j in jobs)
        target = median("libjpeg", 100)
        print(f"libjpeg encoder, factor 100: median SSIMULACRA2 {target:.2f} over {len(pictures)} pictures")
        ours = []
        for f in FACTORS:
            ours.append((f, median("tovalin", f)))
            print(f"our encoder, factor {f}: {ours[-1][1]:.2f}")
    for (f0, s0), (f1, s1) in zip(ours, ours[1:]):
        if s0 >= target >= s1:
            floor = f0 + (f1 - f0) * (s0 - target) / (s0 - s1)
            print(f"floor: factor {round(floor)} (interpolated {floor:.1f})")
            return 0
    print("the floor lies outside the factors tried")
    return 1


if __name__ == "__main__":
    sys.exit(main())
