#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Installs what the build and the tests need (when missing), then configures
# and builds everything, tests included.
# Usage: scripts/setup.sh [BUILD_DIR [CMAKE_OPTION...]]
set -euo pipefail
cd "$(dirname "$0")/.."

. scripts/packages.sh
ensure_packages "${build_packages[@]}" "${test_packages[@]}"
run_as_clone_owner "$@"

build=${1:-build}
shift || true
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBUILD_TESTING=ON "$@" >/dev/null
cmake --build "$build" -j"$(nproc)"
