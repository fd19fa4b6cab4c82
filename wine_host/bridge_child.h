// The bridge process as the host starts it: without a console and in a job that ends it when
// this process ends, so no bridge outlives a test.
#pragma once

#include <windows.h>

#include <optional>
#include <string>
#include <utility>

#include "unique_handle.h"

namespace electron_morvane::wine_host {

class BridgeChild {
 public:
  // Starts the program with this process's environment. nullopt with the system's code when it
  // cannot be started.
  static std::optional<BridgeChild> Start(const std::string& program, DWORD& error);

  HANDLE Process() const { return process_.Get(); }
  DWORD WaitForExitCode() const;

 private:
  BridgeChild(UniqueHandle job, UniqueHandle process)
      : job_(std::move(job)), process_(std::move(process)) {}

  UniqueHandle job_;
  UniqueHandle process_;
};

}  // namespace electron_morvane::wine_host
