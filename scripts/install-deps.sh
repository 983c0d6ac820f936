#!/bin/sh
# install-deps.sh SECTION...: install whatever is missing from those
# sections (run, build, test) of the package list, with sudo when not root.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
wanted=""
for section in "$@"; do
    wanted="$wanted $(awk -v s="[$section]" '/^\[/ { on = ($0 == s); next } on && !/^#/ && NF { print $1 }' "$here/packages-debian12.txt")"
done
missing=""
for p in $wanted; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing="$missing $p"
done
[ -z "$missing" ] && exit 0
sudo=""
[ "$(id -u)" -eq 0 ] || sudo=sudo
echo "installing:$missing"
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends $missing
