#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Counts what a frame costs, exactly enough to compare one commit with the
# next: user-space instructions and callgrind's estimated cycles (its
# instructions plus simulated cache misses: Ir + 10 x L1 misses + 100 x
# last-level misses), system calls and context switches. Each is the
# difference between a LONG-frame and a SHORT-frame run, over LONG - SHORT,
# so that start-up and exit cancel out. Programs: the demo offscreen, on a
# private 16-bit Xvfb and on a headless weston (pixman, a 1024 x 768 output);
# bare GL (the same GL calls into a surfaceless pbuffer, glFinish); a plain
# EGL window program (eglSwapBuffers) on X and on Wayland. For the two Wayland programs the
# compositor's instructions are counted too, a weston of its own under
# callgrind for each run. Usage: scripts/count.sh [SHORT LONG] (default 60 260).
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/packages.sh
ensure_packages "${build_packages[@]}" "${test_packages[@]}" strace time
run_as_clone_owner "$@"
scripts/setup.sh build >/dev/null
short=${1:-60}
long=${2:-260}
((long > short && short > 0)) || { echo "count: LONG must exceed SHORT, both above 0" >&2; exit 2; }

work=$(mktemp -d)
. scripts/xvfb.sh
finish() {
  local pid
  for pid in ${weston:-} ${counted:-}; do kill "$pid" 2>/dev/null || true; wait "$pid" 2>/dev/null || true; done
  stop_xvfb
  rm -rf "$work"
}
trap finish EXIT
start_xvfb
x11=$DISPLAY
unset DISPLAY WAYLAND_DISPLAY
mkdir -m 0700 "$work/run"
# The output the compositor's figures are compared at.
output=(--width=1024 --height=768)
XDG_RUNTIME_DIR=$work/run weston --backend=headless-backend.so --use-pixman --socket=count \
  "${output[@]}" --idle-time=0 >"$work/weston.log" 2>&1 &
weston=$!
for _ in $(seq 100); do [[ -S $work/run/count ]] && break; sleep 0.1; done

demo=build/app/orvanel
bench=build/bench/orvanel_bench
# One thread of llvmpipe for all, as the demo asks for itself; no picture of
# the user's own; the same environment otherwise.
common=(env LP_NUM_THREADS=0 XDG_DATA_HOME="$work/none")
declare -A how=(
  [demo-offscreen]="--offscreen --frames"
  [demo-x11]="--frames"
  [demo-wayland]="--frames"
  [bare-gl]="--bare-paced"
  [plain-x11]="--plain-window"
  [plain-wayland]="--plain-wayland"
)
run() {  # NAME FRAMES TOOL...: runs one program for FRAMES frames under TOOL
  local name=$1 frames=$2
  shift 2
  local program=$demo place=()
  case $name in
    bare-gl) program=$bench; place=(EGL_PLATFORM=surfaceless) ;;
    plain-x11) program=$bench; place=(DISPLAY="$x11") ;;
    plain-wayland) program=$bench; place=(WAYLAND_DISPLAY="${socket:-count}" XDG_RUNTIME_DIR="$work/run") ;;
    demo-x11) place=(DISPLAY="$x11") ;;
    demo-wayland) place=(WAYLAND_DISPLAY="${socket:-count}" XDG_RUNTIME_DIR="$work/run") ;;
  esac
  # shellcheck disable=SC2086
  "${common[@]}" "${place[@]}" "$@" "$program" ${how[$name]} "$frames" >/dev/null 2>&1
}
# Events of callgrind's summary line, by name.
summary() {  # FILE EVENT...
  awk -v want="${*:2}" '
    /^events:/ { for (i = 2; i <= NF; i++) col[$i] = i - 1 }
    /^(summary|totals):/ { split(want, w, " "); s = 0; for (k in w) s += $(col[w[k]] + 1) * (w[k] ~ /^(I1mr|D1mr|D1mw)$/ ? 10 : w[k] ~ /^(ILmr|DLmr|DLmw)$/ ? 100 : 1); printf "%.0f\n", s; exit }' "$1"
}
count() {  # NAME FRAMES: "instructions cycles calls switches"
  local name=$1 frames=$2 out=$work/cg
  rm -f "$out".*
  run "$name" "$frames" valgrind --tool=callgrind --cache-sim=yes --callgrind-out-file="$out.%p"
  local file
  file=$(ls "$out".* | head -1)
  local ir cycles calls switches
  ir=$(summary "$file" Ir)
  cycles=$(summary "$file" Ir I1mr D1mr D1mw ILmr DLmr DLmw)
  run "$name" "$frames" strace -f -c -o "$work/strace"
  calls=$(awk '$NF == "total" { print $4 }' "$work/strace")
  run "$name" "$frames" /usr/bin/time -f "%w %c" -o "$work/time"
  switches=$(awk 'NF == 2 && $1 ~ /^[0-9]+$/ { print $1 + $2 }' "$work/time")
  echo "$ir $cycles $calls $switches"
}

# The compositor's instructions while NAME shows FRAMES frames, into
# $instructions: a weston of its own (the same options) under callgrind, the
# program run as it is (run() takes the socket from the local $socket). Slowed
# so, weston still repaints once a frame, only later. Not in a subshell, so
# that finish() can end this weston too.
compositor() {  # NAME FRAMES
  local name=$1 frames=$2 out=$work/wcg socket=counted
  rm -f "$out".*
  XDG_RUNTIME_DIR=$work/run valgrind --tool=callgrind --callgrind-out-file="$out.%p" \
    weston --backend=headless-backend.so --use-pixman --socket=$socket \
    "${output[@]}" --idle-time=0 >"$work/counted.log" 2>&1 &
  counted=$!
  for _ in $(seq 300); do [[ -S $work/run/$socket ]] && break; sleep 0.1; done
  run "$name" "$frames"
  kill "$counted"
  wait "$counted" || true
  counted=
  instructions=$(summary "$(ls "$out".* | head -1)" Ir)
}

span=$((long - short))
echo "Per frame, the difference of a $long-frame and a $short-frame run over $span ($(lscpu | sed -n 's/^Model name: *//p'))"
echo
echo "| program | instructions | estimated cycles | system calls | context switches |"
echo "|---|---|---|---|---|"
declare -A ir
for name in demo-offscreen demo-x11 demo-wayland bare-gl plain-x11 plain-wayland; do
  read -r i1 c1 s1 w1 <<< "$(count "$name" "$short")"
  read -r i2 c2 s2 w2 <<< "$(count "$name" "$long")"
  ir[$name]=$(((i2 - i1) / span))
  printf '| %s | %d | %d | %.1f | %.1f |\n' "$name" "${ir[$name]}" $(((c2 - c1) / span)) \
    "$(echo "($s2 - $s1) / $span" | bc -l)" "$(echo "($w2 - $w1) / $span" | bc -l)"
done
echo
for name in demo-offscreen demo-x11 demo-wayland; do
  printf '%s to bare GL, instructions: %.4f\n' "$name" "$(echo "${ir[$name]} / ${ir[bare-gl]}" | bc -l)"
done
printf 'demo-x11 to plain-x11, instructions: %.4f\n' "$(echo "${ir[demo-x11]} / ${ir[plain-x11]}" | bc -l)"
printf 'demo-wayland to plain-wayland, instructions: %.4f\n' \
  "$(echo "${ir[demo-wayland]} / ${ir[plain-wayland]}" | bc -l)"

echo
echo "| program | its compositor's instructions | program and compositor |"
echo "|---|---|---|"
declare -A both
for name in demo-wayland plain-wayland; do
  compositor "$name" "$short"
  c1=$instructions
  compositor "$name" "$long"
  c2=$instructions
  both[$name]=$((ir[$name] + (c2 - c1) / span))
  printf '| %s | %d | %d |\n' "$name" $(((c2 - c1) / span)) "${both[$name]}"
done
echo
printf 'demo-wayland and compositor to plain-wayland and compositor, instructions: %.4f\n' \
  "$(echo "${both[demo-wayland]} / ${both[plain-wayland]}" | bc -l)"
