#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# A screenshot that cannot be written leaves the path it was given as it was
# (a device, a link into a full file system, an existing file there) and the
# run fails with one line; one cut off by a signal's deadline fails too, and
# without a renderer none is written.
# Runs offscreen, in a mount namespace of its own (a user namespace for an
# ordinary user), so that a full file system costs the machine nothing.
set -euo pipefail
if [[ $1 != --inside ]]; then
  program=$(realpath "$1")
  work=$(mktemp -d)
  trap 'rm -rf "$work"' EXIT
  as=(-m)
  (($(id -u) == 0)) || as=(-r -m)
  unshare "${as[@]}" "$0" --inside "$program" "$work" || exit 1
  exit 0
fi
program=$2
cd "$3"
fail=0
mkdir full
mount -t tmpfs -o size=64k tmpfs full
printf old >full/old.png
chmod 0640 full/old.png
ln -s full/new.png link
dd if=/dev/zero of=full/filler bs=4k count=64 2>/dev/null || true
cases=(full/old.png link)
# A device node of its own (only root may make one).
mknod device c 1 7 2>/dev/null && cases+=(device)
((${#cases[@]} == 3)) || echo "screenshot_test: no device node case (not root)"
state() { ls -l "$1"; if [[ -f $1 ]]; then od -c "$1"; fi; }
for path in "${cases[@]}"; do
  before=$(state "$path")
  status=0
  "$program" --offscreen --frames 2 --screenshot "$path" >out 2>err </dev/null || status=$?
  after=$(state "$path")
  [[ $status == 1 ]] || { echo "$path: status $status, not 1"; fail=1; }
  [[ $before == "$after" ]] || { echo "$path: changed: $before -> $after"; fail=1; }
  grep -qx "orvanel: cannot write .*: No space left on device" err || { echo "$path: said: $(cat err)"; fail=1; }
done
[[ -z $(ls full | grep -v -e '^old.png$' -e '^filler$') ]] || { echo "left behind: $(ls full)"; fail=1; }

# No renderer: no screenshot of nothing, status 1 and why.
status=0
LIBGL_DRIVERS_PATH=/nonexistent __EGL_VENDOR_LIBRARY_FILENAMES=/nonexistent.json GALLIUM_DRIVER=nonexistent \
  "$program" --offscreen --frames 3 --screenshot blank.png >out 2>err </dev/null || status=$?
[[ $status == 1 && ! -e blank.png ]] || { echo "no renderer: status $status, $(ls)"; fail=1; }
grep -q "^orvanel: 0 frames shown" out || { echo "no renderer: said $(cat out)"; fail=1; }
grep -q "^orvanel: no frame could be drawn: " err || { echo "no renderer: said $(cat err)"; fail=1; }

# --stats=json: one object on a line of its own, with every key, and figures
# that hold: nothing presented with no display, frames 33 ms apart at the
# demo's pace, percentiles in order, and the CPU a frame what the process
# used for its frames (the difference of a long and a short run).
cpu() {  # FRAMES: the run's user + system CPU, in seconds
  local TIMEFORMAT='%3U %3S'
  { time "$program" --offscreen --frames "$1" --stats=json >out 2>err </dev/null; } 2>cpu || echo "stats: status $?"
  awk '{ print $1 + $2 }' cpu
}
short=$(cpu 2)
long=$(cpu 62)
json=$(grep '^{' out || true)
for key in '"frames":62,' '"seconds":' '"late_ticks":' '"missed_ticks":' '"frame_ms":{"p50":' '"p95":' '"p99":' \
           '"max":' '"cpu_us_per_frame":{"user":' '"system":' '"presented":0,' '"backend":"offscreen"' '"renderer":"'; do
  [[ $json == *"$key"* ]] || { echo "stats: no $key in: $json"; fail=1; }
done
figures=$(sed -E 's/"[a-z0-9_]+"://g; s/[^0-9.]+/ /g' <<<"$json")  # frames seconds late missed p50 p95 p99 max user system presented
awk -v short="$short" -v long="$long" '{
  per = (long - short) / 60 * 1e6
  if (!($5 > 30 && $5 < 36 && $5 <= $6 && $6 <= $7 && $7 <= $8)) print "stats: the intervals are off:", $0
  if (!($9 + $10 > 0.6 * per && $9 + $10 < 1.6 * per)) print "stats: CPU", $9 + $10, "us a frame, the process used", per
}' <<<"$figures" | grep . && fail=1

# A FIFO nobody opens: a signal's deadline ends the wait with status 1 and a line.
mkfifo fifo
"$program" --offscreen --screenshot fifo >out 2>err </dev/null &
pid=$!
for _ in $(seq 200); do grep -q "GL version" out 2>/dev/null && break; sleep 0.05; done
kill -TERM $pid
status=0
wait $pid || status=$?
[[ $status == 1 ]] || { echo "fifo: status $status, not 1"; fail=1; }
grep -q "orvanel: the screenshot was cut off" err || { echo "fifo: said: $(cat err)"; fail=1; }
exit $fail
