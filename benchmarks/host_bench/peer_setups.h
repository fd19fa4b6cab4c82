// How each side is started: the bridge with the library beside it (the simulated one, whose
// getSdkVersion is a copy of a constant) or with the scriptable library and a scenario; the raw
// peer as this same program with --raw-peer.
#pragma once

#include <string>

#include <nlohmann/json.hpp>

#include "options.h"
#include "peer.h"
#include "raw_peer.h"

namespace electron_morvane::bench {

inline constexpr char kCallLogFile[] = "calls.jsonl";

class PeerSetups {
 public:
  PeerSetups(const Options& options, std::string self);

  PeerSetup BridgeWithLibraryBeside() const;
  // The scriptable library with the scenario; its call log goes to kCallLogFile.
  PeerSetup BridgeWithScenario(const nlohmann::json& scenario) const;
  PeerSetup Raw(const RawPeerConfig& config) const;

 private:
  std::string bridge_;
  std::string scriptableDir_;
  std::string self_;
};

// The path of this program.
std::string SelfPath();

}  // namespace electron_morvane::bench
