#include "callback_firing.h"

#include <algorithm>
#include <chrono>
#include <string>
#include <thread>
#include <variant>
#include <vector>

#include "byte_text.h"
#include "library_state.h"
#include "library_threads.h"

namespace electron_morvane::scriptable_sdk {
namespace {

template <typename... Visitors>
struct Overloaded : Visitors... {
  using Visitors::operator()...;
};
template <typename... Visitors>
Overloaded(Visitors...) -> Overloaded<Visitors...>;

void Pause(std::uint32_t milliseconds) {
  if (milliseconds != 0) std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

// The query for "the job" of a report: the triggering call's own, or else the latest one for the
// adapter the call names (the latest of all when it names none).
JobQuery JobOf(void* ownUserData, const TriggeringCall& call) {
  JobQuery query;
  query.userData = ownUserData;
  query.vendorId = call.vendorId;
  query.deviceId = call.deviceId;
  return query;
}

void ReportCheck(const CheckReport& report, const CheckJob& job, void* userData) {
  if (job.callback == nullptr) return;
  SdkDriverInfoRecord info{};
  FillArray(info.name, report.name.value_or(""));
  FillArray(info.vendorId, report.vendorId.value_or(job.vendorId));
  FillArray(info.deviceId, report.deviceId.value_or(job.deviceId));
  FillArray(info.driverVersion, report.driverVersion.value_or(""));
  FillArray(info.driverDate, report.driverDate.value_or(""));
  info.fileSize = report.fileSize;
  job.callback(&info, report.needUpdate ? 1 : 0, report.errorCode,
               report.errorMsg ? report.errorMsg->c_str() : nullptr, userData);
}

void FireCheck(const CheckFire& fire, const TriggeringCall& call) {
  LibraryState& state = LibraryState::Get();
  const JobQuery query = JobOf(call.ownCheckUserData, call);
  if (fire.userData == JobUserData::kNull) {
    if (const auto job = state.PeekCheckJob(query)) ReportCheck(fire.report, *job, nullptr);
    return;
  }
  // A check is reported once: a job already reported is not found again.
  if (const auto job = state.ClaimCheckJob(query)) ReportCheck(fire.report, *job, job->userData);
}

void FirePendingChecks(const PendingChecksFire& fire) {
  std::vector<CheckJob> jobs = LibraryState::Get().ClaimAllCheckJobs();
  if (fire.reverse) std::reverse(jobs.begin(), jobs.end());
  for (const CheckJob& job : jobs) ReportCheck(fire.report, job, job.userData);
}

void FireUpdate(const UpdateFire& fire, const TriggeringCall& call) {
  const auto job = LibraryState::Get().FindUpdateJob(JobOf(call.ownUpdateUserData, call));
  if (!job || job->callback == nullptr) return;
  const std::string vendorId = fire.vendorId.value_or(job->vendorId);
  const std::string deviceId = fire.deviceId.value_or(job->deviceId);
  void* userData = fire.userData == JobUserData::kJob ? job->userData : nullptr;
  for (const UpdateStep& step : fire.steps) {
    SdkUpdateStatusRecord status{};
    status.progress = step.progress;
    status.errorCode = step.errorCode;
    FillArray(status.errorMsg, step.errorMsg);
    job->callback(vendorId.c_str(), deviceId.c_str(), step.state, &status, userData);
  }
}

void FireHttpRequest(const HttpRequestFire& fire, const InstalledCallbacks& callbacks) {
  if (callbacks.httpRequest == nullptr) return;
  std::vector<SdkHeaderPair> pairs;
  if (fire.headers) {
    for (const auto& [name, value] : *fire.headers) {
      pairs.push_back(SdkHeaderPair{name.c_str(), value.c_str()});
    }
  }
  callbacks.httpRequest(fire.url.c_str(), fire.method, fire.headers ? pairs.data() : nullptr,
                        static_cast<std::uint32_t>(pairs.size()),
                        fire.body.empty() ? nullptr : fire.body.data(),
                        static_cast<std::uint32_t>(fire.body.size()), fire.sdkTaskId, fire.sdkData);
}

// `thread` and `sequence` number the firing thread (from 0, within its action) and the fire
// (from 0, within that thread).
void FireOnce(const FireWhat& what, const TriggeringCall& call, std::uint32_t thread,
              std::uint32_t sequence) {
  const InstalledCallbacks callbacks = LibraryState::Get().Callbacks();
  std::visit(Overloaded{
                 [&](const LogFire& fire) {
                   if (callbacks.log == nullptr) return;
                   if (!fire.numbered) {
                     callbacks.log(fire.line.c_str());
                     return;
                   }
                   const std::string line =
                       fire.line + " " + std::to_string(thread) + " " + std::to_string(sequence);
                   callbacks.log(line.c_str());
                 },
                 [&](const DownloadFire& fire) {
                   if (callbacks.download == nullptr) return;
                   callbacks.download(fire.url.c_str(), fire.path.c_str(), fire.sdkTaskId,
                                      fire.sdkData);
                 },
                 [&](const CancelDownloadFire& fire) {
                   if (callbacks.cancelDownload != nullptr)
                     callbacks.cancelDownload(fire.sdkTaskId);
                 },
                 [&](const HttpRequestFire& fire) { FireHttpRequest(fire, callbacks); },
                 [&](const CheckFire& fire) { FireCheck(fire, call); },
                 [&](const PendingChecksFire& fire) { FirePendingChecks(fire); },
                 [&](const UpdateFire& fire) { FireUpdate(fire, call); },
             },
             what);
}

void FireRepeatedly(const Firing& firing, const TriggeringCall& call, std::uint32_t thread) {
  Pause(firing.delayMs);
  for (std::uint32_t i = 0; i < firing.count; ++i) {
    if (i != 0) Pause(firing.intervalMs);
    FireOnce(firing.what, call, thread, i);
  }
}

}  // namespace

void FireAndWait(const Firing& firing, const TriggeringCall& call) {
  if (firing.threads <= 1) {
    FireRepeatedly(firing, call, 0);
    return;
  }
  std::vector<std::thread> threads;
  for (std::uint32_t i = 0; i < firing.threads; ++i) {
    threads.emplace_back([&, i] { FireRepeatedly(firing, call, i); });
  }
  for (auto& thread : threads) thread.join();
}

void FireFromLibraryThreads(const Firing& firing, const TriggeringCall& call) {
  for (std::uint32_t i = 0; i < firing.threads; ++i) {
    StartLibraryThread([firing, call, i] { FireRepeatedly(firing, call, i); });
  }
}

}  // namespace electron_morvane::scriptable_sdk
