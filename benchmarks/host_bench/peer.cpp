#include "peer.h"

#include <chrono>
#include <fstream>
#include <stdexcept>

namespace electron_morvane::bench {
namespace {

using namespace std::chrono_literals;

constexpr char kSocketName[] = "pipe.sock";
constexpr auto kConnectTimeout = 10s;
// A measurement that waits this long for the peer has failed; it never hangs.
constexpr auto kIoTimeout = 30s;

}  // namespace

Peer::Peer(const PeerSetup& setup)
    : label_(setup.label),
      listener_(ListenAt(folder_.File(kSocketName))),
      child_(Start(setup)),
      connection_(AcceptWithin(listener_.Get(), kConnectTimeout, kIoTimeout)),
      inbox_(connection_.Get()) {
  if (connection_.Valid()) return;
  const auto exit = child_.ExitedWithin(0ms);
  throw std::runtime_error("the " + label_ + " did not connect" +
                           (exit ? " (it exited with " + std::to_string(*exit) + ")" : ""));
}

ChildProcess Peer::Start(const PeerSetup& setup) {
  std::map<std::string, std::string> environment = setup.environment;
  for (const auto& [name, contents] : setup.files) {
    std::ofstream file(folder_.File(name), std::ios::binary);
    file << contents;
    if (!file) throw std::runtime_error("cannot write " + folder_.File(name));
  }
  for (const auto& [variable, name] : setup.pathVariables)
    environment[variable] = folder_.File(name);
  environment["MORVANE_PIPE"] = folder_.File(kSocketName);
  return ChildProcess(setup.command, environment);
}

}  // namespace electron_morvane::bench
