// The interleaved rounds: every figure of a round runs on the bridge and on its reference one
// right after the other (which goes first alternates from round to round), each on a freshly
// started process.
#pragma once

#include "calibration.h"
#include "options.h"
#include "peer_setups.h"
#include "report.h"

namespace electron_morvane::bench {

void RunRounds(const Options& options, const PeerSetups& setups, const Calibration& calibration,
               Report& report);

}  // namespace electron_morvane::bench
