// The raw peer: what the bridge's transport allows at best. It connects to the host's socket
// as the bridge does, reads with the bridge's discipline, answers every request with a line of
// the size the bridge would answer, and can write a burst of log lines from several threads,
// one write per line under one lock, as the bridge's reverse requests would arrive.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace electron_morvane::bench {

struct RawPeerConfig {
  std::string reply;    // template of the answer to a request (id slot)
  std::string logLine;  // template of a log line (id and text slots); empty: no burst
  std::string burstId;  // the burst starts once the request with this id is answered
  std::uint32_t logThreads = 0;
  std::uint32_t logCount = 0;  // lines per thread
};

// Command-line arguments that make this program a raw peer, and back.
std::vector<std::string> RawPeerArguments(const RawPeerConfig& config);
bool IsRawPeerCall(int argc, char** argv);
// Runs the peer on the socket named by MORVANE_PIPE until the host closes it; the exit code.
int RunRawPeer(int argc, char** argv);

}  // namespace electron_morvane::bench
