#include "rounds.h"

#include <chrono>
#include <cstdio>
#include <functional>
#include <limits>
#include <stdexcept>
#include <string>
#include <thread>

#include "figures.h"
#include "measure_util.h"
#include "proc_stats.h"
#include "scenarios.h"
#include "wire.h"

namespace electron_morvane::bench {
namespace {

using namespace std::chrono_literals;

// How long a freshly answered peer is left alone before its idle counters are read.
constexpr auto kIdleSettle = 300ms;

class Round {
 public:
  Round(const Options& options, const PeerSetups& setups, const Calibration& calibration,
        Report& report, int index)
      : options_(options),
        setups_(setups),
        calibration_(calibration),
        report_(report),
        index_(index),
        body_(BodyOfSize(options.bodyBytes)) {}

  void Run() {
    if (options_.Wants("pipelined")) Pipelined();
    if (options_.Wants("roundtrip")) RoundTrip();
    if (options_.Wants("body")) Body();
    if (options_.Wants("logs")) Logs();
    if (options_.Wants("idle")) Idle();
    if (options_.Wants("flood")) Flood();
  }

 private:
  // Runs both sides: the bridge first in rounds 1, 3, 5, ..., the raw peer first in the others.
  template <typename Value>
  void Both(const char* figure, const std::function<Value()>& bridge,
            const std::function<Value()>& raw, Value& bridgeValue, Value& rawValue) {
    const auto run = [&](const char* side, const std::function<Value()>& measure) {
      try {
        return measure();
      } catch (const std::exception& failure) {
        throw std::runtime_error(std::string(figure) + ", " + side + ", round " +
                                 std::to_string(index_ + 1) + ": " + failure.what());
      }
    };
    if (index_ % 2 == 0) {
      bridgeValue = run("bridge", bridge);
      rawValue = run("raw peer", raw);
    } else {
      rawValue = run("raw peer", raw);
      bridgeValue = run("bridge", bridge);
    }
  }

  void Record(const std::string& figure, const std::string& unit, const std::string& reference,
              Goal goal, double bound, double bridge, double referenceValue) {
    report_.Add(figure, unit, reference, goal, bound, bridge, referenceValue);
    std::fprintf(stderr, "round %d/%d  %-34s bridge %12.3f  %s %12.3f\n", index_ + 1,
                 options_.rounds, figure.c_str(), bridge, reference.c_str(), referenceValue);
  }

  RawPeerConfig RawReplies() const {
    RawPeerConfig config;
    config.reply = calibration_.replyTemplate;
    return config;
  }

  std::size_t ReplyBytes() const {
    return LineTemplate(calibration_.replyTemplate).Fill("0").size();
  }

  static void Initialise(Peer& bridge) {
    bridge.Send(InitRequest("init"));
    while (IdOf(bridge.In().NextLine()) != "init") {
    }
  }

  // The raw peer's lines are modelled on the bridge's; a difference would skew the ratio.
  static void CompareBytes(const char* figure, const Throughput& bridge, const Throughput& raw) {
    if (bridge.bytes == raw.bytes) return;
    std::fprintf(stderr, "warning: %s: the bridge wrote %zu bytes, the raw peer %zu\n", figure,
                 bridge.bytes, raw.bytes);
  }

  void Pipelined() {
    Throughput bridge;
    Throughput raw;
    Both<Throughput>(
        "pipelined",
        [&] {
          Peer peer(setups_.BridgeWithLibraryBeside());
          return PipelinedRequests(peer, options_.requests, ReplyBytes());
        },
        [&] {
          Peer peer(setups_.Raw(RawReplies()));
          return PipelinedRequests(peer, options_.requests, ReplyBytes());
        },
        bridge, raw);
    CompareBytes("pipelined", bridge, raw);
    Record("pipelined getSdkVersion", "req/s", "raw", Goal::kRatioAtLeast, 0.9, bridge.perSecond,
           raw.perSecond);
    Record("  peer CPU per request", "us", "raw", Goal::kNone, 0, bridge.cpuUsPerItem,
           raw.cpuUsPerItem);
  }

  void RoundTrip() {
    Latency bridge;
    Latency raw;
    Both<Latency>(
        "round trip",
        [&] {
          Peer peer(setups_.BridgeWithLibraryBeside());
          return RoundTrips(peer, options_.roundTrips);
        },
        [&] {
          Peer peer(setups_.Raw(RawReplies()));
          return RoundTrips(peer, options_.roundTrips);
        },
        bridge, raw);
    Record("round trip p50", "us", "raw", Goal::kRatioAtMost, 1.5, bridge.p50Us, raw.p50Us);
    Record("round trip p99", "us", "raw", Goal::kNone, 0, bridge.p99Us, raw.p99Us);
  }

  void Body() {
    Delivery bridge;
    Delivery raw;
    Both<Delivery>(
        "body",
        [&] {
          Peer peer(setups_.BridgeWithScenario(BodyScenario(calibration_.version, false)));
          Initialise(peer);
          return BodyDelivery(peer, true, body_, options_.bodyCount);
        },
        [&] {
          Peer peer(setups_.Raw(RawReplies()));
          return BodyDelivery(peer, false, body_, options_.bodyCount);
        },
        bridge, raw);
    const Delivery parse = Parse(body_, options_.bodyCount);
    const std::string size = Size();
    Record(size + " answer into library", "ms", "raw", Goal::kNone, 0, bridge.ms, raw.ms);
    Record(size + " answer vs JSON parse", "ms", "parse", Goal::kRatioAtMost, 1.2, bridge.ms,
           parse.ms);
    Record("  peer CPU vs parse CPU", "ms", "parse", Goal::kNone, 0, bridge.cpuMs, parse.cpuMs);
  }

  void Logs() {
    const std::uint32_t threads = options_.logThreads;
    const std::uint32_t count = options_.logCount;
    const std::size_t lineBytes =
        LineTemplate(calibration_.logTemplate).Fill("0", LogText(0, 0)).size();
    Throughput bridge;
    Throughput raw;
    Both<Throughput>(
        "logs",
        [&] {
          Peer peer(setups_.BridgeWithScenario(LogScenario(calibration_.version, threads, count)));
          return LogLines(peer, threads, count, lineBytes);
        },
        [&] {
          RawPeerConfig config = RawReplies();
          config.logLine = calibration_.logTemplate;
          config.burstId = kBurstId;
          config.logThreads = threads;
          config.logCount = count;
          Peer peer(setups_.Raw(config));
          return LogLines(peer, threads, count, lineBytes);
        },
        bridge, raw);
    CompareBytes("logs", bridge, raw);
    Record("log lines from " + std::to_string(threads) + " threads", "lines/s", "raw",
           Goal::kRatioAtLeast, 0.5, bridge.perSecond, raw.perSecond);
    Record("  peer CPU per line", "us", "raw", Goal::kNone, 0, bridge.cpuUsPerItem,
           raw.cpuUsPerItem);
  }

  // Replies beside a library that logs nonstop, against the same bridge with a quiet library.
  void Flood() {
    const std::uint32_t threads = options_.floodThreads;
    FloodLatency flooded;
    FloodLatency quiet;
    const auto measure = [&](bool flood) {
      Peer peer(setups_.BridgeWithScenario(
          LogScenario(calibration_.version, threads, std::numeric_limits<std::uint32_t>::max())));
      return RoundTripsBesideLogs(peer, options_.floodRoundTrips, threads, flood);
    };
    Both<FloodLatency>(
        "flood", [&] { return measure(true); }, [&] { return measure(false); }, flooded, quiet);
    const std::string name = "p50 beside " + std::to_string(threads) + "-thread log flood";
    Record(name, "us", "quiet", Goal::kRatioAtMost, 5, flooded.p50Us, quiet.p50Us);
    Record("p99 beside the flood", "us", "quiet", Goal::kRatioAtMost, 20, flooded.p99Us,
           quiet.p99Us);
    Record("  log lines during the requests", "lines/s", "quiet", Goal::kNone, 0,
           flooded.logLinesPerSecond, quiet.logLinesPerSecond);
  }

  // Both sides idle at once: neither disturbs the other while neither does anything.
  void Idle() {
    Peer bridge(setups_.BridgeWithScenario(QuietScenario(calibration_.version)));
    Initialise(bridge);
    Peer raw(setups_.Raw(RawReplies()));
    raw.Send(VersionRequest("0"));
    raw.In().NextLine();
    std::this_thread::sleep_for(kIdleSettle);
    const ProcessCounters bridgeBefore = ReadCounters(bridge.Pid());
    const ProcessCounters rawBefore = ReadCounters(raw.Pid());
    const Clock::time_point start = Clock::now();
    std::this_thread::sleep_for(std::chrono::duration<double>(options_.idleSeconds));
    const ProcessCounters bridgeAfter = ReadCounters(bridge.Pid());
    const ProcessCounters rawAfter = ReadCounters(raw.Pid());
    const double seconds = Seconds(Clock::now() - start);
    const IdleUsage bridgeUsage = UsageBetween(bridgeBefore, bridgeAfter, seconds);
    const IdleUsage rawUsage = UsageBetween(rawBefore, rawAfter, seconds);
    Record("idle wake-ups", "1/s", "raw", Goal::kBridgeAtMost, 100, bridgeUsage.wakeupsPerSecond,
           rawUsage.wakeupsPerSecond);
    Record("idle CPU", "% core", "raw", Goal::kBridgeBelow, 0.5, bridgeUsage.cpuPercent,
           rawUsage.cpuPercent);
  }

  std::string Size() const {
    const std::size_t bytes = options_.bodyBytes;
    if (bytes % (1 << 20) == 0) return std::to_string(bytes >> 20) + " MiB";
    if (bytes % (1 << 10) == 0) return std::to_string(bytes >> 10) + " KiB";
    return std::to_string(bytes) + " B";
  }

  const Options& options_;
  const PeerSetups& setups_;
  const Calibration& calibration_;
  Report& report_;
  int index_;
  std::string body_;
};

}  // namespace

void RunRounds(const Options& options, const PeerSetups& setups, const Calibration& calibration,
               Report& report) {
  for (int index = 0; index < options.rounds; ++index) {
    Round(options, setups, calibration, report, index).Run();
  }
}

}  // namespace electron_morvane::bench
