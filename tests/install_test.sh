#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# An install under /usr in a staging folder lays out the programs, the sample
# picture, the desktop entry, icons, metadata, man pages and licence, and they
# validate; the Debian package made from the same tree has no lintian errors.
set -euo pipefail
build=$1
stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
DESTDIR=$stage cmake --install "$build" --prefix /usr >/dev/null
root=$stage/usr
fail=0
for f in bin/orvanel bin/orvanel-picture share/orvanel/tesmor.raw share/applications/orvanel.desktop \
         share/metainfo/net.orvanel.Orvanel.metainfo.xml share/doc/orvanel/copyright \
         share/man/man6/orvanel.6.gz share/man/man1/orvanel-picture.1.gz; do
  [[ -e $root/$f ]] || { echo "missing: $f"; fail=1; }
done
for size in 48 64 128 256; do
  icon=$root/share/icons/hicolor/${size}x$size/apps/orvanel.png
  [[ $(file -b "$icon" 2>/dev/null) == "PNG image data, $size x $size,"* ]] || { echo "no $size px icon"; fail=1; }
done
[[ -x $root/bin/orvanel && -x $root/bin/orvanel-picture ]] || { echo "programs not executable"; fail=1; }
size=$(stat -c %s "$root/share/orvanel/tesmor.raw")
[[ $size -eq 49152 ]] || { echo "sample picture is $size bytes"; fail=1; }
grep -q '^Exec=orvanel %f$' "$root/share/applications/orvanel.desktop" || { echo "desktop entry runs the wrong thing"; fail=1; }
grep -q '^MimeType=image/png;$' "$root/share/applications/orvanel.desktop" || { echo "desktop entry opens no PNG"; fail=1; }
zgrep -q '^\.I /usr/share/orvanel/tesmor.raw$' "$root/share/man/man6/orvanel.6.gz" ||
  { echo "the man page does not name the installed sample"; fail=1; }
# The licence text is the last paragraph, one space in, "." for a blank line.
cmp -s <(awk '/^License: Expat$/ { text = ""; next } { text = text $0 "\n" } END { printf "%s", text }' \
           "$root/share/doc/orvanel/copyright" | sed -e 's/^ //' -e 's/^\.$//') \
       <(sed -n '/^Permission/,$p' "$(dirname "$0")/../LICENSE") || { echo "copyright differs from LICENSE"; fail=1; }
desktop-file-validate "$root/share/applications/orvanel.desktop" || { echo "desktop entry invalid"; fail=1; }
appstreamcli validate --no-net "$root/share/metainfo/net.orvanel.Orvanel.metainfo.xml" >/dev/null ||
  { echo "metadata invalid"; fail=1; }

(cd "$build" && cpack -G DEB -B "$stage/deb" >/dev/null) || { echo "cpack failed"; exit 1; }
deb=$(ls "$stage"/deb/orvanel_*.deb)
depends=$(dpkg-deb -f "$deb" Depends)
[[ $depends == *libegl1* ]] || { echo "dependencies not computed"; fail=1; }
[[ $depends == *libegl-mesa0* && $depends == *libgl1-mesa-dri* ]] || { echo "no renderer comes with it: $depends"; fail=1; }
# Not piped into grep -q: under pipefail, dpkg-deb cut off by its early exit would fail the check.
description=$(dpkg-deb -f "$deb" Description)
[[ $description == *Wayland* ]] || { echo "the description does not name Wayland"; fail=1; }
# Lintian leaves its caches in TMPDIR: in the staging folder, they go with it.
mkdir "$stage/tmp"
TMPDIR=$stage/tmp lintian --fail-on error "$deb" 2>/dev/null || { echo "lintian reports errors"; fail=1; }
exit $fail
