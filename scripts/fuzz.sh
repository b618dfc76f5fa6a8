#!/usr/bin/env bash
# Fuzzes the camera's pointer handlers with libFuzzer (clang) for SECONDS
# (default 60). Needs clang; installs it as root when missing.
set -euo pipefail
cd "$(dirname "$0")/.."
if ! command -v clang++ >/dev/null; then
  if [[ $(id -u) -eq 0 ]]; then
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq clang libclang-rt-dev >/dev/null
  else
    echo "fuzz: needs clang: sudo apt-get install -y clang libclang-rt-dev" >&2
    exit 1
  fi
fi
scripts/setup.sh build >/dev/null  # the packages
if [[ ! -f build-fuzz/CMakeCache.txt ]]; then
  cmake -S . -B build-fuzz -DCMAKE_CXX_COMPILER=clang++ -DORVANEL_FUZZ=ON -DORVANEL_SANITIZE=ON \
    -DCMAKE_BUILD_TYPE=Debug >/dev/null
fi
cmake --build build-fuzz --target fuzz_camera -j"$(nproc)" >/dev/null
mkdir -p build-fuzz/corpus
exec build-fuzz/tests/fuzz_camera -max_total_time="${1:-60}" build-fuzz/corpus
