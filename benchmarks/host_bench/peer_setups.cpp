#include "peer_setups.h"

#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <stdexcept>
#include <utility>

namespace electron_morvane::bench {

PeerSetups::PeerSetups(const Options& options, std::string self)
    : bridge_(options.bridge), scriptableDir_(options.scriptableDir), self_(std::move(self)) {}

PeerSetup PeerSetups::BridgeWithLibraryBeside() const {
  PeerSetup setup;
  setup.label = "bridge";
  setup.command = {bridge_};
  return setup;
}

PeerSetup PeerSetups::BridgeWithScenario(const nlohmann::json& scenario) const {
  PeerSetup setup;
  setup.label = "bridge";
  setup.command = {bridge_};
  const char* inherited = std::getenv("LD_LIBRARY_PATH");
  setup.environment["LD_LIBRARY_PATH"] =
      scriptableDir_ +
      (inherited != nullptr && *inherited != '\0' ? ":" + std::string(inherited) : "");
  setup.files["scenario.json"] = scenario.dump();
  setup.pathVariables["MORVANE_SCRIPT"] = "scenario.json";
  setup.pathVariables["MORVANE_CALL_LOG"] = kCallLogFile;
  return setup;
}

PeerSetup PeerSetups::Raw(const RawPeerConfig& config) const {
  PeerSetup setup;
  setup.label = "raw peer";
  setup.command = {self_};
  for (auto& argument : RawPeerArguments(config)) setup.command.push_back(std::move(argument));
  return setup;
}

std::string SelfPath() {
  char path[PATH_MAX];
  const ssize_t length = ::readlink("/proc/self/exe", path, sizeof(path) - 1);
  if (length <= 0) throw std::runtime_error("cannot find this program's path");
  return std::string(path, static_cast<std::size_t>(length));
}

}  // namespace electron_morvane::bench
