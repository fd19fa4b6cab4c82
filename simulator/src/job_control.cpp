#include "job_control.h"

namespace electron_morvane::sim {

std::string StopMessage(StopReason reason) {
  switch (reason) {
    case StopReason::kCancel:
      return "cancelled";
    case StopReason::kShutdown:
      return "stopped: the library was initialised again or shut down";
    case StopReason::kNone:
      break;
  }
  return "";
}

bool JobControl::RequestCancelLocked() {
  if (!cancellable_) return false;
  if (stop_ == StopReason::kNone) stop_ = StopReason::kCancel;
  hub_.changed.notify_all();
  return true;
}

void JobControl::RequestShutdownLocked() {
  if (stop_ == StopReason::kNone) stop_ = StopReason::kShutdown;
  hub_.changed.notify_all();
}

StopReason JobControl::Stop() const {
  std::lock_guard<std::mutex> lock(hub_.mutex);
  return stop_;
}

bool JobControl::EnterUncancellable() {
  std::lock_guard<std::mutex> lock(hub_.mutex);
  if (stop_ != StopReason::kNone) return false;
  cancellable_ = false;
  return true;
}

bool JobControl::EnterHang() {
  std::lock_guard<std::mutex> lock(hub_.mutex);
  if (stop_ != StopReason::kNone) return false;
  hung_ = true;
  return true;
}

bool JobControl::Sleep(std::chrono::milliseconds delay) {
  std::unique_lock<std::mutex> lock(hub_.mutex);
  return !hub_.changed.wait_for(lock, delay, [this] { return stop_ != StopReason::kNone; });
}

}  // namespace electron_morvane::sim
