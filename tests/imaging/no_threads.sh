#!/bin/bash
# With no thread to be had (a shim refuses pthread_create), size-mode jobs
# on a large JPEG and on a JPEG with a colour profile (converted in bands,
# off Qt's thread pool) end with the very bytes they have with threads: no
# abort, no hang (each run has 60 s). PNGs and HEICs still wait on Qt's and
# libheif's own threads.
set -euo pipefail
bench=$1
shim=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
data=$(cd "$(dirname "$0")/../data" && pwd)
/usr/bin/convert "$data/sequential.jpg" -resize '2000x1400!' -quality 90 "$work/large.jpg"
/usr/bin/python3 - "$work" <<'PY'
import sys
from PIL import Image, ImageCms
work = sys.argv[1]
photo = Image.open(f"{work}/large.jpg").convert("RGB")
warm = ImageCms.ImageCmsProfile(ImageCms.createProfile("sRGB", 5000)).tobytes()  # white point 5000 K
photo.save(f"{work}/profile.jpg", quality=90, icc_profile=warm)
PY
fail=0
for picture in large.jpg profile.jpg; do
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
exit $fail
