#include "fake_host.h"

#include <fstream>

namespace electron_morvane::sim_test {

FakeHost* FakeHost::current_ = nullptr;

FakeHost::FakeHost() : hostThread_(&FakeHost::RunHostThread, this) { current_ = this; }

FakeHost::~FakeHost() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
    queued_.notify_all();
  }
  hostThread_.join();
  if (current_ == this) current_ = nullptr;
}

void FakeHost::FillCallbacks(SdkInitRecord& record) const {
  record.logCallback = &FakeHost::OnLog;
  record.downloadCallback = &FakeHost::OnDownload;
  record.cancelDownloadCallback = &FakeHost::OnCancelDownload;
  record.httpRequestCallback = &FakeHost::OnHttpRequest;
}

void FakeHost::UseResponses(const SdkResponseTable& table) {
  std::lock_guard<std::mutex> lock(mutex_);
  responses_ = table;
}

void FakeHost::ServeHttp(const std::string& url, HttpReply reply) {
  std::lock_guard<std::mutex> lock(mutex_);
  httpReplies_[url] = std::move(reply);
}

void FakeHost::ServeDownload(const std::string& url, DownloadPlan plan) {
  std::lock_guard<std::mutex> lock(mutex_);
  downloadPlans_[url] = std::move(plan);
}

int32_t FakeHost::OnLog(const char* line) {
  current_->logLines.Add(line);
  return 0;
}

void FakeHost::OnHttpRequest(const char* url, int32_t method, const SdkHeaderPair* headers,
                             uint32_t headerCount, const char* body, uint32_t bodyLength,
                             int32_t sdkTaskId, uint64_t sdkData) {
  HttpRequestSeen seen{url, method, {}, {}, sdkTaskId, sdkData};
  for (uint32_t i = 0; i < headerCount; ++i)
    seen.headers.emplace(headers[i].name, headers[i].value);
  if (bodyLength > 0) seen.body.assign(body, bodyLength);
  current_->httpRequests.Add(seen);

  FakeHost& host = *current_;
  HttpReply reply{true, -3001, 0, "no such host", ""};
  {
    std::lock_guard<std::mutex> lock(host.mutex_);
    if (const auto found = host.httpReplies_.find(url); found != host.httpReplies_.end()) {
      reply = found->second;
    }
  }
  if (!reply.answer) return;
  host.Post([reply, sdkTaskId, sdkData](const SdkResponseTable& responses) {
    char errorText[MORVANE_RESPONSE_ERROR_TEXT_MAX + 1] = {};
    reply.errorMsg.copy(errorText, sizeof(errorText) - 1);
    responses.httpResponse(sdkTaskId, reply.result, reply.httpStatusCode, errorText, nullptr, 0,
                           reply.body.data(), static_cast<uint32_t>(reply.body.size()), sdkData);
  });
}

void FakeHost::OnDownload(const char* url, const char* path, int32_t sdkTaskId, uint64_t sdkData) {
  current_->downloads.Add({url, path, sdkTaskId, sdkData});

  FakeHost& host = *current_;
  DownloadPlan plan;
  plan.progress.clear();
  plan.result = -3001;
  plan.errorMsg = "no such file";
  {
    std::lock_guard<std::mutex> lock(host.mutex_);
    if (const auto found = host.downloadPlans_.find(url); found != host.downloadPlans_.end()) {
      plan = found->second;
    }
  }
  host.Post(
      [plan, file = std::string(path), sdkTaskId, sdkData](const SdkResponseTable& responses) {
        if (plan.result == 0) {
          std::ofstream out(file, std::ios::binary | std::ios::trunc);
          out << plan.bytes;
        }
        for (const int32_t progress : plan.progress) {
          responses.downloadResponse(sdkTaskId, progress, 0, 0, 200, "", sdkData);
        }
        if (plan.finish) {
          char errorText[MORVANE_RESPONSE_ERROR_TEXT_MAX + 1] = {};
          plan.errorMsg.copy(errorText, sizeof(errorText) - 1);
          responses.downloadResponse(sdkTaskId, 100, 1, plan.result, plan.httpStatusCode, errorText,
                                     sdkData);
        }
      });
}

void FakeHost::OnCancelDownload(int32_t sdkTaskId) { current_->cancelledDownloads.Add(sdkTaskId); }

void FakeHost::Post(Work work) {
  std::lock_guard<std::mutex> lock(mutex_);
  work_.push_back(std::move(work));
  queued_.notify_all();
}

void FakeHost::RunHostThread() {
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    queued_.wait(lock, [this] { return stopping_ || !work_.empty(); });
    if (stopping_) return;
    Work work = std::move(work_.front());
    work_.pop_front();
    // The response functions are read under the lock; the work itself runs without it, as the
    // bridge's main loop calls into the library without holding anything the library could need.
    const SdkResponseTable responses = responses_;
    lock.unlock();
    if (responses.httpResponse != nullptr && responses.downloadResponse != nullptr) work(responses);
    lock.lock();
  }
}

}  // namespace electron_morvane::sim_test
