#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# cmake --install into a staging folder lays out the program, the picture
# tool, the sample picture, the desktop entry, the icon and the man pages.
set -euo pipefail
build=$1
stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
DESTDIR=$stage cmake --install "$build" --prefix /usr/local >/dev/null
root=$stage/usr/local
fail=0
for f in bin/orvanel bin/orvanel-picture share/orvanel/tesmor.raw share/applications/orvanel.desktop \
         share/icons/hicolor/256x256/apps/orvanel.png share/man/man6/orvanel.6 share/man/man1/orvanel-picture.1; do
  [[ -e $root/$f ]] || { echo "missing: $f"; fail=1; }
done
[[ -x $root/bin/orvanel && -x $root/bin/orvanel-picture ]] || { echo "programs not executable"; fail=1; }
size=$(stat -c %s "$root/share/orvanel/tesmor.raw")
[[ $size -eq 49152 ]] || { echo "sample picture is $size bytes"; fail=1; }
grep -q '^Exec=orvanel$' "$root/share/applications/orvanel.desktop" || { echo "desktop entry runs the wrong thing"; fail=1; }
exit $fail
