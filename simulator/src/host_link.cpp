#include "host_link.h"

#include <limits>
#include <tuple>

namespace electron_morvane::sim {

namespace {

using Clock = std::chrono::steady_clock;

// Waits on the hub until ready() or a stop; with a zero timeout, without a time limit.
template <typename Ready>
WaitEnd WaitFor(SyncHub& hub, std::unique_lock<std::mutex>& lock, const JobControl& job,
                std::chrono::milliseconds timeout, Ready ready) {
  const auto done = [&] { return ready() || job.StopLocked() != StopReason::kNone; };
  if (timeout.count() > 0) {
    if (!hub.changed.wait_until(lock, Clock::now() + timeout, done)) return WaitEnd::kTimedOut;
  } else {
    hub.changed.wait(lock, done);
  }
  return ready() ? WaitEnd::kDone : WaitEnd::kStopped;
}

}  // namespace

void HostLink::Configure(const ServiceCallbacks& callbacks) {
  std::lock_guard<std::mutex> lock(hub_.mutex);
  callbacks_ = callbacks;
  ++generation_;
  http_.clear();
  downloads_.clear();
  hub_.changed.notify_all();
}

std::pair<int32_t, uint64_t> HostLink::NextTaskLocked() {
  const int32_t taskId = nextTaskId_;
  nextTaskId_ = nextTaskId_ == std::numeric_limits<int32_t>::max() ? 1 : nextTaskId_ + 1;
  // The generation in the high half ties an answer to the configuration it was asked under.
  const uint64_t sdkData =
      (static_cast<uint64_t>(generation_) << 32) | static_cast<uint32_t>(taskId);
  return {taskId, sdkData};
}

WaitEnd HostLink::Get(const std::string& url, JobControl& job, std::chrono::milliseconds timeout,
                      HttpAnswer& answer) {
  SdkHttpRequestCallback request = nullptr;
  int32_t taskId = 0;
  uint64_t sdkData = 0;
  {
    std::lock_guard<std::mutex> lock(hub_.mutex);
    if (callbacks_.httpRequest == nullptr) return WaitEnd::kNoService;
    request = callbacks_.httpRequest;
    std::tie(taskId, sdkData) = NextTaskLocked();
    http_[taskId].sdkData = sdkData;
  }
  logger_.Debug("http task " + std::to_string(taskId) + ": GET " + url);
  const SdkHeaderPair accept{"Accept", "application/json"};
  request(url.c_str(), MORVANE_HTTP_GET, &accept, 1, "", 0, taskId, sdkData);

  std::unique_lock<std::mutex> lock(hub_.mutex);
  const auto answered = [&] {
    const auto found = http_.find(taskId);
    return found != http_.end() && found->second.answer.has_value();
  };
  const WaitEnd end = WaitFor(hub_, lock, job, timeout, answered);
  if (end == WaitEnd::kDone) answer = std::move(*http_.at(taskId).answer);
  http_.erase(taskId);
  return end;
}

std::optional<int32_t> HostLink::StartDownload(const std::string& url, const std::string& path) {
  SdkDownloadCallback download = nullptr;
  int32_t taskId = 0;
  uint64_t sdkData = 0;
  {
    std::lock_guard<std::mutex> lock(hub_.mutex);
    if (callbacks_.download == nullptr) return std::nullopt;
    download = callbacks_.download;
    std::tie(taskId, sdkData) = NextTaskLocked();
    downloads_[taskId].sdkData = sdkData;
  }
  logger_.Debug("download task " + std::to_string(taskId) + ": " + url + " to " + path);
  download(url.c_str(), path.c_str(), taskId, sdkData);
  return taskId;
}

WaitEnd HostLink::NextDownloadEvent(int32_t taskId, JobControl& job,
                                    std::chrono::milliseconds timeout, DownloadEvent& event) {
  std::unique_lock<std::mutex> lock(hub_.mutex);
  const auto hasEvent = [&] {
    const auto found = downloads_.find(taskId);
    return found != downloads_.end() && !found->second.events.empty();
  };
  const WaitEnd end = WaitFor(hub_, lock, job, timeout, hasEvent);
  if (end == WaitEnd::kDone) {
    auto& events = downloads_.at(taskId).events;
    event = std::move(events.front());
    events.pop_front();
  }
  return end;
}

void HostLink::EndDownload(int32_t taskId, bool tellHost) {
  SdkCancelDownloadCallback cancel = nullptr;
  {
    std::lock_guard<std::mutex> lock(hub_.mutex);
    downloads_.erase(taskId);
    if (tellHost) cancel = callbacks_.cancelDownload;
  }
  if (cancel != nullptr) {
    logger_.Debug("download task " + std::to_string(taskId) + ": asking the host to cancel");
    cancel(taskId);
  }
}

void HostLink::OnHttpResponse(int32_t taskId, uint64_t sdkData, HttpAnswer answer) {
  {
    std::lock_guard<std::mutex> lock(hub_.mutex);
    const auto found = http_.find(taskId);
    if (found != http_.end() && found->second.sdkData == sdkData && !found->second.answer) {
      found->second.answer = std::move(answer);
      hub_.changed.notify_all();
      return;
    }
  }
  logger_.Debug("http task " + std::to_string(taskId) + ": ignoring an answer nobody waits for");
}

void HostLink::OnDownloadResponse(int32_t taskId, uint64_t sdkData, DownloadEvent event) {
  {
    std::lock_guard<std::mutex> lock(hub_.mutex);
    const auto found = downloads_.find(taskId);
    if (found != downloads_.end() && found->second.sdkData == sdkData) {
      found->second.events.push_back(std::move(event));
      hub_.changed.notify_all();
      return;
    }
  }
  logger_.Debug("download task " + std::to_string(taskId) + ": ignoring an event nobody waits for");
}

}  // namespace electron_morvane::sim
