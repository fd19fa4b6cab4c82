// The bridge measured against the limit of its own transport, in one run: see
// benchmarks/README.md.
#include <cstdio>
#include <exception>

#include "calibration.h"
#include "options.h"
#include "peer_setups.h"
#include "raw_peer.h"
#include "report.h"
#include "rounds.h"

namespace {

void PrintSettings(const electron_morvane::bench::Options& options,
                   const electron_morvane::bench::Calibration& calibration) {
  std::printf("bridge:    %s\n", options.bridge.c_str());
  std::printf(
      "libraries: the one beside the bridge (version %s) for pipelined and round trip;\n"
      "           the scriptable one in %s for the others\n",
      calibration.version.c_str(), options.scriptableDir.c_str());
  std::printf(
      "rounds:    %d, each running bridge and reference back to back, the order "
      "alternating\n",
      options.rounds);
  std::printf(
      "per round: %zu pipelined requests, %zu round trips, %zu answers of %zu body bytes, "
      "%u x %u log lines, %.0f s idle\n",
      options.requests, options.roundTrips, options.bodyCount, options.bodyBytes,
      options.logThreads, options.logCount, options.idleSeconds);
  std::printf(
      "bridge and reference columns are medians over the rounds; ratio is the median of "
      "the per-round bridge/reference ratios\n");
  std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
  using namespace electron_morvane::bench;
  if (IsRawPeerCall(argc, argv)) return RunRawPeer(argc, argv);
  const Options options = ParseOptions(argc, argv);
  try {
    const PeerSetups setups(options, SelfPath());
    const Calibration calibration = Calibrate(setups, options.bodyBytes);
    PrintSettings(options, calibration);
    Report report;
    RunRounds(options, setups, calibration, report);
    std::printf("\n");
    report.Print(stdout);
    if (options.strict && !report.AllTargetsMet()) return 2;
    return 0;
  } catch (const std::exception& failure) {
    std::fprintf(stderr, "morvane_host_bench: %s\n", failure.what());
    return 1;
  }
}
