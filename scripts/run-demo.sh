#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Builds and runs the demo: in a window on your desktop, or, with no display,
# for a few seconds on a private virtual screen, leaving a screenshot.
set -euo pipefail
cd "$(dirname "$0")/.."
say() { echo "run-demo: $*"; }

. scripts/packages.sh
need=("${build_packages[@]}")
[[ -n ${DISPLAY:-}${WAYLAND_DISPLAY:-} ]] || need+=(xvfb)
ensure_packages "${need[@]}"

if [[ ! -f build/CMakeCache.txt ]]; then
  say "configuring the build in build/"
  cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBUILD_TESTING=OFF
fi
say "building the demo (the test command builds the rest)"
cmake --build build -j"$(nproc)" --target orvanel screenshot sample_picture

if [[ -n ${WAYLAND_DISPLAY:-} || -n ${DISPLAY:-} ]]; then
  where=${WAYLAND_DISPLAY:+the Wayland compositor $WAYLAND_DISPLAY}
  say "starting the demo on ${where:-the X display $DISPLAY}; close its window, press Esc or q, or Ctrl-C here to end it"
  exec build/app/orvanel
fi

# No display: a private 16-bit screen the size of the device's.
demo=
finish() {
  if [[ -n $demo ]]; then kill -TERM "$demo" 2>/dev/null || true; wait "$demo" 2>/dev/null || true; fi
  if [[ -n ${xvfb:-} ]]; then kill "$xvfb" 2>/dev/null || true; fi
}
trap finish EXIT
trap 'exit 130' INT TERM
mkdir -p out
. scripts/xvfb.sh
start_xvfb
seconds=${DEMO_SECONDS:-3}
say "no display: running the demo for $seconds s on a private virtual screen ($DISPLAY)"
WAYLAND_DISPLAY= build/app/orvanel &
demo=$!
sleep "$seconds"
build/tools/screenshot out/screenshot.png
kill -TERM "$demo"
status=0
wait "$demo" || status=$?
demo=
say "screenshot saved to $PWD/out/screenshot.png (the demo exited with status $status)"
exit "$status"
