// Firing the bridge's callbacks the way a scenario's actions describe.
#pragma once

#include <optional>
#include <string>

#include "scenario.h"

namespace electron_morvane::scriptable_sdk {

// The library call that triggered an action: it tells check and update reports which job they
// are for.
struct TriggeringCall {
  void* ownCheckUserData = nullptr;   // set while Morvane_CheckDisplayDeviceDriver runs
  void* ownUpdateUserData = nullptr;  // set while Morvane_UpdateDisplayDeviceDriver runs
  std::optional<std::string> vendorId;
  std::optional<std::string> deviceId;
};

// On the calling thread (from threads of its own that it waits for when `threads` > 1).
void FireAndWait(const Firing& firing, const TriggeringCall& call);
// From threads of the library's own; returns at once.
void FireFromLibraryThreads(const Firing& firing, const TriggeringCall& call);

}  // namespace electron_morvane::scriptable_sdk
