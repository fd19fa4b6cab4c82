// A started program that is waited for on destruction: given a moment to exit on its own (the
// bridge exits when the host closes its end), then killed.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace electron_morvane::bench {

class ChildProcess {
 public:
  ChildProcess() = default;
  // Starts arguments[0] with the environment of this process changed by `changes`.
  ChildProcess(const std::vector<std::string>& arguments,
               const std::map<std::string, std::string>& changes);
  ~ChildProcess();
  ChildProcess(ChildProcess&& other) noexcept;
  ChildProcess& operator=(ChildProcess&& other) noexcept;
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  pid_t Pid() const { return pid_; }
  // The exit status (128 + signal when killed by one), or none while it still runs.
  std::optional<int> ExitedWithin(std::chrono::milliseconds timeout);

 private:
  void Finish();

  pid_t pid_ = -1;
  std::optional<int> exit_;
};

}  // namespace electron_morvane::bench
