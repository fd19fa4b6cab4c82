# Sourced by the scripts that run Windows Node under Wine (test-windows-node.sh, bench.sh
# --windows), from the repository's root. Builds the bridge and the simulated library into
# build-win when missing, the host package's JavaScript with the Linux Node, installs Windows Node
# from the npm registry, and starts a fresh Wine prefix with one wineserver kept alive for the
# run, removed at exit. Sets node_exe, wine and windows_path.
WITH_WINDOWS=1 scripts/install-deps.sh
PATH="$(scripts/install-node.sh linux):$PATH"
node_exe=$(scripts/install-node.sh windows)
wine=/usr/lib/wine/wine64
wineserver=/usr/lib/wine/wineserver
windows_path() { local path=$1; echo "Z:${path//\//\\}"; }

echo "=== build-win: the bridge and the simulated library (mingw-w64)"
[[ -f build-win/CMakeCache.txt ]] ||
  cmake -S . -B build-win -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake \
    -DCMAKE_BUILD_TYPE=Release -DMORVANE_WERROR=ON >/dev/null
cmake --build build-win -j"${JOBS:-2}" --target morvane-bridge MorvaneSdk

echo "=== the host package's JavaScript"
(cd host && { [[ -d node_modules ]] || npm ci --no-audit --no-fund; } && npm run --silent build)

WINEPREFIX=$(mktemp -d "${TMPDIR:-/tmp}/morvane-wine-node-XXXXXX")
export WINEPREFIX
export WINEDEBUG=-all
# No Mono or Gecko installer for a prefix that only runs console programs.
export WINEDLLOVERRIDES="mscoree,mshtml="
# Windows Node refuses Wine's Windows version without this. Its standard output must also be a
# file: on a pipe from Linux its first write fails with EBADF.
export NODE_SKIP_PLATFORM_CHECK=1
windows_node_scratch=$(mktemp -d "${TMPDIR:-/tmp}/morvane-wine-node-run-XXXXXX")
windows_node_cleanup() {
  "$wineserver" -k 2>/dev/null || true
  rm -rf "$WINEPREFIX" "$windows_node_scratch"
}
trap windows_node_cleanup EXIT
"$wineserver" -p
"$wine" wineboot --init >/dev/null 2>&1
