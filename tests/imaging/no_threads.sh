#!/bin/bash
# With no thread to be had (a shim refuses pthread_create), size-mode jobs
# on a large JPEG, a JPEG and a PNG with colour profiles, a large GIF, a
# HEIC and a HEIC grid end with the very bytes they have with threads, and
# a run through the window (drop, size mode, overwrite) works: no abort,
# no hang (each run has 60 s). libheif's AV1 decoder cannot do without its
# threads: an AVIF is refused, without abort or hang. tovalin-cli runs a
# batch of three kinds with two jobs asked for, to the same bytes.
set -euo pipefail
bench=$1
shim=$2
window_test=$3
cli=$4
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
data=$(cd "$(dirname "$0")/../data" && pwd)
/usr/bin/convert "$data/sequential.jpg" -resize '2000x1400!' -quality 90 "$work/large.jpg"
/usr/bin/python3 - "$work" "$data" <<'PY'
import struct, sys, zlib
from PIL import Image, ImageCms
work, data = sys.argv[1], sys.argv[2]
photo = Image.open(f"{work}/large.jpg").convert("RGB")
warm = ImageCms.ImageCmsProfile(ImageCms.createProfile("sRGB", 5000)).tobytes()  # white point 5000 K
photo.save(f"{work}/profile.jpg", quality=90, icc_profile=warm)
photo.save(f"{work}/large.gif")
photo.save(f"{work}/plain.png")
def chunk(kind, body):
    return struct.pack(">I", len(body)) + kind + body + struct.pack(">I", zlib.crc32(kind + body))
png = open(f"{work}/plain.png", "rb").read()
p3 = open(f"{data}/displayp3.icc", "rb").read()
extra = chunk(b"gAMA", struct.pack(">I", 45455)) + chunk(b"iCCP", b"P3\0\0" + zlib.compress(p3))
open(f"{work}/profile.png", "wb").write(png[:33] + extra + png[33:])
PY
cp "$data/photo.heic" "$data/grid.heic" "$work/"
fail=0
for picture in large.jpg profile.jpg profile.png large.gif photo.heic grid.heic; do
    ASAN_OPTIONS= "$bench" "$work/$picture" 800x500 30 --out "$work/with.jpg" >/dev/null
    status=0
    LD_PRELOAD=$shim timeout 60 "$bench" "$work/$picture" 800x500 30 --out "$work/without.jpg" >/dev/null 2>"$work/err" || status=$?
    if [ $status -eq 0 ] && cmp -s "$work/with.jpg" "$work/without.jpg"; then
        echo "ok: $picture without threads, same bytes"
    else
        echo "FAIL: $picture without threads (status $status): $(head -c 300 "$work/err")"
        fail=1
    fi
done
status=0
LD_PRELOAD=$shim timeout 60 "$bench" "$data/photo.avif" 800x500 30 --out "$work/avif.jpg" >/dev/null 2>&1 || status=$?
if [ $status -eq 1 ]; then
    echo "ok: photo.avif without threads, refused"
else
    echo "FAIL: photo.avif without threads (status $status)"
    fail=1
fi
mkdir "$work/batch"
cp "$work/large.jpg" "$work/profile.png" "$work/photo.heic" "$work/batch/"
ASAN_OPTIONS= "$cli" "$work/batch" -o "$work/cli_with" --kb 30 --long-edge 900 --jobs 2 -q
status=0
LD_PRELOAD=$shim timeout 120 "$cli" "$work/batch" -o "$work/cli_without" --kb 30 --long-edge 900 --jobs 2 -q 2>"$work/err" || status=$?
if [ $status -eq 0 ] && diff -r "$work/cli_with" "$work/cli_without" >/dev/null; then
    echo "ok: tovalin-cli without threads, same bytes"
else
    echo "FAIL: tovalin-cli without threads (status $status): $(head -c 300 "$work/err")"
    fail=1
fi
status=0
LD_PRELOAD=$shim NOTHREAD_ALLOW_FIRST=1 QT_QPA_PLATFORM=offscreen LC_ALL=C.UTF-8 timeout 120 "$window_test" dropFillsTheForm resizeBothModes \
    >"$work/window" 2>&1 || status=$?
if [ $status -eq 0 ]; then
    echo "ok: the window without threads"
else
    echo "FAIL: the window without threads (status $status):"
    tail -20 "$work/window"
    fail=1
fi
exit $fail
