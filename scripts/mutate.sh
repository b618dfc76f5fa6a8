#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Puts one-line faults into a scratch clone one at a time and reports which
# the tests miss. A tool for developers; not part of the test command.
# Usage: scripts/mutate.sh [LIST]   (default: scripts/mutations.txt)
# Each line of LIST: FILE <tab> TEXT <tab> REPLACEMENT [<tab> CTEST_REGEX];
# TEXT must occur exactly once in FILE; a line break in TEXT or REPLACEMENT is
# written ⏎. "#" starts a comment line.
set -euo pipefail
cd "$(dirname "$0")/.."
list=$(realpath "${1:-scripts/mutations.txt}")
. scripts/packages.sh
ensure_packages "${build_packages[@]}" "${test_packages[@]}"
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
# A fault can hang a test until ctest kills it, leaving its temporary files:
# they go with the scratch folder.
export TMPDIR="$scratch/tmp"
mkdir "$TMPDIR"
git clone -q . "$scratch/src"
echo "mutate: building a scratch clone of HEAD in $scratch"
cmake -S "$scratch/src" -B "$scratch/build" -DBUILD_TESTING=ON >/dev/null
cmake --build "$scratch/build" -j"$(nproc)" >/dev/null

caught=0 missed=0 broken=0 n=0
while IFS= read -r line; do
  [[ -z $line || $line == \#* ]] && continue
  n=$((n + 1))
  # Applies the fault; prints the file and the tests to run.
  if ! fields=$(python3 - "$scratch/src" "$line" <<'PY'
import sys
root, line = sys.argv[1:3]
parts = [part.replace("\u23ce", "\n") for part in line.split("\t")]
if len(parts) < 3:
    sys.exit("needs FILE, TEXT and REPLACEMENT")
path = root + "/" + parts[0]
s = open(path).read()
if s.count(parts[1]) != 1:
    sys.exit(f"{parts[0]}: the text occurs {s.count(parts[1])} times")
open(path, "w").write(s.replace(parts[1], parts[2]))
print(parts[0])
print(parts[3] if len(parts) > 3 else "")
PY
  ); then broken=$((broken + 1)); echo "?? $n: not applied: $line"; continue; fi
  file=$(sed -n 1p <<<"$fields")
  regex=$(sed -n 2p <<<"$fields")
  if [[ -n $regex ]] && ! ctest --test-dir "$scratch/build" -N -R "$regex" | grep -q 'Total Tests: [1-9]'; then
    broken=$((broken + 1)); echo "?? $n: no test matches '$regex': $line"
    git -C "$scratch/src" checkout -q -- "$file"; continue
  fi
  if ! cmake --build "$scratch/build" -j"$(nproc)" >/dev/null 2>&1; then
    result="caught (does not build)"; caught=$((caught + 1))
  elif ctest --test-dir "$scratch/build" ${regex:+-R "$regex"} -E valgrind --timeout 120 >/dev/null 2>&1; then
    result="MISSED"; missed=$((missed + 1))
  else
    result="caught"; caught=$((caught + 1))
  fi
  echo "$result: $n ${line//$'\t'/ | }"
  git -C "$scratch/src" checkout -q -- "$file"
done < "$list"
total=$((caught + missed))
echo "mutate: $caught of $total faults caught ($((total ? 100 * caught / total : 0))%), $missed missed, $broken not applied"
