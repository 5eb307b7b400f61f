#!/bin/sh
# Checks the Debian package the way a distribution would: the desktop entry and the
# AppStream data validate, the package holds exactly the files listed in files.txt, its
# programs run from the unpacked tree, and lintian finds no error.
# Usage: packaging/check.sh BUILD_DIR
set -eu
here=$(cd "$(dirname "$0")" && pwd)
build=$1
deb=$(ls "$build"/vxconf_*.deb 2>/dev/null | head -n 1)
[ -n "$deb" ] || { echo "check.sh: no package in $build (run make package)" >&2; exit 1; }

desktop-file-validate "$here/../res/vxconf.desktop"
desktop-file-validate "$here/../res/vxconf-station.desktop"
appstreamcli validate --no-net --pedantic "$here/../res/example.tessaly.vxconf.metainfo.xml"

tree=$(mktemp -d)
trap 'rm -rf "$tree"' EXIT
dpkg-deb -x "$deb" "$tree"
(cd "$tree" && find . -type f -o -type l | LC_ALL=C sort) > "$tree.files"
if ! LC_ALL=C sort "$here/files.txt" | diff -u - "$tree.files"; then
    echo "check.sh: the package's files differ from packaging/files.txt" >&2
    rm -f "$tree.files"
    exit 1
fi
rm -f "$tree.files"
# Help is shown by Qt Assistant, which nothing links against.
dpkg-deb -f "$deb" Depends | grep -q 'assistant-qt6' ||
    { echo "check.sh: the package does not depend on assistant-qt6" >&2; exit 1; }

QT_QPA_PLATFORM=offscreen "$tree/usr/bin/vxconf" --version
"$tree/usr/bin/vxconf-cli" --version
"$tree/usr/bin/vxconf-station" --version
"$tree/usr/bin/vx310sim" --version
for page in vxconf vxconf-cli vxconf-station vx310sim; do
    zcat "$tree/usr/share/man/man1/$page.1.gz" | grep -q '^\.SH' ||
        { echo "check.sh: $page.1 is no man page" >&2; exit 1; }
done

echo "lintian:"
lintian --fail-on error --tag-display-limit 0 "$deb"
echo "package checks passed: $deb"
