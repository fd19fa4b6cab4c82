#!/usr/bin/env bash
# The Windows round of the benchmark (scripts/bench.sh --windows runs it): on Windows Node under
# Wine, sequential getSdkVersion round trips through the host package against the Windows bridge
# beside a raw echo over a named pipe between two Windows Node processes, in the same run
# (benchmarks/windows/round_trips.js); then the idle bridge's wake-ups, counted from Linux as the
# context switches of its threads.
#
# ROUNDS (3), REQUESTS (200 per round) and IDLE_SECONDS (3) set the run; JOBS the build jobs.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
source scripts/windows-node-setup.sh
rounds=${ROUNDS:-3}
requests=${REQUESTS:-200}
idle_seconds=${IDLE_SECONDS:-3}

# Context switches, voluntary and not, of each thread of process $1: "thread count" lines.
context_switches() {
  local status
  for status in /proc/"$1"/task/*/status; do
    awk -v thread="$(basename "$(dirname "$status")")" \
      '/^(voluntary|nonvoluntary)_ctxt_switches:/ { sum += $2 } END { print thread, sum + 0 }' "$status"
  done 2>/dev/null
}

# The Linux process of the Windows bridge of this run's Wine prefix: by its process name, since
# Node's command line names the bridge's exe too.
bridge_process() {
  local pid
  for pid in $(pgrep '^morvane-bridge'); do
    # A process may end between the listing and the look.
    { tr '\0' '\n' <"/proc/$pid/environ"; } 2>/dev/null | grep -qxF "WINEPREFIX=$WINEPREFIX" &&
      { echo "$pid"; return; }
  done
  return 1
}

echo "=== the Windows round: $rounds rounds of $requests sequential round trips ($(basename "$(dirname "$(dirname "$node_exe")")"), $("$wine" --version))"
output="$windows_node_scratch/output.txt"
: >"$output"
"$wine" "$node_exe" "$(windows_path "$root/benchmarks/windows/round_trips.js")" \
  "$(windows_path "$root/build-win/bin/morvane-bridge.exe")" "$(windows_path "$root/host")" \
  "$(windows_path "$windows_node_scratch")" "$rounds" "$requests" >"$output" 2>&1 </dev/null &
node_pid=$!
# Its output is a file (see windows-node-setup.sh): follow it.
tail -n +1 -f "$output" --pid="$node_pid" | tr -d '\r' &
tail_pid=$!

for ((wait = 0; wait < 3000; wait++)); do
  [[ -f "$windows_node_scratch/idle" ]] || ! kill -0 "$node_pid" 2>/dev/null && break
  sleep 0.1
done
if [[ -f "$windows_node_scratch/idle" ]]; then
  pid=$(bridge_process) || { echo "bench-windows.sh: no bridge process of this Wine prefix" >&2; exit 1; }
  sleep 0.3
  before=$(context_switches "$pid")
  sleep "$idle_seconds"
  after=$(context_switches "$pid")
  touch "$windows_node_scratch/idle-done"
fi
code=0
wait "$node_pid" || code=$?
wait "$tail_pid" 2>/dev/null || true
[[ $code -eq 0 ]] || { echo "bench-windows.sh: the round failed (exit $code)" >&2; exit 1; }
# Threads alive at both readings; the busiest one apart, as Wine's own threads count too.
awk -v seconds="$idle_seconds" '
  NR == FNR { before[$1] = $2; next }
  $1 in before { change = $2 - before[$1]; sum += change; threads++; if (change > most) most = change }
  END { printf "idle bridge: %d context switches over %d threads in %d s: %.1f wake-ups/s (busiest thread %.1f/s); target <= 100: %s\n",
               sum, threads, seconds, sum / seconds, most / seconds, sum / seconds <= 100 ? "pass" : "FAIL" }' <(echo "$before") <(echo "$after")
