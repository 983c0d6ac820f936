#!/usr/bin/python3
"""Hash what tovalin-cli makes of every kind of input, to show a change
leaves the output bytes alone.

    bench/output_hashes.py CLI WORKDIR > hashes.txt

Makes its pictures in WORKDIR (from Debian's mate-backgrounds photographs
and the test fixtures), then prints one line per picture, mode and size:
"NAME MODE SIZE SHA256", or "NAME MODE SIZE refused" where the job fails.
Run it with the old and the new tovalin-cli and diff the two lists.
"""
import hashlib
import struct
import subprocess
import sys
import zlib
from pathlib import Path

from PIL import Image

NATURE = Path("/usr/share/backgrounds/mate/nature")
FIXTURES = Path(__file__).resolve().parent.parent / "tests" / "data"


def chunk(kind, body):
    return struct.pack(">I", len(body)) + kind + body + struct.pack(">I", zlib.crc32(kind + body) & 0xFFFFFFFF)


def with_chunks(png, chunks):
    """The PNG with the given chunks put right after its IHDR."""
    ihdr_end = 8 + 25
    return png[:ihdr_end] + b"".join(chunk(k, b) for k, b in chunks) + png[ihdr_end:]


def make_inputs(out):
    photo = Image.open(NATURE / "Garden.jpg").convert("RGB").resize((1200, 800), Image.LANCZOS)
    rgba = photo.convert("RGBA")
    rgba.putalpha(Image.linear_gradient("L").resize((1200, 800)))
    photo.save(out / "rgb8.png")
    rgba.save(out / "rgba8.png")
    photo.convert("L").save(out / "grey8.png")
    photo.convert("LA").save(out / "greyalpha8.png")
    photo.quantize(200).save(out / "palette.png")
    pal = photo.quantize(16)
    pal.save(out / "palette_trns.png", transparency=bytes(range(0, 256, 16)))
    photo.convert("1").save(out / "bilevel.png")
    rgb = (out / "rgb8.png").read_bytes()
    (out / "rgb_trns.png").write_bytes(with_chunks(rgb, [(b"tRNS", struct.pack(">HHH", 10, 200, 30))]))
    (out / "gama.png").write_bytes(with_chunks(rgb, [(b"gAMA", struct.pack(">I", 65000))]))
    chrm = struct.pack(">8I", 31270, 32900, 64000, 33000, 21000, 71000, 15000, 6000)
    (out / "chrm.png").write_bytes(with_chunks(rgb, [(b"gAMA", struct.pack(">I", 45455)), (b"cHRM", chrm)]))
    (out / "srgb.png").write_bytes(with_chunks(rgb, [(b"sRGB", b"\0")]))
    icc = (FIXTURES / "displayp3.icc").read_bytes()
    (out / "iccp.png").write_bytes(with_chunks(rgb, [(b"iCCP", b"Display P3\0\0" + zlib.compress(icc))]))
    photo.save(out / "p3.jpg", quality=90, icc_profile=icc)
    im = "/usr/bin/convert"
    src = str(out / "rgb8.png")
    subprocess.run([im, src, "-depth", "16", "-define", "png:bit-depth=16", str(out / "rgb16.png")], check=True)
    subprocess.run([im, str(out / "rgba8.png"), "-depth", "16", "-define", "png:bit-depth=16", str(out / "rgba16.png")], check=True)
    subprocess.run([im, src, "-colorspace", "Gray", "-depth", "16", "-define", "png:bit-depth=16",
                    "-define", "png:color-type=0", str(out / "grey16.png")], check=True)
    subprocess.run([im, src, "-interlace", "PNG", str(out / "interlaced.png")], check=True)
    subprocess.run([im, str(out / "rgb16.png"), "-interlace", "PNG", "-define", "png:bit-depth=16",
                    str(out / "interlaced16.png")], check=True)
    photo.save(out / "photo.jpg", quality=92)
    photo.save(out / "progressive.jpg", quality=88, progressive=True)
    photo.convert("L").save(out / "grey.jpg", quality=90)
    photo.convert("CMYK").save(out / "cmyk.jpg", quality=90)
    photo.save(out / "photo.gif")
    photo.save(out / "photo.bmp")
    photo.save(out / "photo.webp", quality=85)
    photo.save(out / "photo.tiff")
    rgba.save(out / "alpha.webp", lossless=True)
    subprocess.run(["heif-enc", "-q", "70", "-o", str(out / "photo.heic"), src], check=True, capture_output=True)
    subprocess.run(["heif-enc", "-A", "-q", "70", "-o", str(out / "photo.avif"), src], check=True, capture_output=True)
    for name in ["exif.jpg", "motion.jpg", "grid.heic", "alpha.heic", "photo10.heic", "restarts.jpg",
                 "sequential.jpg", "rle_skipped.bmp"]:
        (out / name).write_bytes((FIXTURES / name).read_bytes())


def main():
    cli, work = sys.argv[1], Path(sys.argv[2])
    work.mkdir(parents=True, exist_ok=True)
    make_inputs(work)
    sizes = [["--size", "640x427"], ["--scale", "37"], ["--long-edge", "97"], ["--size", "1500x1000"]]
    modes = [["--factor", "2"], ["--factor", "30"], ["--factor", "120"], ["--kb", "25"], ["--kb", "3"]]
    for picture in sorted(p for p in work.iterdir() if p.is_file()):
        for size in sizes:
            for mode in modes:
                run = subprocess.run([cli, "-q", "-o", "-", *size, *mode, str(picture)], capture_output=True)
                # 3: written, but over its target
                digest = hashlib.sha256(run.stdout).hexdigest() if run.returncode in (0, 3) else "refused"
                print(picture.name, "".join(mode), "".join(size), digest, flush=True)


if __name__ == "__main__":
    main()
