#!/bin/bash
# Builds the Debian package and checks what it installs and depends on, that
# lintian finds nothing in it even pedantically, that its desktop entry and
# metadata pass the desktop's own validators, and that removing it clears
# what version 1.0 left beside its executable.
set -euo pipefail
build=$1
src=$2
cd "$build"
rm -f tovalin_*_amd64.deb
cpack -G DEB >/dev/null
deb=$(ls tovalin_*_amd64.deb)
fail=0
check() { if eval "$2"; then echo "ok: $1"; else echo "FAIL: $1"; fail=1; fi; }
files=$(dpkg-deb -c "$deb" | awk '{print $6}')
for f in ./usr/bin/tovalin ./usr/bin/tovalin-cli ./usr/share/man/man1/tovalin-cli.1.gz ./usr/share/applications/tovalin.desktop \
         ./usr/share/metainfo/app.tovalin.tovalin.metainfo.xml \
         ./usr/share/icons/hicolor/scalable/apps/tovalin.svg \
         ./usr/share/icons/hicolor/16x16/apps/tovalin.png ./usr/share/icons/hicolor/256x256/apps/tovalin.png \
         ./usr/share/man/man1/tovalin.1.gz ./usr/share/bash-completion/completions/tovalin-cli \
         ./usr/share/doc/tovalin/copyright ./usr/share/doc/tovalin/changelog.gz; do
    check "package holds $f" "grep -qx '$f' <<<\"\$files\""
done
depends=$(dpkg-deb -f "$deb" Depends)
for d in libheif1 libde265-0 libjpeg62-turbo libqt6widgets6 qt6-qpa-plugins qt6-translations-l10n fonts-ipafont-gothic xdg-utils; do
    check "depends on $d" "grep -q '$d' <<<\"\$depends\""
done
check "named tovalin_<version>_amd64.deb" "[[ $deb =~ ^tovalin_[0-9.]+_amd64\.deb$ ]]"
check "desktop entry valid, without warnings" "[ -z \"\$(desktop-file-validate '$src/data/tovalin.desktop' 2>&1)\" ]"
check "desktop entry opens the pictures Tovalin reads" "grep -q '^MimeType=.*image/heic;.*image/avif;' '$src/data/tovalin.desktop'"
metadata=$(appstreamcli validate --no-net --pedantic "$src/data/app.tovalin.tovalin.metainfo.xml" 2>&1 || true)
check "metadata valid, even pedantically" "grep -q 'Validation was successful' <<<\"\$metadata\" && ! grep -qiE 'pedantic|warning|info' <<<\"\$metadata\""
lintian=$(lintian -I --pedantic "$deb" 2>&1 | grep -v 'running with root privileges' || true)
check "lintian finds nothing, even pedantically: ${lintian:-none}" "[ -z \"\$lintian\" ]"
# The maintainer scripts, run against a copy of /usr/bin holding 1.0's files.
control=$(mktemp -d)
trap 'rm -rf "$control"' EXIT
dpkg-deb -e "$deb" "$control/DEBIAN"
mkdir -p "$control/usr/bin"
for script in postinst postrm; do
    touch "$control/usr/bin/"{tovalin,tovalin-cli,kakunousaku_file.txt,work_min.jpg,work_max.jpg}
    sed "s#/usr/bin/#$control/usr/bin/#g" "$control/DEBIAN/$script" >"$control/$script"
    [ $script = postinst ] && action=configure || action=remove
    sh "$control/$script" $action
    check "$script $action leaves only the programs in /usr/bin" "[ \"\$(ls $control/usr/bin | tr '\\n' ' ')\" = 'tovalin tovalin-cli ' ]"
done
exit $fail
