#!/bin/bash
# Installs Tovalin into a temporary prefix (as the Debian package installs
# it into /usr) and runs it from there on an X server (under xvfb-run), as
# whoever runs the tests (root in CI, where the fault lived): its settings
# and work files go to the user's XDG folders, never beside the
# executable; a settings file of the old per-user folder is taken over;
# --help and --version answer without a display.
set -euo pipefail
build=$1
work=$(mktemp -d)
trap 'kill $(jobs -p) 2>/dev/null || true; rm -rf "$work"' EXIT
cmake --install "$build" --prefix "$work/prefix" >/dev/null
exe="$work/prefix/bin/tovalin"
export HOME="$work/home"
unset XDG_CONFIG_HOME XDG_CACHE_HOME XDG_DATA_HOME
mkdir -p "$HOME/.local/share/Tovalin" "$work/out"
printf '"%s","55"\r\n' "$work/out" >"$HOME/.local/share/Tovalin/kakunousaku_file.txt"
echo old >"$HOME/.local/share/Tovalin/work_min.jpg"
data=$(cd "$(dirname "$0")/../data" && pwd)
/usr/bin/convert "$data/photo.jpg" -resize '640x400!' "$work/clip.png"
xclip -selection clipboard -t image/png -i "$work/clip.png"

fail=0
check() { if eval "$2"; then echo "ok: $1"; else echo "FAIL: $1"; fail=1; fi; }
check "--help without a display" "env -u DISPLAY '$exe' --help | grep -q '^Usage: tovalin'"
check "--version without a display" "[ \"\$(env -u DISPLAY '$exe' --version)\" = 'tovalin 1.1' ]"
check "tovalin-cli installed beside it" "[ \"\$(env -u DISPLAY '$work/prefix/bin/tovalin-cli' --version)\" = 'tovalin-cli 1.1' ]"

cd "$work"
"$exe" &
app=$!
win=$(xdotool search --sync --onlyvisible --name '^Tovalin' | head -1)
sleep 1
click() { xdotool mousemove --window "$win" "$1" "$2" click 1; }
click 375 386 # Resize
out="$work/out/出力ファイル名.jpg"
for _ in $(seq 100); do [ -s "$out" ] && break; sleep 0.1; done
sleep 0.5
click 375 442 # Exit
for _ in $(seq 100); do kill -0 $app 2>/dev/null || break; sleep 0.1; done

size=$(stat -c %s "$out" 2>/dev/null || echo 0)
check "output written under the taken-over 55 KB ($size bytes)" "[ $size -gt 1000 ] && [ $size -lt 56320 ]"
check "nothing but the programs in the program folder" "[ \"\$(ls -A '$work/prefix/bin' | tr '\\n' ' ')\" = 'tovalin tovalin-cli ' ]"
check "settings in ~/.config/tovalin" "[ \"\$(cat '$HOME/.config/tovalin/kakunousaku_file.txt')\" = \"\$(printf '\"%s\",\"55\"\\r\\n' '$work/out')\" ]"
check "work files in ~/.cache/tovalin" "[ -s '$HOME/.cache/tovalin/work_min.jpg' ] && [ -s '$HOME/.cache/tovalin/work_max.jpg' ]"
check "old per-user folder taken over and gone" "[ ! -e '$HOME/.local/share/Tovalin' ]"
exit $fail
