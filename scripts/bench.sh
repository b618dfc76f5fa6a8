#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Builds and runs the benchmark on a private virtual screen; prints a table.
# Pass --quick for a short run.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh build >/dev/null
exec build/bench/orvanel_bench "$@"
