// One measurement per function, taken on a freshly started peer (bridge or raw). Each checks
// what came back and throws when a line is missing, malformed or out of order.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "peer.h"

namespace electron_morvane::bench {

// Besides the time, every figure reads the peer's CPU time (all its threads) around the timed
// work: on a busy machine it moves far less than the time does.
struct Throughput {
  double perSecond = 0;
  double cpuUsPerItem = 0;  // the peer's CPU time per request or line (ended threads included)
  std::size_t bytes = 0;    // received, so both sides can be seen to write the same
};

// Requests written as fast as the pipe takes them while a reader collects the answers;
// answers per second from the first byte written to the last answer's line feed.
Throughput PipelinedRequests(Peer& peer, std::size_t requests, std::size_t replyBytes);

struct Latency {
  double p50Us = 0;
  double p99Us = 0;
};
// One request at a time: from writing it to the line feed of its answer.
Latency RoundTrips(Peer& peer, std::size_t count);

// Answers to httpRequest carrying `body`, each followed by a getSdkVersion request: milliseconds
// from the answer's first byte to the following request's answer (median of `count`). For the
// bridge, each answer is to an httpRequest the library sent, and the library must have received
// every body whole (its call log tells the length).
struct Delivery {
  double ms = 0;     // median
  double cpuMs = 0;  // median CPU time of the peer, or of the parsing thread
};
Delivery BodyDelivery(Peer& peer, bool bridge, const std::string& body, std::size_t count);
// nlohmann::json::parse of the same answer line, in this process (median of `count`).
Delivery Parse(const std::string& body, std::size_t count);

// After init, a setDriverDownloadDir request starts `threads` x `count` numbered log lines: lines
// per second from writing that request to the last line's arrival. Every line must be JSON, none
// lost, each thread's in order.
inline constexpr char kBurstId[] = "burst";
Throughput LogLines(Peer& peer, std::uint32_t threads, std::uint32_t count, std::size_t lineBytes);

// One request at a time, as RoundTrips, on an initialised bridge whose library has `threads`
// threads logging nonstop (when `flood`; started by a setDriverDownloadDir and well under way
// before the first request), or none. Every log line must arrive whole and each thread's in
// order.
struct FloodLatency {
  double p50Us = 0;
  double p99Us = 0;
  double logLinesPerSecond = 0;  // while the requests ran
};
FloodLatency RoundTripsBesideLogs(Peer& peer, std::size_t count, std::uint32_t threads,
                                  bool flood);

}  // namespace electron_morvane::bench
