#include <stdexcept>
#include <string>
#include <vector>

#include "figures.h"
#include "measure_util.h"
#include "wire.h"

namespace electron_morvane::bench {
namespace {

constexpr std::size_t kWarmUp = 200;

}  // namespace

Latency RoundTrips(Peer& peer, std::size_t count) {
  std::vector<std::string> requests;
  for (std::size_t i = 0; i < kWarmUp + count; ++i) {
    requests.push_back(VersionRequest(std::to_string(i)));
  }
  std::vector<double> microseconds;
  microseconds.reserve(count);
  for (std::size_t i = 0; i < requests.size(); ++i) {
    const Clock::time_point start = Clock::now();
    SendAll(peer.Fd(), requests[i]);
    const std::string answer = peer.In().NextLine();
    const Clock::time_point end = Clock::now();
    if (IdOf(answer) != std::to_string(i)) {
      throw std::runtime_error("round trip: the " + peer.Label() + " answered " +
                               answer.substr(0, 200) + " to request " + std::to_string(i));
    }
    if (i >= kWarmUp) microseconds.push_back(Seconds(end - start) * 1e6);
  }
  return Latency{Percentile(microseconds, 0.50), Percentile(microseconds, 0.99)};
}

}  // namespace electron_morvane::bench
