#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Builds and runs the demo: in a window on your desktop, or, with no display,
# for a few seconds on a private virtual screen, leaving a screenshot.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh build >/dev/null

picture=/private/var/tesmor.raw
if [[ ! -e $picture ]]; then
  if [[ $(id -u) -eq 0 ]]; then
    mkdir -p /private/var
    cp build/tools/sample.raw "$picture"
    echo "run-demo: put the sample picture at $picture"
  else
    echo "run-demo: no picture at $picture; the cube shows untextured. To add the sample one:"
    echo "  sudo sh -c 'mkdir -p /private/var && cp $PWD/build/tools/sample.raw $picture'"
  fi
fi

if [[ -n ${DISPLAY:-} ]]; then
  exec build/app/orvanel
fi

# No display: a private 16-bit screen the size of the device's.
mkdir -p out
. scripts/xvfb.sh
start_xvfb
build/app/orvanel &
demo=$!
sleep "${DEMO_SECONDS:-3}"
build/tools/screenshot out/screenshot.png
kill -TERM "$demo"
status=0
wait "$demo" || status=$?
kill "$xvfb" 2>/dev/null || true
echo "run-demo: screenshot saved to $PWD/out/screenshot.png (the demo exited with status $status)"
exit "$status"
