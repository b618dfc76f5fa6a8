#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Builds and runs the demo: in a window on your desktop (Wayland or X11), or,
# with no display, for a moment with no display at all, leaving a screenshot.
set -euo pipefail
cd "$(dirname "$0")/.."
say() { echo "run-demo: $*"; }

. scripts/packages.sh
ensure_packages "${build_packages[@]}"
run_as_clone_owner "$@"

if [[ ! -f build/CMakeCache.txt ]]; then
  say "configuring the build in build/"
  cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBUILD_TESTING=OFF
fi
say "building the demo (the test command builds the rest)"
cmake --build build -j"$(nproc)" --target orvanel sample_picture

case " $* " in
  *" --help "* | *" -h "* | *" --version "*) exec build/app/orvanel "$@" ;;
esac
if [[ -n ${WAYLAND_DISPLAY:-} || -n ${DISPLAY:-} ]]; then
  where=${WAYLAND_DISPLAY:+the Wayland compositor $WAYLAND_DISPLAY}
  say "starting the demo on ${where:-the X display $DISPLAY}; close its window, press Esc or q, or Ctrl-C here to end it"
  exec build/app/orvanel "$@"
fi

# No display: the frames are drawn all the same, and one of them (the 57th,
# with the cube's brightest faces towards you) is kept, where the user said
# or in out/.
shot=out/screenshot.png
keep=(--screenshot "$shot")
args=("$@")
for ((i = 0; i < ${#args[@]}; i++)); do
  case ${args[i]} in
    --screenshot) shot=${args[i + 1]:-} keep=() ;;
    --screenshot=*) shot=${args[i]#--screenshot=} keep=() ;;
  esac
done
mkdir -p out
say "no display: drawing 57 frames with no display at all (--offscreen)"
((${#keep[@]})) && rm -f "$shot"
status=0
build/app/orvanel --offscreen --frames 57 "${keep[@]}" "$@" || status=$?
if ((status == 0)) && [[ -n $shot && -e $shot ]]; then
  say "screenshot saved to $(realpath "$shot")"
else
  say "the demo failed (status $status); no screenshot was saved"
fi
exit "$status"
