// Stopping a running job. One mutex and condition variable (the hub) serve every wait of every
// job, so that a job waiting for the host wakes on the host's answer and on a stop alike.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>

namespace electron_morvane::sim {

struct SyncHub {
  std::mutex mutex;
  std::condition_variable changed;
};

enum class StopReason { kNone, kCancel, kShutdown };

// The text a job reports with -1003 when it stops for this reason.
std::string StopMessage(StopReason reason);

class JobControl {
 public:
  explicit JobControl(SyncHub& hub) : hub_(hub) {}

  // The "Locked" calls expect the caller to hold hub().mutex.

  // False once the job has passed its last cancellable point.
  bool RequestCancelLocked();
  // Stops the job at its next wait, whatever it is doing.
  void RequestShutdownLocked();
  StopReason StopLocked() const { return stop_; }
  bool CancelAcceptedLocked() const { return stop_ == StopReason::kCancel; }
  // A hung job's thread never returns: it is left to run, never joined.
  bool HungLocked() const { return hung_; }

  StopReason Stop() const;
  // Marks the start of the part that cannot be cancelled; false when a stop came first.
  bool EnterUncancellable();
  // Marks the job as hung for good; false when a stop came first (the job then ends as usual).
  bool EnterHang();
  // Waits for delay (also checks for a stop when delay is 0); false when a stop was requested.
  bool Sleep(std::chrono::milliseconds delay);

  SyncHub& hub() const { return hub_; }

 private:
  SyncHub& hub_;
  StopReason stop_ = StopReason::kNone;
  bool cancellable_ = true;
  bool hung_ = false;
};

}  // namespace electron_morvane::sim
