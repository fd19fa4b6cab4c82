#!/usr/bin/env bash
# The exit race under Wine: exit_race.exe closes the host's end of the pipe while eight library
# threads log nonstop (the scriptable library, wine_host/exit_race_scenario.json), reading in half
# of the runs, and every bridge must exit with 109 within 10 s. A busy loop on each core runs
# beside it: the process exit was seen to deadlock under load.
#   scripts/exit-race-windows.sh [BUILD_WIN_FOLDER] [RUNS]   (default build-win, 200)
# Uses the caller's WINEPREFIX when one is set (scripts/test-windows.sh), else a fresh one.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
win_build=$(readlink -f "${1:-$root/build-win}")
runs=${2:-200}
wine=/usr/lib/wine/wine64
windows_path() { local path=$1; echo "Z:${path//\//\\}"; }

scratch=$(mktemp -d "${TMPDIR:-/tmp}/morvane-exit-race-XXXXXX")
load=()
cleanup() {
  [[ ${#load[@]} -eq 0 ]] || kill "${load[@]}" 2>/dev/null || true
  [[ -z ${own_prefix:-} ]] || { /usr/lib/wine/wineserver -k 2>/dev/null || true; }
  rm -rf "$scratch"
}
trap cleanup EXIT
if [[ -z ${WINEPREFIX:-} ]]; then
  own_prefix=1
  export WINEPREFIX=$scratch/prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
  "$wine" wineboot --init >/dev/null 2>&1
fi

# The bridge beside the scriptable library, which Windows loads from the exe's folder.
cp "$win_build/bin/morvane-bridge.exe" "$win_build/scriptable/MorvaneSdk.dll" "$scratch/"
for _ in $(seq "$(nproc)"); do
  timeout 1200 bash -c 'while :; do :; done' &
  load+=($!)
done
MORVANE_SCRIPT=$(windows_path "$root/wine_host/exit_race_scenario.json") \
  timeout $((runs * 15 + 60)) "$wine" "$win_build/wine_host/exit_race.exe" \
  "$(windows_path "$scratch/morvane-bridge.exe")" "$runs"
