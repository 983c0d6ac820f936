#!/bin/sh
# Installs what bench/quality.py needs and the tests never do: the
# [quality] section of the package list (Chromium, the yardsticks'
# libraries, pdftoppm, the documents drawn), Node, and sharp (mozjpeg) from npm
# into bench/.quality.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
"$here/../scripts/install-deps.sh" run build test quality
# Debian's Node, unless a Node with npm is there already (its npm would clash)
if ! command -v npm >/dev/null; then
    sudo=""
    [ "$(id -u)" -eq 0 ] || sudo=sudo
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends nodejs npm
fi
mkdir -p "$here/.quality"
cd "$here/.quality"
[ -d node_modules/sharp ] || npm install --silent --no-audit --no-fund sharp@0.33 >/dev/null
echo "ready: bench/quality.py BUILD WORKDIR"
