#!/usr/bin/env bash
# The host package's suites on Windows Node under Wine, against the Windows bridge: the end-to-end
# suite starts build-win's morvane-bridge.exe beside the simulated MorvaneSdk.dll over a named pipe
# made by the package. Installs Windows Node from the npm registry (scripts/install-node.sh),
# builds the bridge and the simulated library into build-win when missing, and the package's
# JavaScript with the Linux Node; a fresh Wine prefix for the run.
#
# JOBS sets the build jobs (default 2). Arguments choose the test files (default: all of them),
# e.g. scripts/test-windows-node.sh dist/test/bridge-real.test.js (relative to host/).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
WITH_WINDOWS=1 "$root/scripts/install-deps.sh"
PATH="$("$root/scripts/install-node.sh" linux):$PATH"
node_exe=$("$root/scripts/install-node.sh" windows)

jobs=${JOBS:-2}
win_build=build-win
wine=/usr/lib/wine/wine64
wineserver=/usr/lib/wine/wineserver
windows_path() { local path=$1; echo "Z:${path//\//\\}"; }

echo "=== $win_build: the bridge and the simulated library (mingw-w64)"
[[ -f "$win_build/CMakeCache.txt" ]] ||
  cmake -S . -B "$win_build" -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake \
    -DCMAKE_BUILD_TYPE=Release -DMORVANE_WERROR=ON >/dev/null
cmake --build "$win_build" -j"$jobs" --target morvane-bridge MorvaneSdk

echo "=== the host package's JavaScript"
(cd host && { [[ -d node_modules ]] || npm ci --no-audit --no-fund; } && npm run --silent build)

WINEPREFIX=$(mktemp -d "${TMPDIR:-/tmp}/morvane-wine-node-XXXXXX")
export WINEPREFIX
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
output=$(mktemp "${TMPDIR:-/tmp}/morvane-wine-node-XXXXXX.txt")
cleanup() {
  "$wineserver" -k 2>/dev/null || true
  rm -rf "$WINEPREFIX" "$output"
}
trap cleanup EXIT
"$wineserver" -p
"$wine" wineboot --init >/dev/null 2>&1

echo "=== the host package on Windows Node under Wine ($(basename "$(dirname "$(dirname "$node_exe")")"))"
# Windows Node refuses Wine's Windows version without NODE_SKIP_PLATFORM_CHECK. Its standard
# output must be a file: on a pipe from Linux its first write fails with EBADF. Every Node process
# of the run preloads a fetch made on node:http, as the global fetch cannot reach a local server
# under Wine.
files=("$@")
[[ ${#files[@]} -gt 0 ]] || files=(dist/test/*.test.js)
code=0
(cd host &&
  NODE_SKIP_PLATFORM_CHECK=1 MORVANE_TEST_UNDER_WINE=1 \
  MORVANE_BRIDGE="$(windows_path "$root/$win_build/bin/morvane-bridge.exe")" \
  NODE_OPTIONS="--require $(windows_path "$root/host/dist/test/fixtures/wine-global-fetch.js")" \
  timeout 600 "$wine" "$node_exe" --test --test-reporter=spec "${files[@]}" >"$output" 2>&1 </dev/null) ||
  code=$?
tr -d '\r' <"$output"
[[ $code -eq 0 ]] || { echo "FAIL: the host package on Windows Node under Wine (exit $code)" >&2; exit 1; }
echo "The host package passed on Windows Node under Wine."
