#!/bin/sh
# Install whatever is missing from the package list (sudo when not root).
set -eu
here=$(cd "$(dirname "$0")" && pwd)
missing=""
for p in $(grep -v '^#' "$here/packages-debian12.txt"); do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing="$missing $p"
done
[ -z "$missing" ] && exit 0
sudo=""
[ "$(id -u)" -eq 0 ] || sudo=sudo
echo "installing:$missing"
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends $missing
