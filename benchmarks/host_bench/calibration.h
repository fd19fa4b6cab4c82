// What the run learns from the bridge before it measures: the exact lines it writes, so the raw
// peer writes lines of the same size, and one check that a body reaches the library byte for byte.
#pragma once

#include <string>

#include "peer_setups.h"

namespace electron_morvane::bench {

struct Calibration {
  std::string version;        // what the library beside the bridge reports
  std::string replyTemplate;  // the bridge's answer to getSdkVersion, with an id slot
  std::string logTemplate;    // the bridge's "log" reverse request, with id and text slots
};

// Throws when the bridge does not answer as expected or the body arrives altered.
Calibration Calibrate(const PeerSetups& setups, std::size_t bodyBytes);

// The call log entries of one function, from a call log file.
std::vector<nlohmann::json> CallsIn(const std::string& callLogPath, const std::string& function);

}  // namespace electron_morvane::bench
