#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Fuzzes the camera's pointer handlers with libFuzzer (clang) for SECONDS
# (default 60). Needs clang; installs it as root when missing.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/packages.sh
command -v clang++ >/dev/null || ensure_packages clang libclang-rt-dev
scripts/setup.sh build >/dev/null  # the packages
if [[ ! -f build-fuzz/CMakeCache.txt ]]; then
  cmake -S . -B build-fuzz -DCMAKE_CXX_COMPILER=clang++ -DORVANEL_FUZZ=ON -DORVANEL_SANITIZE=ON \
    -DCMAKE_BUILD_TYPE=Debug >/dev/null
fi
cmake --build build-fuzz --target fuzz_camera -j"$(nproc)" >/dev/null
mkdir -p build-fuzz/corpus
exec build-fuzz/tests/fuzz_camera -max_total_time="${1:-60}" build-fuzz/corpus
