#!/usr/bin/env bash
# Fuzzes the protocol (fuzz/README.md says what is checked). The fuzzing build carries coverage
# only, no sanitizer, so it runs several thousand inputs a second on one core; every input it
# keeps, and every regression input, is then replayed under AddressSanitizer with
# UndefinedBehaviorSanitizer and under ThreadSanitizer.
#
#   scripts/fuzz.sh [seconds]              a bounded run (default 60 s), for CI
#   scripts/fuzz.sh --campaign [seconds]   a long run (default 8 h), niced, in rounds of one
#                                          process at a time, logged to build-fuzz/campaign.log,
#                                          its corpus kept between campaigns
#   scripts/fuzz.sh --merge                minimises build-fuzz/campaign-corpus and fuzz/corpus
#                                          into fuzz/corpus (to commit)
#
# The fuzzer runs on one core (the last one). The sanitizer replays use build-fuzz-asan and
# build-fuzz-tsan, or the build folders named by FUZZ_ASAN_BUILD and FUZZ_TSAN_BUILD when those
# already hold fuzz/protocol_replay (the test command's sanitizer builds do).
#
# Exits non-zero when an input crashes or a replay finds something; a crashing input is kept in
# build-fuzz/crashes/ (copy it into fuzz/regressions/ to keep it checked).
# Needs clang, libFuzzer and the symbolizer:
#   apt-get install --no-install-recommends clang libfuzzer-14-dev libclang-rt-14-dev llvm-14
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

mode=bounded
case "${1:-}" in
  --campaign) mode=campaign; shift ;;
  --merge) mode=merge; shift ;;
esac
seconds=${1:-$([[ $mode == campaign ]] && echo 28800 || echo 60)}
build=build-fuzz
fuzzer=$build/fuzz/protocol_fuzzer

for tool in clang clang++; do
  command -v "$tool" >/dev/null || { echo "fuzz.sh: $tool missing (see the top of this script)" >&2; exit 2; }
done

# Coverage for the bridge's layers and the library, none for the harness; optimised, assertions on.
CC=clang CXX=clang++ cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Debug "-DCMAKE_CXX_FLAGS_DEBUG=-O2 -g" \
  -DMORVANE_BUILD_TESTS=OFF -DMORVANE_FUZZ=ON -DMORVANE_SANITIZE=fuzzer-no-link >/dev/null
cmake --build "$build" --target protocol_fuzzer -j"${FUZZ_BUILD_JOBS:-$(nproc)}"

one_core=()
command -v taskset >/dev/null && one_core=(taskset -c "$(($(nproc) - 1))")

# -entropic=0: the entropic schedule's per-feature bookkeeping took half of every execution on
# this target's ~14,000 features; the plain schedule runs twice as many inputs.
options=(-dict=fuzz/protocol.dict -max_len=4096 -timeout=10 -entropic=0
         -artifact_prefix="$build/crashes/" -print_final_stats=1)
mkdir -p "$build/crashes"

if [[ $mode == merge ]]; then
  merged=$build/merged-corpus
  rm -rf "$merged"
  mkdir -p "$merged" "$build/campaign-corpus"
  "$fuzzer" "${options[@]}" -merge=1 "$merged" fuzz/corpus "$build/campaign-corpus"
  rm -f fuzz/corpus/*
  cp "$merged"/* fuzz/corpus/
  echo "fuzz.sh: fuzz/corpus now holds $(ls fuzz/corpus | wc -l) inputs"
  exit 0
fi

shopt -s nullglob
regressions=(fuzz/regressions/*)
shopt -u nullglob
if ((${#regressions[@]})); then
  echo "=== fuzz: ${#regressions[@]} regression input(s)"
  "$fuzzer" "${options[@]}" "${regressions[@]}"
fi

# New inputs go to the first folder, a scratch one; the committed corpus is only read.
status=0
if [[ $mode == campaign ]]; then
  corpus=$build/campaign-corpus
  log=$build/campaign.log
  mkdir -p "$corpus"
  : >"$log"
  echo "=== fuzz: campaign of ${seconds} s on one core, log in $log"
  # Every update an input starts keeps its job for good (by design), so memory grows with the
  # executions: the campaign runs in rounds of at most 30 minutes, each a fresh process resuming
  # the corpus, one process at a time.
  remaining=$seconds
  while ((remaining > 0 && status == 0)); do
    round=$((remaining < 1800 ? remaining : 1800))
    nice -n 10 "${one_core[@]}" "$fuzzer" "${options[@]}" -max_total_time="$round" "$corpus" fuzz/corpus \
      >>"$log" 2>&1 || status=$?
    remaining=$((remaining - round))
  done
  grep -E '^stat::(number_of_executed_units|average_exec_per_sec|peak_rss_mb)' "$log" || true
  awk '/^stat::number_of_executed_units/ { total += $2 }
       END { print "executions in all rounds: " total }' "$log"
  grep -E '^#[0-9]+[[:space:]]+DONE' "$log" | tail -1
else
  corpus=$build/corpus
  log=$build/run.log
  rm -rf "$corpus"
  mkdir -p "$corpus"
  echo "=== fuzz: ${seconds} s on one core"
  "${one_core[@]}" "$fuzzer" "${options[@]}" -max_total_time="$seconds" "$corpus" fuzz/corpus \
    >"$log" 2>&1 || status=$?
  grep -E '^#[0-9]+[[:space:]]+(INITED|DONE)|^stat::' "$log" || true
fi
awk '/^stat::average_exec_per_sec/ { print "fuzz.sh: " $2 " inputs a second on one core" }' "$log"
# libFuzzer exits with 72 when interrupted (SIGINT, SIGTERM); anything else non-zero is a finding.
if ((status == 72)); then
  echo "fuzz.sh: the fuzzer was interrupted" >&2
elif ((status != 0)); then
  tail -40 "$log" >&2
  echo "fuzz.sh: the fuzzer stopped with status $status; crash input(s) in $build/crashes/:" >&2
  ls -1 "$build/crashes" >&2
fi

# What the run kept, the regressions and any crash, replayed under the sanitizers.
replay() {  # replay <name> <build folder> <cmake sanitizer list> [command prefix...]
  local name=$1 dir=$2 sanitizers=$3
  shift 3
  if [[ ! -f $dir/CMakeCache.txt ]]; then
    cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=Debug "-DCMAKE_CXX_FLAGS_DEBUG=-O1 -g" \
      -DMORVANE_BUILD_TESTS=OFF "-DMORVANE_SANITIZE=$sanitizers" >/dev/null
  fi
  # Brought up to date with the sources: a replay by an older build would check older code.
  cmake --build "$dir" --target protocol_replay -j"${FUZZ_BUILD_JOBS:-$(nproc)}" >/dev/null
  local inputs=("$corpus" "$build/crashes" "${regressions[@]}")
  echo "=== fuzz: replay under $name"
  if ! "$@" "$dir/fuzz/protocol_replay" "${inputs[@]}" 2>"$build/replay-$name.log"; then
    tail -60 "$build/replay-$name.log" >&2
    echo "fuzz.sh: the replay under $name failed (the input is named above the report)" >&2
    status=1
  fi
}
replay asan "${FUZZ_ASAN_BUILD:-build-fuzz-asan}" address,undefined \
  env ASAN_OPTIONS=detect_leaks=0 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
# ThreadSanitizer needs the classic address layout on kernels with high mmap randomisation.
replay tsan "${FUZZ_TSAN_BUILD:-build-fuzz-tsan}" thread \
  env TSAN_OPTIONS=halt_on_error=1 setarch "$(uname -m)" -R
exit "$status"
