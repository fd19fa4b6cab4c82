#include <time.h>

#include <stdexcept>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "calibration.h"
#include "figures.h"
#include "measure_util.h"
#include "peer_setups.h"
#include "proc_stats.h"
#include "wire.h"

namespace electron_morvane::bench {
namespace {

using nlohmann::json;

// Asks the bridge for setDriverDownloadDir, on which the library sends an httpRequest; returns
// that reverse request's id once the call's answer is in.
std::string AwaitHttpRequest(Peer& peer, std::size_t index) {
  const std::string id = "d" + std::to_string(index);
  peer.Send(DownloadDirRequest(id));
  std::string reverseId;
  for (;;) {
    const json message = json::parse(peer.In().NextLine(), nullptr, false);
    if (message.is_discarded())
      throw std::runtime_error("body: the bridge wrote a line that is not JSON");
    if (message.value("method", "") == "httpRequest") reverseId = message.value("id", "");
    if (message.value("type", "") == "response" && message.value("id", "") == id) break;
  }
  if (reverseId.empty()) throw std::runtime_error("body: the library sent no httpRequest");
  return reverseId;
}

void CheckBodiesArrived(const Peer& peer, std::size_t count, std::size_t bodyBytes) {
  const auto calls = CallsIn(peer.File(kCallLogFile), "httpResponse");
  std::size_t whole = 0;
  for (const json& call : calls) whole += call.value("bodyLength", std::size_t{0}) == bodyBytes;
  if (calls.size() != count || whole != count) {
    throw std::runtime_error("body: the library received " + std::to_string(whole) + " of " +
                             std::to_string(count) + " bodies whole (" +
                             std::to_string(calls.size()) + " answers)");
  }
}

double ThreadCpuMilliseconds() {
  timespec now{};
  ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) * 1e3 + static_cast<double>(now.tv_nsec) / 1e6;
}

}  // namespace

Delivery BodyDelivery(Peer& peer, bool bridge, const std::string& body, std::size_t count) {
  std::vector<double> milliseconds;
  std::vector<double> cpuMilliseconds;
  for (std::size_t i = 0; i < count; ++i) {
    const std::string reverseId = bridge ? AwaitHttpRequest(peer, i) : "0";
    const std::string fenceId = "f" + std::to_string(i);
    const std::string written = HttpAnswer(reverseId, body) + VersionRequest(fenceId);
    const ProcessCounters before = ReadCounters(peer.Pid());
    const Clock::time_point start = Clock::now();
    SendAll(peer.Fd(), written);
    const std::string answer = peer.In().NextLine();
    const Clock::time_point end = Clock::now();
    cpuMilliseconds.push_back(CpuMicroseconds(before, ReadCounters(peer.Pid())) / 1e3);
    if (IdOf(answer) != fenceId) {
      throw std::runtime_error("body: the " + peer.Label() + " answered " + answer.substr(0, 200));
    }
    milliseconds.push_back(Seconds(end - start) * 1e3);
  }
  if (bridge) CheckBodiesArrived(peer, count, body.size());
  return Delivery{Median(milliseconds), Median(cpuMilliseconds)};
}

Delivery Parse(const std::string& body, std::size_t count) {
  std::string line = HttpAnswer("0", body);
  line.pop_back();
  std::vector<double> milliseconds;
  std::vector<double> cpuMilliseconds;
  for (std::size_t i = 0; i < count; ++i) {
    const double cpuStart = ThreadCpuMilliseconds();
    const Clock::time_point start = Clock::now();
    json parsed = json::parse(line);
    const Clock::time_point end = Clock::now();
    cpuMilliseconds.push_back(ThreadCpuMilliseconds() - cpuStart);
    if (parsed["params"]["body"].get_ref<const std::string&>().size() != body.size()) {
      throw std::runtime_error("parse: the body came out altered");
    }
    milliseconds.push_back(Seconds(end - start) * 1e3);
  }
  return Delivery{Median(milliseconds), Median(cpuMilliseconds)};
}

}  // namespace electron_morvane::bench
