// The library's state behind the exported functions: its configuration, the machine, and the
// check and update jobs, each on a thread of its own.
#pragma once

#include <cstdint>
#include <filesystem>
#include <list>
#include <memory>
#include <string>
#include <thread>

#include "host_link.h"
#include "installed_store.h"
#include "job_control.h"
#include "job_env.h"
#include "logger.h"
#include "machine.h"
#include "sdk/morvane_sdk.h"

namespace electron_morvane::sim {

class Simulator {
 public:
  // Created by the first library call, so after the bridge's own objects; destroyed before them
  // at exit, stopping every job first.
  static Simulator& Instance();

  Simulator() = default;
  ~Simulator();
  Simulator(const Simulator&) = delete;
  Simulator& operator=(const Simulator&) = delete;

  int32_t Init(const SdkInitRecord* record, const SdkResponseTable& responses);
  int32_t Uninit();
  int32_t GetDisplayDevices(SdkDisplayDeviceRecord* devices, uint32_t* count);
  int32_t SetDownloadDir(const char* dir);
  int32_t StartCheck(const char* vendorId, const char* deviceId, SdkCheckCallback callback,
                     void* userData);
  int32_t CancelCheck(const char* vendorId, const char* deviceId);
  int32_t StartUpdate(const char* vendorId, const char* deviceId, SdkUpdateCallback callback,
                      void* userData);
  int32_t CancelUpdate(const char* vendorId, const char* deviceId);

  HostLink& link() { return link_; }

  // Crashes, or never returns, when the machine in use puts that fault in the exported function
  // of this name. Before the first init, and after uninit, no call has a fault.
  void ActOnCallFault(const char* exportName);

 private:
  enum class JobKind { kCheck, kUpdate };

  struct Job {
    Job(JobKind kind, std::string key, SyncHub& hub)
        : kind(kind), key(std::move(key)), control(hub) {}
    JobKind kind;
    std::string key;
    JobControl control;
    bool done = false;    // its outcome is decided: it no longer counts as running
    bool exited = false;  // its thread has nothing left to do but return
    std::thread thread;
  };

  // Both expect hub_.mutex held.
  Job* FindRunningLocked(JobKind kind, const std::string& key);
  void ReapExitedLocked();
  Adapter WithInstalledDriver(const Adapter& adapter) const;
  std::filesystem::path DownloadDirLocked() const;

  // Stops every job and waits for its thread; a hung job's thread is left to run.
  void StopAllJobs();

  // Starts a job on a thread of its own; the caller holds hub_.mutex.
  template <typename Callback>
  int32_t LaunchJobLocked(JobKind kind, const std::string& key, const Adapter& adapter,
                          void (Simulator::*run)(Job&, JobEnv, Callback, void*),
                          Callback callback, void* userData);
  void RunCheckThread(Job& job, JobEnv env, SdkCheckCallback callback, void* userData);
  void RunUpdateThread(Job& job, JobEnv env, SdkUpdateCallback callback, void* userData);
  int32_t CancelJob(JobKind kind, const char* vendorId, const char* deviceId);

  SyncHub hub_;
  Logger logger_;
  HostLink link_{hub_, logger_};
  InstalledStore store_;

  // Guarded by hub_.mutex.
  bool initialized_ = false;
  Machine machine_;
  std::string catalogueUrl_;
  std::string tempDir_;
  std::string downloadDir_;
  std::list<std::unique_ptr<Job>> jobs_;
};

}  // namespace electron_morvane::sim
