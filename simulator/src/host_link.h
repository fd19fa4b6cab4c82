// The library's network work, done by the host: catalogue requests through the HTTP-request
// callback and package downloads through the download callback. Answers come back through the
// two response functions on the host's thread and wake the job that waits for them.
#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <map>
#include <optional>
#include <string>

#include "job_control.h"
#include "logger.h"
#include "sdk/morvane_sdk.h"

namespace electron_morvane::sim {

struct ServiceCallbacks {
  SdkDownloadCallback download = nullptr;
  SdkCancelDownloadCallback cancelDownload = nullptr;
  SdkHttpRequestCallback httpRequest = nullptr;
};

struct HttpAnswer {
  int32_t result = 0;
  int32_t httpStatusCode = 0;
  std::string errorMsg;
  std::string body;
};

struct DownloadEvent {
  int32_t progress = 0;
  bool isFinish = false;
  int32_t result = 0;
  int32_t httpStatusCode = 0;
  std::string errorMsg;
};

enum class WaitEnd { kDone, kStopped, kTimedOut, kNoService };

class HostLink {
 public:
  HostLink(SyncHub& hub, const Logger& logger) : hub_(hub), logger_(logger) {}

  // Installs the host's callbacks and forgets every pending exchange. Answers to exchanges of an
  // earlier configuration are ignored from now on.
  void Configure(const ServiceCallbacks& callbacks);

  // A GET of url. Waits for the answer until the job is stopped or timeout passes (zero: no
  // limit).
  WaitEnd Get(const std::string& url, JobControl& job, std::chrono::milliseconds timeout,
              HttpAnswer& answer);

  // Asks the host to download url to path; the task id, or nothing without a download service.
  std::optional<int32_t> StartDownload(const std::string& url, const std::string& path);
  // The task's next progress event, in the order the host sent them.
  WaitEnd NextDownloadEvent(int32_t taskId, JobControl& job, std::chrono::milliseconds timeout,
                            DownloadEvent& event);
  // Forgets the task; with tellHost, asks the host to cancel it.
  void EndDownload(int32_t taskId, bool tellHost);

  // The response functions' work. Answers for unknown tasks are dropped.
  void OnHttpResponse(int32_t taskId, uint64_t sdkData, HttpAnswer answer);
  void OnDownloadResponse(int32_t taskId, uint64_t sdkData, DownloadEvent event);

 private:
  struct PendingHttp {
    uint64_t sdkData = 0;
    std::optional<HttpAnswer> answer;
  };
  struct PendingDownload {
    uint64_t sdkData = 0;
    std::deque<DownloadEvent> events;
  };

  // Caller holds hub_.mutex.
  std::pair<int32_t, uint64_t> NextTaskLocked();

  SyncHub& hub_;
  const Logger& logger_;
  // Guarded by hub_.mutex.
  ServiceCallbacks callbacks_;
  uint32_t generation_ = 0;
  int32_t nextTaskId_ = 1;
  std::map<int32_t, PendingHttp> http_;
  std::map<int32_t, PendingDownload> downloads_;
};

}  // namespace electron_morvane::sim
