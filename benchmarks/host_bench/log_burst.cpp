#include <sys/socket.h>

#include <cstdio>
#include <stdexcept>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "figures.h"
#include "measure_util.h"
#include "proc_stats.h"
#include "wire.h"

namespace electron_morvane::bench {
namespace {

constexpr char kInitId[] = "init";

[[noreturn]] void Broken(const Peer& peer, const std::string& problem, const std::string& line) {
  throw std::runtime_error("logs: from the " + peer.Label() + ", " + problem + ": " +
                           line.substr(0, 200));
}

// Every line JSON (so none interleaved), one answer to the request, and for each thread its lines
// numbered 0, 1, 2, ... without a gap.
void CheckLines(const Peer& peer, const std::string& received, std::uint32_t threads,
                std::uint32_t count) {
  std::vector<std::uint32_t> next(threads, 0);
  std::size_t answers = 0;
  for (const std::string& line : SplitLines(received)) {
    const auto message = nlohmann::json::parse(line, nullptr, false);
    if (message.is_discarded()) Broken(peer, "a line that is not JSON", line);
    if (message.value("type", "") == "response" && message.value("id", "") == kBurstId) {
      ++answers;
      continue;
    }
    if (message.value("method", "") != "log") Broken(peer, "an unexpected line", line);
    unsigned thread = 0;
    unsigned sequence = 0;
    char word[16] = {};
    const std::string text = message["params"].value("log", "");
    if (std::sscanf(text.c_str(), "%15s %u %u", word, &thread, &sequence) != 3 ||
        thread >= threads) {
      Broken(peer, "a log line without its numbers", line);
    }
    if (sequence != next[thread]) Broken(peer, "a line out of order or after a lost one", line);
    ++next[thread];
  }
  if (answers != 1) Broken(peer, "no single answer to the request", "");
  for (std::uint32_t thread = 0; thread < threads; ++thread) {
    if (next[thread] != count) Broken(peer, "lines lost from thread " + std::to_string(thread), "");
  }
}

}  // namespace

Throughput LogLines(Peer& peer, std::uint32_t threads, std::uint32_t count, std::size_t lineBytes) {
  const std::size_t lines = static_cast<std::size_t>(threads) * count;
  peer.In().Reserve((lines + 1) * (lineBytes + 8));
  peer.Send(InitRequest(kInitId));
  while (IdOf(peer.In().NextLine()) != kInitId) {
  }
  const std::string request = DownloadDirRequest(kBurstId);

  const ProcessCounters before = ReadCounters(peer.Pid());
  Clock::time_point last;
  Worker reader(
      [&] {
        peer.In().ReceiveLines(lines + 1);
        last = Clock::now();
      },
      [&] { ::shutdown(peer.Fd(), SHUT_RDWR); });
  const Clock::time_point first = Clock::now();
  SendAll(peer.Fd(), request);
  reader.Join();
  const ProcessCounters after = ReadCounters(peer.Pid());
  const std::string received = peer.In().CountedBytes();
  CheckLines(peer, received, threads, count);
  return Throughput{static_cast<double>(lines) / Seconds(last - first),
                    ProcessCpuMicroseconds(before, after) / static_cast<double>(lines),
                    received.size()};
}

}  // namespace electron_morvane::bench
