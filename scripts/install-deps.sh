#!/usr/bin/env bash
# Installs what a fresh Debian 12 machine lacks to build and test the bridge. Run as root, or
# with sudo available; does nothing when everything is already there.
set -euo pipefail

packages=(build-essential cmake pkg-config nlohmann-json3-dev libgtest-dev libgmock-dev
          libssl-dev nodejs npm)
[[ "${WITH_WINDOWS:-0}" == 1 ]] && packages+=(g++-mingw-w64-x86-64 wine64)
# clang: the second compiler (the sanitizer build, the Windows build) and the fuzzer.
[[ "${WITH_CLANG:-0}" == 1 ]] && packages+=(clang libfuzzer-14-dev libclang-rt-14-dev)

missing=()
for package in "${packages[@]}"; do
  # Node.js may come from elsewhere than Debian; a working node and npm is enough.
  if [[ "$package" == nodejs || "$package" == npm ]] && command -v "${package/nodejs/node}" >/dev/null; then
    continue
  fi
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" ||
    missing+=("$package")
done
[[ ${#missing[@]} -eq 0 ]] && exit 0

sudo=""
[[ $(id -u) -ne 0 ]] && sudo="sudo"
echo "Installing: ${missing[*]}"
$sudo apt-get update
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y --no-install-recommends "${missing[@]}"
