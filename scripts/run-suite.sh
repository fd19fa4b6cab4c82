#!/usr/bin/env bash
# Configures, builds and tests one build folder: run-suite.sh <folder> [cmake options...]
set -euo pipefail
cd "$(dirname "$0")/.."
dir=$1; shift
echo "=== $dir $*"
cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE="${BUILD_TYPE:-Release}" -DMORVANE_WERROR=ON "$@" >/dev/null
cmake --build "$dir" -j"$(nproc)"
ctest --test-dir "$dir" --output-on-failure -j"$(nproc)" ${CTEST_ARGS:-}
