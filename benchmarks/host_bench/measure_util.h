// Small helpers the figures share: a clock, medians and percentiles, and a thread that is always
// joined.
#pragma once

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <exception>
#include <functional>
#include <thread>
#include <vector>

namespace electron_morvane::bench {

using Clock = std::chrono::steady_clock;

inline double Seconds(Clock::duration duration) {
  return std::chrono::duration<double>(duration).count();
}

// The value below which the given share of values lie (nearest rank); 0 for no values.
inline double Percentile(std::vector<double> values, double share) {
  if (values.empty()) return 0;
  const auto rank = static_cast<std::size_t>(share * static_cast<double>(values.size() - 1) + 0.5);
  std::nth_element(values.begin(), values.begin() + static_cast<std::ptrdiff_t>(rank),
                   values.end());
  return values[rank];
}

inline double Median(std::vector<double> values) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  const std::size_t middle = values.size() / 2;
  return values.size() % 2 == 1 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

// Runs work on its own thread; Join() rethrows what it threw. Joined on destruction in any case,
// after `unblock` (which must make the work return, e.g. by shutting the socket down).
class Worker {
 public:
  Worker(std::function<void()> work, std::function<void()> unblock)
      : unblock_(std::move(unblock)), thread_([this, work = std::move(work)] {
          try {
            work();
          } catch (...) {
            failure_ = std::current_exception();
          }
        }) {}
  ~Worker() {
    if (!thread_.joinable()) return;
    unblock_();
    thread_.join();
  }
  Worker(const Worker&) = delete;
  Worker& operator=(const Worker&) = delete;

  void Join() {
    thread_.join();
    if (failure_) std::rethrow_exception(failure_);
  }

 private:
  std::function<void()> unblock_;
  std::exception_ptr failure_;
  std::thread thread_;
};

}  // namespace electron_morvane::bench
