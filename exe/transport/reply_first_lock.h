// The write lock of the pipe. An urgent writer goes before every other writer that waits: the
// others wait at a gate while it is there, and one that gets the lock while an urgent writer
// waits lets go at once and goes back to the gate. Only the line being written when the urgent
// writer comes is written before it. So a reply the host is waiting for passes a flood of log
// lines. Everything here is a mutex: releasing one never blocks, unlike signalling a condition
// variable that many threads wait on.
#pragma once

#include <atomic>
#include <chrono>
#include <mutex>

namespace electron_morvane {

class ReplyFirstLock {
 public:
  // How long an urgent writer keeps trying for the lock before it sleeps in the queue: long
  // enough to outlast a line being written, so that it takes the lock without a wake-up, short
  // enough not to spin long on a host that has stopped reading. It does not yield while it tries:
  // a yielding thread goes to the back of the run queue, behind every busy library thread.
  static constexpr std::chrono::microseconds kUrgentSpin{1000};

  explicit ReplyFirstLock(std::chrono::microseconds urgentSpin = kUrgentSpin)
      : urgentSpin(urgentSpin) {}

  void Lock(bool urgent);
  void Unlock(bool urgent);

 private:
  const std::chrono::microseconds urgentSpin;
  std::mutex lock;
  // Held by an urgent writer from its arrival until it has written; the others pass it only
  // while an urgent writer is there.
  std::mutex gate;
  std::atomic<int> urgentThere{0};
};

// Holds a ReplyFirstLock for a scope.
class ReplyFirstGuard {
 public:
  ReplyFirstGuard(ReplyFirstLock& lock, bool urgent) : lock(lock), urgent(urgent) {
    lock.Lock(urgent);
  }
  ~ReplyFirstGuard() { lock.Unlock(urgent); }
  ReplyFirstGuard(const ReplyFirstGuard&) = delete;
  ReplyFirstGuard& operator=(const ReplyFirstGuard&) = delete;

 private:
  ReplyFirstLock& lock;
  bool urgent;
};

}  // namespace electron_morvane
