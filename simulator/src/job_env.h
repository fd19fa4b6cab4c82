// What a check or update job works with: a snapshot of the library's settings taken when the job
// starts, and the shared services it reports through.
#pragma once

#include <chrono>
#include <filesystem>
#include <string>

#include "host_link.h"
#include "installed_store.h"
#include "job_control.h"
#include "logger.h"
#include "machine.h"

namespace electron_morvane::sim {

struct JobEnv {
  const Logger& logger;
  HostLink& link;
  InstalledStore& store;
  JobControl& control;
  Faults faults;
  std::string catalogueUrl;
  Adapter adapter;  // with the driver installed now
  std::filesystem::path downloadDir;

  std::chrono::milliseconds timeout() const {
    return std::chrono::milliseconds(faults.httpTimeoutMs);
  }
  std::chrono::milliseconds stepDelay() const {
    return std::chrono::milliseconds(faults.stepDelayMs);
  }
  std::string key() const;  // the adapter's key for log lines
};

}  // namespace electron_morvane::sim
