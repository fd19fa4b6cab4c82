#!/usr/bin/env bash
# Measures the bridge against the limit of its own transport (benchmarks/README.md): builds the
# bridge, the libraries and the host benchmark in Release into build-bench, then runs it.
# Arguments go to the benchmark, e.g. scripts/bench.sh --rounds 9 --only pipelined,logs
# (--help lists them). JOBS sets the build jobs (default 2). Not part of the test command.
# scripts/bench.sh --windows runs the Windows round under Wine instead (scripts/bench-windows.sh),
# scripts/bench.sh --host-load the host package under load (scripts/bench-host-load.sh).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
[[ "${1:-}" == --windows ]] && exec scripts/bench-windows.sh
[[ "${1:-}" == --host-load ]] && { shift; exec scripts/bench-host-load.sh "$@"; }
"$root/scripts/install-deps.sh" >&2

jobs=${JOBS:-2}
log=$(mktemp)
trap 'rm -f "$log"' EXIT
if ! { cmake -S . -B build-bench -DCMAKE_BUILD_TYPE=Release -DMORVANE_WERROR=ON \
         -DMORVANE_BUILD_TESTS=OFF &&
       cmake --build build-bench -j"$jobs" --target morvane_host_bench; } >"$log" 2>&1; then
  cat "$log" >&2
  echo "bench.sh: the build failed" >&2
  exit 1
fi
build-bench/bin/morvane_host_bench "$@"
