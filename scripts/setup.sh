#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Installs what the build and the tests need (when missing), then configures
# and builds. Usage: scripts/setup.sh [BUILD_DIR [CMAKE_OPTION...]]
set -euo pipefail
cd "$(dirname "$0")/.."

. scripts/packages.sh
ensure_packages g++ cmake pkg-config libegl-dev libgles-dev libegl-mesa0 libgl1-mesa-dri \
  libx11-dev libxext-dev libxi-dev libxtst-dev libpng-dev \
  libgtest-dev libgmock-dev libbenchmark-dev xvfb valgrind

build=${1:-build}
shift || true
if [[ ! -f $build/CMakeCache.txt ]]; then
  cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >/dev/null
fi
cmake --build "$build" -j"$(nproc)"
