// Log lines go to the host's log callback, filtered by the log mode that init was given.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>

#include "sdk/morvane_sdk.h"

namespace electron_morvane::sim {

enum class LogLevel : int32_t {
  kError = MORVANE_LOG_ERROR,
  kWarning = MORVANE_LOG_WARNING,
  kInfo = MORVANE_LOG_INFO,
  kDebug = MORVANE_LOG_DEBUG
};

class Logger {
 public:
  void Configure(SdkLogCallback callback, int32_t logMode);

  // Sends "[level] message" when the level's bit is in the log mode. Never call it while holding
  // a lock that the host's callback could need.
  void Log(LogLevel level, const std::string& message) const;

  void Error(const std::string& message) const { Log(LogLevel::kError, message); }
  void Warning(const std::string& message) const { Log(LogLevel::kWarning, message); }
  void Info(const std::string& message) const { Log(LogLevel::kInfo, message); }
  void Debug(const std::string& message) const { Log(LogLevel::kDebug, message); }

 private:
  mutable std::mutex mutex_;
  SdkLogCallback callback_ = nullptr;
  int32_t logMode_ = 0;
};

}  // namespace electron_morvane::sim
