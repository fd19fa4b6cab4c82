#!/usr/bin/env bash
# The host package's suites on Windows Node under Wine, against the Windows bridge: the end-to-end
# suite starts build-win's morvane-bridge.exe beside the simulated MorvaneSdk.dll over a named pipe
# made by the package (scripts/windows-node-setup.sh prepares the run).
#
# JOBS sets the build jobs (default 2). Arguments choose the test files (default: all of them),
# e.g. scripts/test-windows-node.sh dist/test/bridge-real.test.js (relative to host/).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
source scripts/windows-node-setup.sh

echo "=== the host package on Windows Node under Wine ($(basename "$(dirname "$(dirname "$node_exe")")"))"
# Every Node process of the run preloads a fetch made on node:http, as the global fetch cannot
# reach a local server under Wine.
files=("$@")
[[ ${#files[@]} -gt 0 ]] || files=(dist/test/*.test.js)
output="$windows_node_scratch/output.txt"
code=0
(cd host &&
  MORVANE_TEST_UNDER_WINE=1 MORVANE_BRIDGE="$(windows_path "$root/build-win/bin/morvane-bridge.exe")" \
  NODE_OPTIONS="--require $(windows_path "$root/host/dist/test/fixtures/wine-global-fetch.js")" \
  timeout 600 "$wine" "$node_exe" --test --test-reporter=spec "${files[@]}" >"$output" 2>&1 </dev/null) ||
  code=$?
tr -d '\r' <"$output"
[[ $code -eq 0 ]] || { echo "FAIL: the host package on Windows Node under Wine (exit $code)" >&2; exit 1; }
echo "The host package passed on Windows Node under Wine."
