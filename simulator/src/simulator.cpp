#include "simulator.h"

#include <system_error>

#include "adapter_id.h"
#include "check_job.h"
#include "fatal_faults.h"
#include "result_codes.h"
#include "text_copy.h"
#include "update_job.h"

namespace electron_morvane::sim {

namespace {

std::string Text(const char* text) { return text != nullptr ? text : ""; }

bool IsGiven(const char* text) { return text != nullptr && *text != '\0'; }

std::string Describe(const SdkInitRecord& record) {
  return "init: appName=\"" + Text(record.appName) + "\" appId=\"" + Text(record.appId) +
         "\" deviceId=\"" + Text(record.deviceId) + "\" clientVersion=\"" +
         Text(record.clientVersion) + "\" oversea=" + std::to_string(record.oversea) +
         " sdkConfigUrl=\"" + Text(record.sdkConfigUrl) + "\" configDir=\"" +
         Text(record.configDir) + "\" tempDir=\"" + Text(record.tempDir) +
         "\" logMode=" + std::to_string(record.logMode);
}

void DeliverUpdate(SdkUpdateCallback callback, void* userData, const Adapter& adapter,
                   const UpdateReport& report) {
  SdkUpdateStatusRecord status{};
  status.progress = report.progress;
  status.errorCode = report.code;
  CopyText(status.errorMsg, report.message);
  callback(adapter.vendorId.c_str(), adapter.deviceId.c_str(), report.state, &status, userData);
}

}  // namespace

Simulator& Simulator::Instance() {
  static Simulator instance;
  return instance;
}

Simulator::~Simulator() { StopAllJobs(); }

int32_t Simulator::Init(const SdkInitRecord* record, const SdkResponseTable& responses) {
  if (record == nullptr || record->size != sizeof(SdkInitRecord) ||
      record->responseTable == nullptr) {
    return kInvalidParameter;
  }
  StopAllJobs();
  logger_.Configure(record->logCallback, record->logMode);
  *record->responseTable = responses;
  logger_.Info(Describe(*record));

  MachineLoad load = LoadMachine();
  if (!load.machine) {
    logger_.Error("cannot use the machine file " + load.source + ": " + load.error);
    std::lock_guard<std::mutex> lock(hub_.mutex);
    initialized_ = false;
    return kGetDeviceInfoFail;
  }
  link_.Configure(
      {record->downloadCallback, record->cancelDownloadCallback, record->httpRequestCallback});
  const std::string storeWarning = store_.Open(Text(record->configDir));
  {
    std::lock_guard<std::mutex> lock(hub_.mutex);
    machine_ = std::move(*load.machine);
    catalogueUrl_ = Text(record->sdkConfigUrl);
    tempDir_ = Text(record->tempDir);
    initialized_ = true;
  }
  if (!storeWarning.empty()) logger_.Warning(storeWarning);
  logger_.Info("machine: " + load.source);
  return kOk;
}

int32_t Simulator::Uninit() {
  {
    std::lock_guard<std::mutex> lock(hub_.mutex);
    if (!initialized_) return kErrorSdkStatus;
  }
  StopAllJobs();
  logger_.Info("uninit");
  {
    std::lock_guard<std::mutex> lock(hub_.mutex);
    initialized_ = false;
    machine_ = Machine();
    catalogueUrl_.clear();
    tempDir_.clear();
    downloadDir_.clear();
  }
  store_.Clear();
  link_.Configure({});
  logger_.Configure(nullptr, 0);
  return kOk;
}

int32_t Simulator::GetDisplayDevices(SdkDisplayDeviceRecord* devices, uint32_t* count) {
  if (count == nullptr) return kInvalidParameter;
  std::lock_guard<std::mutex> lock(hub_.mutex);
  if (!initialized_) return kErrorSdkStatus;
  const auto needed = static_cast<uint32_t>(machine_.adapters.size());
  if (needed == 0) {
    *count = 0;
    return kNoGraphicsDevice;
  }
  if (devices == nullptr || *count < needed) {
    *count = needed;
    return kArraySizeNotEnough;
  }
  for (uint32_t i = 0; i < needed; ++i) {
    const Adapter adapter = WithInstalledDriver(machine_.adapters[i]);
    SdkDisplayDeviceRecord& record = devices[i];
    CopyText(record.name, adapter.name);
    CopyText(record.driverVersion, adapter.driverVersion);
    CopyText(record.driverDate, adapter.driverDate);
    CopyText(record.vendorId, adapter.vendorId);
    CopyText(record.deviceId, adapter.deviceId);
    record.enable = adapter.enable ? 1 : 0;
    record.problemCode = adapter.problemCode;
    record.vendorType = adapter.vendorType;
  }
  *count = needed;
  return kOk;
}

int32_t Simulator::SetDownloadDir(const char* dir) {
  if (dir == nullptr) return kInvalidParameter;
  {
    std::lock_guard<std::mutex> lock(hub_.mutex);
    if (!initialized_) return kErrorSdkStatus;
    downloadDir_ = dir;
  }
  logger_.Info(std::string("download folder: \"") + dir + "\"");
  return kOk;
}

template <typename Callback>
int32_t Simulator::LaunchJobLocked(JobKind kind, const std::string& key, const Adapter& adapter,
                                   void (Simulator::*run)(Job&, JobEnv, Callback, void*),
                                   Callback callback, void* userData) {
  Job& job = *jobs_.emplace_back(std::make_unique<Job>(kind, key, hub_));
  JobEnv env{logger_,
             link_,
             store_,
             job.control,
             machine_.faults,
             catalogueUrl_,
             WithInstalledDriver(adapter),
             DownloadDirLocked()};
  try {
    job.thread = std::thread(run, this, std::ref(job), std::move(env), callback, userData);
  } catch (const std::system_error&) {
    jobs_.pop_back();
    return kErrorSdkStatus;
  }
  return kOk;
}

int32_t Simulator::StartCheck(const char* vendorId, const char* deviceId, SdkCheckCallback callback,
                              void* userData) {
  if (!IsGiven(vendorId) || !IsGiven(deviceId) || callback == nullptr) return kInvalidParameter;
  std::lock_guard<std::mutex> lock(hub_.mutex);
  if (!initialized_) return kErrorSdkStatus;
  const Adapter* adapter = machine_.Find(vendorId, deviceId);
  if (adapter == nullptr) return kNotCurrentCheckDevice;
  const std::string key = AdapterKey(vendorId, deviceId);
  if (FindRunningLocked(JobKind::kCheck, key) != nullptr) return kCannotRetryCheck;
  ReapExitedLocked();

  return LaunchJobLocked(JobKind::kCheck, key, *adapter, &Simulator::RunCheckThread, callback,
                         userData);
}

int32_t Simulator::StartUpdate(const char* vendorId, const char* deviceId,
                               SdkUpdateCallback callback, void* userData) {
  if (!IsGiven(vendorId) || !IsGiven(deviceId) || callback == nullptr) return kInvalidParameter;
  std::lock_guard<std::mutex> lock(hub_.mutex);
  if (!initialized_) return kErrorSdkStatus;
  const Adapter* adapter = machine_.Find(vendorId, deviceId);
  if (adapter == nullptr) return kNotCurrentUpdateDevice;
  for (const auto& job : jobs_) {
    if (job->kind == JobKind::kUpdate && !job->done) return kAnotherDeviceUpdating;
  }
  ReapExitedLocked();

  return LaunchJobLocked(JobKind::kUpdate, AdapterKey(vendorId, deviceId), *adapter,
                         &Simulator::RunUpdateThread, callback, userData);
}

int32_t Simulator::CancelCheck(const char* vendorId, const char* deviceId) {
  return CancelJob(JobKind::kCheck, vendorId, deviceId);
}

int32_t Simulator::CancelUpdate(const char* vendorId, const char* deviceId) {
  return CancelJob(JobKind::kUpdate, vendorId, deviceId);
}

int32_t Simulator::CancelJob(JobKind kind, const char* vendorId, const char* deviceId) {
  if (!IsGiven(vendorId) || !IsGiven(deviceId)) return kInvalidParameter;
  int32_t result = kCannotCancel;
  {
    std::lock_guard<std::mutex> lock(hub_.mutex);
    if (!initialized_) return kErrorSdkStatus;
    if (machine_.Find(vendorId, deviceId) == nullptr) {
      return kind == JobKind::kCheck ? kNotCurrentCheckDevice : kNotCurrentUpdateDevice;
    }
    Job* job = FindRunningLocked(kind, AdapterKey(vendorId, deviceId));
    if (job != nullptr && job->control.RequestCancelLocked()) result = kOk;
  }
  logger_.Info(std::string(kind == JobKind::kCheck ? "cancel check " : "cancel update ") +
               AdapterKey(vendorId, deviceId) + ": " +
               (result == kOk ? "accepted" : "nothing to cancel"));
  return result;
}

void Simulator::RunCheckThread(Job& job, JobEnv env, SdkCheckCallback callback, void* userData) {
  logger_.Info("check " + env.key() + ": started");
  CheckOutcome outcome;
  try {
    outcome = RunCheck(env);
  } catch (const std::exception& e) {
    outcome = StoppedCheck(env.adapter, StopReason::kNone);
    outcome.code = kErrorSdkStatus;
    outcome.message = e.what();
  }
  {
    std::lock_guard<std::mutex> lock(hub_.mutex);
    // A cancel that was accepted decides the outcome, whatever the check found meanwhile.
    if (const StopReason stop = job.control.StopLocked(); stop != StopReason::kNone) {
      outcome = StoppedCheck(env.adapter, stop);
    }
    job.done = true;
  }
  const std::string summary =
      "check " + env.key() + ": " + std::to_string(outcome.code) + " " +
      (outcome.needUpdate ? "update to " + std::string(outcome.info.driverVersion)
                          : outcome.message);
  switch (outcome.code) {
    case kOk:
    case kNoMatchDriver:
    case kCurrentDriverNewer:
    case kCancelOperation:
      logger_.Info(summary);
      break;
    default:
      logger_.Error(summary);
  }
  callback(&outcome.info, outcome.needUpdate ? 1 : 0, outcome.code, outcome.message.c_str(),
           userData);
  std::lock_guard<std::mutex> lock(hub_.mutex);
  job.exited = true;
}

void Simulator::RunUpdateThread(Job& job, JobEnv env, SdkUpdateCallback callback, void* userData) {
  logger_.Info("update " + env.key() + ": started");
  const auto deliver = [&](const UpdateReport& report) {
    DeliverUpdate(callback, userData, env.adapter, report);
  };
  UpdateReport last;
  try {
    last = RunUpdate(env, deliver);
  } catch (const std::exception& e) {
    last = {MORVANE_UPDATE_INSTALL_ERROR, 0, kErrorSdkStatus, e.what()};
  }
  {
    std::lock_guard<std::mutex> lock(hub_.mutex);
    // A cancel that was accepted decides the outcome of a step that failed meanwhile.
    if (job.control.CancelAcceptedLocked() && last.state != MORVANE_UPDATE_FINISH) {
      last.code = kCancelOperation;
      last.message = StopMessage(StopReason::kCancel);
    }
    job.done = true;
  }
  const std::string summary = "update " + env.key() + ": state " + std::to_string(last.state) +
                              " " + std::to_string(last.code) + " " + last.message;
  if (last.state == MORVANE_UPDATE_FINISH || last.code == kCancelOperation) {
    logger_.Info(summary);
  } else {
    logger_.Error(summary);
  }
  deliver(last);
  std::lock_guard<std::mutex> lock(hub_.mutex);
  job.exited = true;
}

Simulator::Job* Simulator::FindRunningLocked(JobKind kind, const std::string& key) {
  for (const auto& job : jobs_) {
    if (job->kind == kind && job->key == key && !job->done) return job.get();
  }
  return nullptr;
}

void Simulator::ReapExitedLocked() {
  for (auto it = jobs_.begin(); it != jobs_.end();) {
    if ((*it)->exited) {
      (*it)->thread.join();
      it = jobs_.erase(it);
    } else {
      ++it;
    }
  }
}

void Simulator::StopAllJobs() {
  std::list<std::unique_ptr<Job>> stopping;
  {
    std::lock_guard<std::mutex> lock(hub_.mutex);
    for (const auto& job : jobs_) {
      job->control.RequestShutdownLocked();
      // Joining it would wait for good, in a later init, an uninit, or the end of the process.
      if (job->control.HungLocked()) job->thread.detach();
    }
    stopping.swap(jobs_);
  }
  for (const auto& job : stopping) {
    if (job->thread.joinable()) job->thread.join();
  }
}

void Simulator::ActOnCallFault(const char* exportName) {
  bool crash = false;
  bool hang = false;
  {
    std::lock_guard<std::mutex> lock(hub_.mutex);
    if (!initialized_) return;
    crash = machine_.faults.crashInCall == exportName;
    hang = machine_.faults.hangInCall == exportName;
  }
  if (crash) {
    logger_.Error(std::string("simulated crash in ") + exportName);
    CrashWithInvalidAccess();
  }
  if (hang) {
    logger_.Error(std::string("simulated hang in ") + exportName);
    HangForever();
  }
}

Adapter Simulator::WithInstalledDriver(const Adapter& adapter) const {
  Adapter current = adapter;
  if (const auto installed = store_.Find(adapter.vendorId, adapter.deviceId)) {
    current.driverVersion = installed->driverVersion;
    current.driverDate = installed->driverDate;
  }
  return current;
}

std::filesystem::path Simulator::DownloadDirLocked() const {
  if (!downloadDir_.empty()) return downloadDir_;
  if (!tempDir_.empty()) return tempDir_;
  std::error_code error;
  const std::filesystem::path systemTemp = std::filesystem::temp_directory_path(error);
  return (error ? std::filesystem::path(".") : systemTemp) / "morvane-sim";
}

}  // namespace electron_morvane::sim
