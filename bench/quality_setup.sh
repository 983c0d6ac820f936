#!/bin/sh
# Installs what bench/quality.py needs and the tests never do: the
# [quality] section of the package list (Chromium, Node, the yardsticks'
# libraries, pdftoppm, the documents drawn) and sharp (mozjpeg) from npm
# into bench/.quality.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
"$here/../scripts/install-deps.sh" run build test quality
mkdir -p "$here/.quality"
cd "$here/.quality"
[ -d node_modules/sharp ] || npm install --silent --no-audit --no-fund sharp@0.33 >/dev/null
echo "ready: bench/quality.py BUILD WORKDIR"
