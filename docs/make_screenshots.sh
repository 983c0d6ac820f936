#!/bin/sh
# Remakes the screenshots under docs/ from the window and batch dialog tests:
# docs/make_screenshots.sh BUILD-FOLDER
set -eu
build=${1:-build}
docs=$(cd "$(dirname "$0")" && pwd)
export TOVALIN_SCREENSHOTS="$docs" QT_QPA_PLATFORM=offscreen LC_ALL=C.UTF-8
"$build/tests/app/tst_mainwindow" smallerSizeOffered:missed
"$build/tests/app/tst_batchdialog" missesAndFailuresStandOut
