#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The program under valgrind's memcheck on a private X server: no invalid
# reads or writes, no use of uninitialised values and no definite leaks in
# the project's own code. (What the system's libraries report of themselves
# is left to them.)
set -euo pipefail
program=$1
screenshot=$2
if ! command -v valgrind >/dev/null; then echo "valgrind is not installed"; exit 1; fi
work=$(mktemp -d)
. "$(dirname "$0")/../scripts/xvfb.sh"
finish() {
  if [[ -n ${vg:-} ]]; then kill -TERM "$vg" 2>/dev/null || true; wait "$vg" 2>/dev/null || true; fi
  stop_xvfb
  rm -rf "$work"
}
trap finish EXIT
start_xvfb
# Until the server answers.
for _ in $(seq 100); do "$screenshot" --pixel 0 0 >/dev/null 2>&1 && break; sleep 0.05; done
# Nothing at the picture path, so the sample beside the program is shown; as
# root, a picture of the machine's own there is hidden in a private mount
# namespace.
hide=()
[[ -e /private/var && $(id -u) -eq 0 ]] &&
  hide=(unshare -m sh -c 'mount -t tmpfs tmpfs /private/var && exec "$@"' sh)
XDG_DATA_HOME=$work/data "${hide[@]}" valgrind --leak-check=full --show-leak-kinds=definite --errors-for-leak-kinds=definite \
  --suppressions="$(dirname "$0")/valgrind.supp" \
  --num-callers=40 --fullpath-after= --log-file="$work/log" "$program" --frames 20 >/dev/null &
vg=$!
status=0
wait "$vg" || status=$?
vg=
echo "program exited with status $status"
# Ours: a frame in a file under the project's source tree (valgrind names
# each file by its full path, as it was compiled).
root=$(cd "$(dirname "$0")/.." && pwd)/
# One block per report (valgrind marks each line "==PID== " and parts them
# with a line of just that). It is ours when its first frame past valgrind's own
# replacements (malloc, memcpy and the like) is in the project's code.
bad=$(sed -E 's/^==[0-9]+== ?//' "$work/log" | awk -v RS= -v root="$root" '
  /Invalid (read|write)|uninitialised|definitely lost in/ {
    n = split($0, lines, "\n")
    for (i = 1; i <= n; i++) {
      if (lines[i] !~ /(at|by) 0x/ || lines[i] ~ /vg_replace_|vgpreload/) continue
      if (index(lines[i], root) > 0) print $0 "\n"
      break
    }
  }')
grep -E "ERROR SUMMARY|definitely lost:" "$work/log" | sed 's/^==[0-9]*== //'
if [[ -n $bad ]]; then
  echo "$bad"
  exit 1
fi
[[ $status -eq 0 ]] || { echo "the program did not end cleanly under valgrind"; exit 1; }
echo "no memory errors in the project's code"
