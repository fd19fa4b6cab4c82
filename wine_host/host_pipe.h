// The server end of the named pipe that the bridge opens, as the host application creates it.
#pragma once

#include <windows.h>

#include <optional>
#include <string>
#include <utility>

#include "unique_handle.h"

namespace electron_morvane::wine_host {

class HostPipe {
 public:
  // A fresh single-instance duplex byte pipe \\.\pipe\morvane-test-<process>-<n>, open for
  // overlapped I/O. nullopt with the system's code when it cannot be created.
  static std::optional<HostPipe> Create(DWORD& error);

  const std::string& Name() const { return name_; }
  HANDLE Handle() const { return pipe_.Get(); }

  // Waits until the bridge connects (true), or until stop is signalled first (false).
  bool WaitForClient(HANDLE stop);

  // Closes the server end: the bridge's next call on the pipe fails with broken pipe.
  void Close() { pipe_.Reset(); }

 private:
  HostPipe(std::string name, UniqueHandle pipe) : name_(std::move(name)), pipe_(std::move(pipe)) {}

  std::string name_;
  UniqueHandle pipe_;
};

}  // namespace electron_morvane::wine_host
