// The scriptable library's state: its scenario, how often each function was called, the
// callbacks the bridge installed, and the jobs it was given. Never destroyed, so the library's
// threads can use it during process exit. The first use loads the scenario file named by
// MORVANE_SCRIPT, if any.
#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "no_destructor.h"
#include "scenario.h"
#include "sdk/morvane_sdk.h"

namespace electron_morvane::scriptable_sdk {

struct InstalledCallbacks {
  SdkLogCallback log = nullptr;
  SdkDownloadCallback download = nullptr;
  SdkCancelDownloadCallback cancelDownload = nullptr;
  SdkHttpRequestCallback httpRequest = nullptr;
};

struct CheckJob {
  std::string vendorId;
  std::string deviceId;
  SdkCheckCallback callback = nullptr;
  void* userData = nullptr;
};

struct UpdateJob {
  std::string vendorId;
  std::string deviceId;
  SdkUpdateCallback callback = nullptr;
  void* userData = nullptr;
};

// Which job a report is for: the one with `userData` when set, otherwise the latest one whose
// texts equal those given.
struct JobQuery {
  void* userData = nullptr;
  std::optional<std::string> vendorId;
  std::optional<std::string> deviceId;
};

// What one call of a function is to do, taken from the scenario as the call begins.
struct CallPlan {
  std::uint64_t number = 0;  // among the calls of that function since the scenario was loaded
  std::int32_t result = MORVANE_OK;
  std::vector<Action> actions;
  bool logged = true;        // whether the call goes into the call log
  bool logBodyBytes = true;  // whether its entry keeps the bytes of an HTTP body
  std::vector<std::string> loggedVariables;  // whose values its entry shows
};

class LibraryState {
 public:
  static LibraryState& Get();

  // Forgets calls, callbacks and jobs, and takes `scenario` (not null) as the script.
  void Replace(std::shared_ptr<const Scenario> scenario);
  CallPlan BeginCall(const std::string& function);
  // Shared, not copied: a scenario is never changed once loaded.
  std::shared_ptr<const Scenario> CurrentScenario();

  // Kept outside the lock with no ordering of their own, like pointers a library copies at init,
  // so the library adds no synchronisation that could hide a race in the bridge.
  void InstallCallbacks(const InstalledCallbacks& callbacks);
  InstalledCallbacks Callbacks() const;

  void AddCheckJob(const CheckJob& job);
  // Takes the job out of those waiting for their result: each is reported once.
  std::optional<CheckJob> ClaimCheckJob(const JobQuery& query);
  std::optional<CheckJob> PeekCheckJob(const JobQuery& query);
  std::vector<CheckJob> ClaimAllCheckJobs();

  void AddUpdateJob(const UpdateJob& job);
  std::optional<UpdateJob> FindUpdateJob(const JobQuery& query);

 private:
  LibraryState();

  template <typename Job>
  static typename std::vector<Job>::iterator Find(std::vector<Job>& jobs, const JobQuery& query);

  std::mutex mutex_;
  std::shared_ptr<const Scenario> scenario_;
  std::map<std::string, std::uint64_t> callCounts_;
  std::atomic<SdkLogCallback> log_{nullptr};
  std::atomic<SdkDownloadCallback> download_{nullptr};
  std::atomic<SdkCancelDownloadCallback> cancelDownload_{nullptr};
  std::atomic<SdkHttpRequestCallback> httpRequest_{nullptr};
  std::vector<CheckJob> pendingChecks_;
  std::vector<UpdateJob> updateJobs_;
  // Every userData ever given, kept for good: a job's memory stays reachable from the library
  // (as it would in a library that may still report), whatever the tests reset.
  std::vector<void*> everyUserData_;

  template <typename T>
  friend class NoDestructor;
};

}  // namespace electron_morvane::scriptable_sdk
