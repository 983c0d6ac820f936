#!/bin/bash
# Starts the real tovalin on an X server (run under xvfb-run), gives it a
# clipboard image through xclip, presses Resize and Exit with xdotool, and
# checks the JPEG, the work files and the settings file it leaves, and that
# the window wrote the very bytes the benchmark and tovalin-cli write for the
# same job.
set -euo pipefail
exe=$1
bench=$2
cli=$3
work=$(mktemp -d)
trap 'kill $(jobs -p) 2>/dev/null || true; rm -rf "$work"' EXIT
mkdir -p "$work/app" "$work/out"
cp "$exe" "$work/app/tovalin"
data=$(cd "$(dirname "$0")/../data" && pwd)
/usr/bin/convert "$data/photo.jpg" -resize '640x400!' "$work/clip.png"
xclip -selection clipboard -t image/png -i "$work/clip.png"

cd "$work/out"
"$work/app/tovalin" &
app=$!
win=$(xdotool search --sync --onlyvisible --name '^Tovalin' | head -1)
sleep 1

click() { # x y in window pixels
    xdotool mousemove --window "$win" "$1" "$2" click 1
}
# Resize button: panel at y 256, button at (324, 90) sized 103x80.
click 375 386
out="$work/out/出力ファイル名.jpg"
for _ in $(seq 100); do [ -s "$out" ] && break; sleep 0.1; done
sleep 0.5
# Exit button: (324, 174) sized 103x24 inside the panel.
click 375 442
for _ in $(seq 100); do kill -0 $app 2>/dev/null || break; sleep 0.1; done
if kill -0 $app 2>/dev/null; then echo "FAIL: still running after Exit"; exit 1; fi

fail=0
check() { if eval "$2"; then echo "ok: $1"; else echo "FAIL: $1"; fail=1; fi; }
size=$(stat -c %s "$out" 2>/dev/null || echo 0)
check "output written under 40 KB ($size bytes)" "[ $size -gt 1000 ] && [ $size -lt 40960 ]"
check "output is 640x400" "[ \"\$(identify -format %wx%h \"$out\")\" = 640x400 ]"
check "work files kept" "[ -s $work/app/work_min.jpg ] && [ -s $work/app/work_max.jpg ]"
expected=$(printf '"%s","40"\r\n' "$work/out")
check "settings file" "[ \"\$(cat $work/app/kakunousaku_file.txt)\" = \"\$expected\" ]"
# A settings file that cannot be written (a folder in its place): Exit shows
# the message in a real box, and the program ends once it is answered.
rm -f "$work/app/kakunousaku_file.txt"
mkdir "$work/app/kakunousaku_file.txt"
xclip -selection clipboard -i /dev/null
"$work/app/tovalin" &
app=$!
win=$(xdotool search --sync --onlyvisible --name '^Tovalin' | head -1)
sleep 1
click 375 442
shown=0
for _ in $(seq 50); do
    [ "$(xdotool search --onlyvisible --name '^Tovalin' | wc -l)" -ge 2 ] && { shown=1; break; }
    sleep 0.1
done
check "settings failure shown in a box" "[ $shown = 1 ]"
sleep 0.3
xdotool key Return
for _ in $(seq 50); do kill -0 $app 2>/dev/null || break; sleep 0.1; done
check "ends once the box is answered" "! kill -0 $app 2>/dev/null"

# From the keyboard alone: Ctrl+O opens a picture, Return runs, and a
# second Return runs again (answering the overwrite question) instead of
# reaching 「終了」.
rm -rf "$work/app/kakunousaku_file.txt"
cp "$work/clip.png" "$work/pic.png"
"$work/app/tovalin" &
app=$!
win=$(xdotool search --sync --onlyvisible --name '^Tovalin' | head -1)
sleep 1
xdotool windowfocus --sync "$win"
xdotool key ctrl+o
dialog=""
for _ in $(seq 50); do
    dialog=$(xdotool search --onlyvisible --name '画像を開く' | head -1) && [ -n "$dialog" ] && break
    sleep 0.1
done
check "Ctrl+O opens the file dialog" "[ -n '$dialog' ]"
sleep 0.5
xdotool type "$work/pic.png"
xdotool key Return
sleep 1
xdotool key Return
for _ in $(seq 100); do [ -s "$work/out/pic.jpg" ] && break; sleep 0.1; done
check "Ctrl+O and Return write the picture" "[ -s $work/out/pic.jpg ]"
sleep 0.5
xdotool key Return # runs again: the overwrite question
sleep 0.5
xdotool key Return # はい
sleep 1
check "a second Return does not end the program" "kill -0 $app 2>/dev/null"
kill $app 2>/dev/null || true

"$bench" "$work/clip.png" 640x400 40 --out "$work/bench.jpg" >/dev/null
check "same bytes as tovalin-bench" "cmp -s \"$out\" $work/bench.jpg"
"$cli" "$work/clip.png" -o "$work/cli" --size 640x400 --kb 40 --quiet
check "same bytes as tovalin-cli" "cmp -s \"$out\" $work/cli/clip.jpg"
exit $fail
