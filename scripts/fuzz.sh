#!/usr/bin/env bash
# Builds the protocol fuzz target (clang, libFuzzer, AddressSanitizer, UndefinedBehaviorSanitizer)
# in build-fuzz and runs it; fuzz/README.md says what it checks.
#
#   scripts/fuzz.sh [seconds]              a bounded run (default 60 s), for CI
#   scripts/fuzz.sh --campaign [seconds]   a long run (default 8 h), niced, in rounds of one
#                                          process at a time, logged to build-fuzz/campaign.log,
#                                          its corpus kept between campaigns
#
# Every input in fuzz/regressions/ runs once first. Exits non-zero when an input crashes; the
# input is kept in build-fuzz/crashes/ (copy it into fuzz/regressions/ to keep it checked).
# Needs clang, libFuzzer, the sanitizer runtimes and the symbolizer:
#   apt-get install --no-install-recommends clang libfuzzer-14-dev libclang-rt-14-dev llvm-14
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

campaign=0
if [[ "${1:-}" == --campaign ]]; then
  campaign=1
  shift
fi
seconds=${1:-$((campaign ? 28800 : 60))}
build=build-fuzz

for tool in clang clang++; do
  command -v "$tool" >/dev/null || { echo "fuzz.sh: $tool missing (see the top of this script)" >&2; exit 2; }
done

# Everything the target links is compiled for coverage and with both sanitizers; assertions stay on.
CC=clang CXX=clang++ cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Debug "-DCMAKE_CXX_FLAGS_DEBUG=-O1 -g" \
  -DMORVANE_BUILD_TESTS=OFF -DMORVANE_FUZZ=ON -DMORVANE_SANITIZE=fuzzer-no-link,address,undefined \
  >/dev/null
cmake --build "$build" --target protocol_fuzzer -j"${FUZZ_BUILD_JOBS:-2}"
fuzzer=$build/fuzz/protocol_fuzzer

mkdir -p "$build/crashes"
# -detect_leaks=0: jobs the library owns are released only when it reports, update jobs never
# (see fuzz/protocol_fuzzer.cpp), so memory legitimately outlives an input.
# -entropic=0: the entropic schedule's per-feature bookkeeping took half of every execution on
# this target's ~20,000 features; the plain schedule runs twice as many inputs.
options=(-dict=fuzz/protocol.dict -detect_leaks=0 -max_len=4096 -timeout=10 -entropic=0
         -artifact_prefix="$build/crashes/" -print_final_stats=1)
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
# A smaller quarantine and shorter allocation stacks save page faults and unwinding on every
# input; a use after free is still caught within the last 32 MB freed.
export ASAN_OPTIONS=${ASAN_OPTIONS:-quarantine_size_mb=32:malloc_context_size=10}

shopt -s nullglob
regressions=(fuzz/regressions/*)
shopt -u nullglob
if ((${#regressions[@]})); then
  echo "=== fuzz: ${#regressions[@]} regression input(s)"
  "$fuzzer" "${options[@]}" "${regressions[@]}"
fi

# New inputs go to the first folder, a scratch one; the committed corpus is only read.
status=0
if ((campaign)); then
  corpus=$build/campaign-corpus
  log=$build/campaign.log
  mkdir -p "$corpus"
  : >"$log"
  echo "=== fuzz: campaign of ${seconds} s, log in $log"
  # Every update an input starts keeps its job for good (by design), so memory grows with the
  # executions: the campaign runs in rounds of at most two hours, each a fresh process resuming
  # the corpus, one process at a time.
  remaining=$seconds
  while ((remaining > 0 && status == 0)); do
    round=$((remaining < 7200 ? remaining : 7200))
    nice -n 10 "$fuzzer" "${options[@]}" -max_total_time="$round" "$corpus" fuzz/corpus \
      >>"$log" 2>&1 || status=$?
    remaining=$((remaining - round))
  done
  grep -E '^stat::(number_of_executed_units|average_exec_per_sec|peak_rss_mb)' "$log" || true
  awk '/^stat::number_of_executed_units/ { total += $2 }
       END { print "executions in all rounds: " total }' "$log"
else
  corpus=$build/corpus
  rm -rf "$corpus"
  mkdir -p "$corpus"
  echo "=== fuzz: ${seconds} s"
  "$fuzzer" "${options[@]}" -max_total_time="$seconds" "$corpus" fuzz/corpus || status=$?
fi
# libFuzzer exits with 72 when interrupted (SIGINT, SIGTERM); anything else non-zero is a finding.
if ((status == 72)); then
  echo "fuzz.sh: the fuzzer was interrupted" >&2
elif ((status != 0)); then
  echo "fuzz.sh: the fuzzer stopped with status $status; crash input(s) in $build/crashes/:" >&2
  ls -1 "$build/crashes" >&2
fi
exit "$status"
