#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Builds and runs every test: once as shipped, once under AddressSanitizer and
# UndefinedBehaviorSanitizer.
set -euo pipefail
cd "$(dirname "$0")/.."

. scripts/packages.sh
ensure_packages "${build_packages[@]}" "${test_packages[@]}"
run_as_clone_owner "$@"

log=$(mktemp)
trap 'rm -f "$log"' EXIT
scripts/setup.sh build
ctest --test-dir build --output-on-failure | tee -a "$log"

scripts/setup.sh build-asan -DORVANEL_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug
LSAN_OPTIONS=suppressions=$PWD/tests/lsan.supp:print_suppressions=0 \
UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  ctest --test-dir build-asan --output-on-failure | tee -a "$log"

# A test that cannot run here says so and is counted, never passed in silence.
skipped=$(grep -c '(Skipped)$' "$log" || true)
if ((skipped)); then
  reasons=$(cat build/Testing/Temporary/LastTest.log build-asan/Testing/Temporary/LastTest.log 2>/dev/null |
    grep -A1 ': Skipped$' | grep -v -e ': Skipped$' -e '^--$' | sort -u | paste -sd';' -)
  echo "test: $skipped tests skipped: ${reasons:-see the logs in build*/Testing/Temporary}"
else
  echo "test: no tests skipped"
fi
