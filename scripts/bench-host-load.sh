#!/usr/bin/env bash
# The host load benchmark (benchmarks/README.md; scripts/bench.sh --host-load runs it): builds the
# host package, then fires 1,000 HTTP requests and 1,000 downloads at it at once from a stand-in
# for the bridge and checks its peak memory and open descriptors. Arguments go to
# benchmarks/host_load/load.js, e.g. --unlimited or --requests 200. Linux only (it reads /proc).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root/host"
[[ -d node_modules ]] || npm ci >&2
npm run build >/dev/null
exec timeout 900 node "$root/benchmarks/host_load/load.js" "$root/host" "$@"
