// A driver check: fetch the catalogue and compare its driver with the installed one.
#pragma once

#include <string>

#include "job_env.h"
#include "sdk/morvane_sdk.h"

namespace electron_morvane::sim {

struct CheckOutcome {
  SdkDriverInfoRecord info{};
  bool needUpdate = false;
  int32_t code = 0;
  std::string message;
};

CheckOutcome RunCheck(const JobEnv& env);

// The outcome of a check that was stopped: -1003 with the adapter's installed driver.
CheckOutcome StoppedCheck(const Adapter& adapter, StopReason reason);

}  // namespace electron_morvane::sim
