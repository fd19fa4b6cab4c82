// A driver update: look up the driver, have the host download it, verify, unpack and install it.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "job_env.h"

namespace electron_morvane::sim {

struct UpdateReport {
  uint32_t state = MORVANE_UPDATE_UNKNOWN;
  int32_t progress = 0;
  int32_t code = 0;
  std::string message;
};

using UpdateSink = std::function<void(const UpdateReport&)>;

// Runs the update, handing every report but the last to report. Returns the last report: state 10
// after a successful install, else the error state of the step that failed.
UpdateReport RunUpdate(const JobEnv& env, const UpdateSink& report);

}  // namespace electron_morvane::sim
