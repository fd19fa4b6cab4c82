// A thread-safe list of what callbacks delivered, with waits for a condition on it.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <vector>

namespace electron_morvane::sim_test {

using namespace std::chrono_literals;

// Long enough for a sanitizer build on a busy machine; only reached when a test fails.
constexpr std::chrono::milliseconds kWaitLimit = 15s;

template <typename T>
class Recorder {
 public:
  void Add(T item) {
    std::lock_guard<std::mutex> lock(mutex_);
    items_.push_back(std::move(item));
    changed_.notify_all();
  }

  // Waits until done(items) holds; false when it does not within the limit.
  template <typename Done>
  bool WaitUntil(Done done, std::chrono::milliseconds limit = kWaitLimit) const {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, limit, [&] { return done(items_); });
  }

  bool WaitForCount(std::size_t count) const {
    return WaitUntil([count](const std::vector<T>& items) { return items.size() >= count; });
  }

  std::vector<T> Items() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return items_;
  }

 private:
  mutable std::mutex mutex_;
  mutable std::condition_variable changed_;
  std::vector<T> items_;
};

}  // namespace electron_morvane::sim_test
