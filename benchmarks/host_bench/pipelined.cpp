#include <sys/socket.h>

#include <stdexcept>
#include <string>

#include <nlohmann/json.hpp>

#include "figures.h"
#include "measure_util.h"
#include "proc_stats.h"
#include "wire.h"

namespace electron_morvane::bench {
namespace {

void CheckAnswers(const std::string& received, std::size_t requests, const std::string& label) {
  std::size_t index = 0;
  for (const std::string& line : SplitLines(received)) {
    const auto answer = nlohmann::json::parse(line, nullptr, false);
    if (answer.is_discarded() || answer.value("type", "") != "response" ||
        answer.value("id", "") != std::to_string(index)) {
      throw std::runtime_error("pipelined: the " + label + "'s answer " + std::to_string(index) +
                               " is wrong: " + line.substr(0, 200));
    }
    ++index;
  }
  if (index != requests) throw std::runtime_error("pipelined: answers missing from the " + label);
}

}  // namespace

Throughput PipelinedRequests(Peer& peer, std::size_t requests, std::size_t replyBytes) {
  std::string written;
  written.reserve(requests * 90);
  for (std::size_t i = 0; i < requests; ++i) written += VersionRequest(std::to_string(i));
  peer.In().Reserve(requests * (replyBytes + 8));

  const ProcessCounters before = ReadCounters(peer.Pid());
  Clock::time_point last;
  Worker reader(
      [&] {
        peer.In().ReceiveLines(requests);
        last = Clock::now();
      },
      [&] { ::shutdown(peer.Fd(), SHUT_RDWR); });
  const Clock::time_point first = Clock::now();
  SendAll(peer.Fd(), written);
  reader.Join();
  const ProcessCounters after = ReadCounters(peer.Pid());
  const std::string received = peer.In().CountedBytes();
  CheckAnswers(received, requests, peer.Label());
  return Throughput{static_cast<double>(requests) / Seconds(last - first),
                    ProcessCpuMicroseconds(before, after) / static_cast<double>(requests),
                    received.size()};
}

}  // namespace electron_morvane::bench
