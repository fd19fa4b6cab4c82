#!/usr/bin/env bash
# Builds the bridge and runs every suite: warnings as errors with GCC, then built by clang under
# AddressSanitizer with UndefinedBehaviorSanitizer, then under ThreadSanitizer, a short fuzzing
# run, the Windows build under Wine (GCC and clang), then the Node.js host package, on Linux and
# on Windows Node under Wine.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
WITH_CLANG=1 "$root/scripts/install-deps.sh"
# The host package needs a newer Node than some systems have (Debian 12's is 18).
PATH="$("$root/scripts/install-node.sh" linux):$PATH"

scripts/run-suite.sh build
# Sanitizer builds: light optimisation and line tables only, which keeps them quick to build.
sanitized=(-DCMAKE_BUILD_TYPE=Debug "-DCMAKE_CXX_FLAGS_DEBUG=-O1 -g1")
# clang builds this one: a second compiler over every source, warnings as errors as well.
CC=clang CXX=clang++ ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
  scripts/run-suite.sh build-asan "${sanitized[@]}" -DMORVANE_SANITIZE=address,undefined
# ThreadSanitizer needs the classic address layout on kernels with high mmap randomisation.
TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1" \
  setarch "$(uname -m)" -R scripts/run-suite.sh build-tsan "${sanitized[@]}" -DMORVANE_SANITIZE=thread

# The protocol fuzz target (clang, libFuzzer) for a short bounded run, every kept regression input
# first, then what it kept replayed in the two sanitizer builds above; scripts/fuzz.sh --campaign
# runs a long one.
FUZZ_ASAN_BUILD=build-asan FUZZ_TSAN_BUILD=build-tsan scripts/fuzz.sh "${FUZZ_SECONDS:-60}"

# The Windows build (mingw-w64) with the host-level suites run against it under Wine, reusing the
# Linux test executables built above.
LINUX_TESTS_BUILD=build scripts/test-windows.sh

echo "=== which Node the scripts choose"
scripts/test-install-node.sh
echo "=== host package (Node $(node --version))"
(cd host && npm ci --no-audit --no-fund && MORVANE_BRIDGE="$root/build/bin/morvane-bridge" npm test)
# Its suites again on Windows Node under Wine, the end-to-end one against the Windows bridge.
scripts/test-windows-node.sh
echo "All suites passed."
