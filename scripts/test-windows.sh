#!/usr/bin/env bash
# The Windows build, tested under Wine. Installs mingw-w64 and Wine when missing, cross-builds
# the bridge, the simulated and scriptable libraries and the relay test host (wine-host.exe) into
# build-win, builds the Linux test executables into build-wine-tests, and runs the host-level
# suites against the Windows build: the suites start `wine64 wine-host.exe morvane-bridge.exe`
# in place of the Linux bridge (tests/support/bridge_host.h, wine_host/README.md).
#
# JOBS sets the build jobs (default 2); LINUX_TESTS_BUILD a Linux build folder to take the test
# executables from (default build-wine-tests; `build` after scripts/test.sh, same options).
# Arguments go to the host-level suite, e.g. scripts/test-windows.sh --gtest_filter='Bridge*'.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
WITH_WINDOWS=1 "$root/scripts/install-deps.sh"

jobs=${JOBS:-2}
win_build=build-win
linux_build=${LINUX_TESTS_BUILD:-build-wine-tests}
wine=/usr/lib/wine/wine64
wineserver=/usr/lib/wine/wineserver

echo "=== $win_build (mingw-w64)"
cmake -S . -B "$win_build" -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake \
  -DCMAKE_BUILD_TYPE=Release -DMORVANE_WERROR=ON >/dev/null
cmake --build "$win_build" -j"$jobs"

echo "=== $linux_build (the Linux test executables)"
# A folder that is already configured (the main build) keeps its options.
[[ -f "$linux_build/CMakeCache.txt" ]] ||
  cmake -S . -B "$linux_build" -DCMAKE_BUILD_TYPE=Release -DMORVANE_WERROR=ON >/dev/null
cmake --build "$linux_build" -j"$jobs" --target host_tests

bridge="$root/$win_build/bin/morvane-bridge.exe"
relay="$root/$win_build/wine_host/wine-host.exe"
windows_bridge="Z:${bridge//\//\\}"

echo "=== what ships: $win_build/bin"
# A GUI-subsystem exe (no console window) that imports MorvaneSdk.dll by name; neither it nor the
# DLLs need a mingw runtime DLL beside them.
headers=$(x86_64-w64-mingw32-objdump -p "$bridge")
grep -q "(Windows GUI)" <<<"$headers" || { echo "FAIL: the bridge is not a GUI program" >&2; exit 1; }
grep -q "DLL Name: MorvaneSdk.dll" <<<"$headers" ||
  { echo "FAIL: the bridge does not import MorvaneSdk.dll" >&2; exit 1; }
for binary in "$bridge" "$root/$win_build/bin/MorvaneSdk.dll" "$root/$win_build/scriptable/MorvaneSdk.dll"; do
  if x86_64-w64-mingw32-objdump -p "$binary" | grep -iE "DLL Name: (libstdc|libgcc|libwinpthread)"; then
    echo "FAIL: $binary needs a mingw runtime DLL" >&2
    exit 1
  fi
done
ls "$win_build/bin"

# A fresh Wine prefix for this run, and one wineserver kept alive for all of it: a Wine process
# then starts in a fraction of a second instead of several.
WINEPREFIX=$(mktemp -d "${TMPDIR:-/tmp}/morvane-wine-XXXXXX")
export WINEPREFIX
export WINEDEBUG=-all
# No Mono or Gecko installer for a prefix that only runs console programs.
export WINEDLLOVERRIDES="mscoree,mshtml="
cleanup() {
  "$wineserver" -k 2>/dev/null || true
  rm -rf "$WINEPREFIX"
}
trap cleanup EXIT
echo "=== Wine prefix $WINEPREFIX"
"$wineserver" -p
"$wine" wineboot --init >/dev/null 2>&1

echo "=== exit codes for pipe names that do not exist"
# The suites give file paths; here the bridge gets real pipe names (unset and empty: the suites).
failures=0
check_exit() {  # expected code, MORVANE_PIPE
  local code=0
  MORVANE_PIPE="$2" "$wine" "$relay" --keep-pipe-variable "$windows_bridge" </dev/null || code=$?
  if [[ $code -eq $1 ]]; then
    echo "ok: MORVANE_PIPE=$2 exits $code"
  else
    echo "FAIL: MORVANE_PIPE=$2 exits $code, not $1" >&2
    failures=$((failures + 1))
  fi
}
check_exit 2 '\\.\pipe\morvane-absent'
check_exit 2 '\\.\pipe\no\such\pipe'
[[ $failures -eq 0 ]] || exit 1

echo "=== the transport suites over named pipes"
timeout 300 "$wine" "$root/$win_build/wine_host/transport_tests.exe"

echo "=== the exit race: every bridge ends while library threads log nonstop"
scripts/exit-race-windows.sh "$win_build" "${EXIT_RACE_RUNS:-200}" | grep -v ": exit 109 after"

echo "=== build-win-clang (the same Windows build with clang, warnings as errors)"
# GNU ld says of each type_info that clang and the GCC-built libstdc++ both emit that their
# sizes differ; the linker keeps one and nothing depends on which.
cmake -S . -B build-win-clang -DCMAKE_TOOLCHAIN_FILE=cmake/clang-mingw-w64.cmake \
  -DCMAKE_BUILD_TYPE=Release -DMORVANE_WERROR=ON >/dev/null
cmake --build build-win-clang -j"$jobs" 2>&1 | sed '/: duplicate section .* has different size$/d'
timeout 300 "$wine" "$root/build-win-clang/wine_host/transport_tests.exe" --gtest_brief=1

echo "=== host-level suites under Wine"
MORVANE_TEST_WINE_HOST="$relay" MORVANE_BRIDGE="$bridge" timeout 900 \
  "$linux_build/bin/host_tests" "$@"
echo "Windows build passed under Wine."
