#include "logger.h"

namespace electron_morvane::sim {

namespace {

const char* LevelName(LogLevel level) {
  switch (level) {
    case LogLevel::kError:
      return "error";
    case LogLevel::kWarning:
      return "warning";
    case LogLevel::kInfo:
      return "info";
    case LogLevel::kDebug:
      return "debug";
  }
  return "debug";
}

}  // namespace

void Logger::Configure(SdkLogCallback callback, int32_t logMode) {
  std::lock_guard<std::mutex> lock(mutex_);
  callback_ = callback;
  logMode_ = logMode;
}

void Logger::Log(LogLevel level, const std::string& message) const {
  SdkLogCallback callback = nullptr;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if ((logMode_ & static_cast<int32_t>(level)) == 0) return;
    callback = callback_;
  }
  if (callback == nullptr) return;
  const std::string line = std::string("[") + LevelName(level) + "] " + message;
  callback(line.c_str());
}

}  // namespace electron_morvane::sim
