#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Makes the README's pictures from a real run of the demo on a private
# virtual screen: docs/screenshot.png, docs/demo.gif and the icons.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh build >/dev/null
# /usr/bin/convert: some machines put a stand-in of that name earlier on the PATH.
. scripts/packages.sh
[[ -x /usr/bin/convert ]] || ensure_packages imagemagick

work=$(mktemp -d)
. scripts/xvfb.sh
finish() {
  if [[ -n ${demo:-} ]]; then kill -TERM "$demo" 2>/dev/null || true; wait "$demo" 2>/dev/null || true; fi
  stop_xvfb
  rm -rf "$work"
}
trap finish EXIT

# The sample picture: it is shown when nothing is at the demo's fixed path;
# as root, a picture of the machine's own there is hidden in a private mount
# namespace.
hide=()
[[ -e /private/var && $(id -u) -eq 0 ]] &&
  hide=(unshare -m sh -c 'mount -t tmpfs tmpfs /private/var && exec "$@"' sh)

start_xvfb
"${hide[@]}" build/app/orvanel >/dev/null &
demo=$!
sleep 1
for i in $(seq -w 0 44); do
  build/tools/screenshot "$work/frame$i.png"
  sleep 0.05
done
# The still: frame 57, the brightest faces towards you (as run-demo.sh keeps
# it), drawn with no display at all.
"${hide[@]}" build/app/orvanel --offscreen --frames 57 --screenshot docs/screenshot.png >/dev/null
# The icons: frame 50 shows three faces; the cube alone, whole, on a
# transparent square.
"${hide[@]}" build/app/orvanel --offscreen --frames 50 --screenshot "$work/icon.png" >/dev/null
/usr/bin/convert "$work/icon.png" -alpha set -fuzz 1% -transparent 'rgb(74,77,99)' -trim +repage "$work/cube.png"
read -r w h <<< "$(/usr/bin/identify -format '%w %h' "$work/cube.png")"
# A desktop icon keeps a margin: the cube fills about five sixths of it.
side=$(( (w > h ? w : h) * 120 / 100 ))
for size in 48 64 128 256; do
  /usr/bin/convert "$work/cube.png" -background none -gravity center -extent "${side}x$side" \
    -resize "${size}x$size" -strip data/icons/orvanel-$size.png
done
/usr/bin/convert -delay 7 -loop 0 "$work"/frame*.png -resize 75% -layers Optimize docs/demo.gif
echo "make-docs: wrote docs/screenshot.png, docs/demo.gif and data/icons/"
