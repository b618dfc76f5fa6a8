#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Builds and runs every test: once as shipped, once under AddressSanitizer and
# UndefinedBehaviorSanitizer.
set -euo pipefail
cd "$(dirname "$0")/.."

. scripts/packages.sh
ensure_packages "${build_packages[@]}" "${test_packages[@]}"
run_as_clone_owner "$@"

# Everything the tests make in temporary folders goes in one of this run's,
# removed however the run ends (Ctrl-C included). Others may enter it: one
# test runs the program as another user from a copy there.
run_tmp=$(mktemp -d)
chmod 0755 "$run_tmp"
trap 'rm -rf "$run_tmp"' EXIT
trap 'exit 130' INT
trap 'exit 143' TERM
export TMPDIR=$run_tmp TEST_TMPDIR=$run_tmp/
log=$run_tmp/log
scripts/setup.sh build
ctest --test-dir build --output-on-failure | tee -a "$log"

scripts/setup.sh build-asan -DORVANEL_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug
LSAN_OPTIONS="suppressions='$PWD/tests/lsan.supp':print_suppressions=0" \
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
