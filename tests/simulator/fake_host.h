// The bridge and host side of the library, in process: the service callbacks that the library is
// given at init, and a host thread that serves its HTTP requests and downloads by calling the
// library's response functions, as the bridge does when the host's answers arrive.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "host_plans.h"
#include "recorder.h"
#include "sdk/morvane_sdk.h"

namespace electron_morvane::sim_test {

struct HttpRequestSeen {
  std::string url;
  int32_t method = -1;
  std::map<std::string, std::string> headers;
  std::string body;
  int32_t sdkTaskId = 0;
  uint64_t sdkData = 0;
};

struct DownloadSeen {
  std::string url;
  std::string path;
  int32_t sdkTaskId = 0;
  uint64_t sdkData = 0;
};

class FakeHost {
 public:
  FakeHost();
  ~FakeHost();
  FakeHost(const FakeHost&) = delete;
  FakeHost& operator=(const FakeHost&) = delete;

  // The record fields a bridge fills: the four service callbacks.
  void FillCallbacks(SdkInitRecord& record) const;
  // The library's response functions, as it published them at init.
  void UseResponses(const SdkResponseTable& table);

  void ServeHttp(const std::string& url, HttpReply reply);
  void ServeDownload(const std::string& url, DownloadPlan plan);

  Recorder<HttpRequestSeen> httpRequests;
  Recorder<DownloadSeen> downloads;
  Recorder<int32_t> cancelledDownloads;
  Recorder<std::string> logLines;

 private:
  static FakeHost* current_;

  static int32_t OnLog(const char* line);
  static void OnDownload(const char* url, const char* path, int32_t sdkTaskId, uint64_t sdkData);
  static void OnCancelDownload(int32_t sdkTaskId);
  static void OnHttpRequest(const char* url, int32_t method, const SdkHeaderPair* headers,
                            uint32_t headerCount, const char* body, uint32_t bodyLength,
                            int32_t sdkTaskId, uint64_t sdkData);

  using Work = std::function<void(const SdkResponseTable&)>;
  // Runs work on the host thread, after everything queued before it.
  void Post(Work work);
  void RunHostThread();

  std::mutex mutex_;
  std::condition_variable queued_;
  std::deque<Work> work_;
  bool stopping_ = false;
  SdkResponseTable responses_{};
  std::map<std::string, HttpReply> httpReplies_;
  std::map<std::string, DownloadPlan> downloadPlans_;
  std::thread hostThread_;
};

}  // namespace electron_morvane::sim_test
