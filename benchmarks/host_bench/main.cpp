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

int main(int argc, char** argv) {
  using namespace electron_morvane::bench;
  if (IsRawPeerCall(argc, argv)) return RunRawPeer(argc, argv);
  const Options options = ParseOptions(argc, argv);
  try {
    const PeerSetups setups(options, SelfPath());
    const Calibration calibration = Calibrate(setups, options.bodyBytes);
    std::printf("bridge %s, library %s (version %s), %d rounds\n", options.bridge.c_str(),
                options.scriptableDir.c_str(), calibration.version.c_str(), options.rounds);
    std::fflush(stdout);
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
