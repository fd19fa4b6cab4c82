#!/usr/bin/env bash
# The whole job in one command: builds the bridge with the simulated driver library and the
# Node.js host package, then runs the demo (a local catalogue server, init, version, adapters,
# a check of each, an update with progress, the adapters again). Extra arguments go to the demo,
# e.g. --wire to show every line on the pipe, or --crash to make the simulated library crash in
# the middle of the update once: the package restarts the bridge and the demo updates again.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
"$root/scripts/install-deps.sh" >&2
# The host package needs a newer Node than some systems have (Debian 12's is 18).
PATH="$("$root/scripts/install-node.sh" linux):$PATH"

cmake -S . -B build-demo -DCMAKE_BUILD_TYPE=Release -DMORVANE_BUILD_TESTS=OFF >/dev/null
cmake --build build-demo -j"$(nproc)" --target morvane-bridge MorvaneSdk >/dev/null
cd host
npm ci --no-audit --no-fund --loglevel=error >/dev/null
MORVANE_BRIDGE="$root/build-demo/bin/morvane-bridge" npm run --silent demo -- "$@"
