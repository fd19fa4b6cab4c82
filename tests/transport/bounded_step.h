// A step of a test that could block (a thread's write, a stop, a read of what the client wrote),
// run on a thread of its own so that the test waits for it with a deadline and fails naming what
// did not happen, instead of hanging the runner. A step given up on (past its deadline, or still
// running when it goes out of scope after a failed check) is first unblocked by the function it
// came with: the writer fails, a held write is let go, the pipe is shut down.
//
// Plain std::thread and a condition variable: clang for mingw links no std::future.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <utility>

namespace electron_morvane::testing {

// For what must happen: ample on a loaded machine, short beside the runner's own timeout.
constexpr std::chrono::seconds kStepDeadline{5};

class BoundedStep {
 public:
  BoundedStep(std::function<void()> work, std::function<void()> unblock)
      : unblock_(std::move(unblock)), thread_([this, work = std::move(work)] {
          work();
          std::lock_guard<std::mutex> lock(mutex_);
          done_ = true;
          ended_.notify_all();
        }) {}

  ~BoundedStep() {
    if (!EndsWithin(std::chrono::milliseconds(0))) {
      unblock_();
      if (!EndsWithin(kStepDeadline)) {
        // The objects the step uses are about to go: stopping here beats a crash or a hang.
        const ::testing::TestInfo* test = ::testing::UnitTest::GetInstance()->current_test_info();
        std::fprintf(stderr, "%s.%s: a step is still blocked after it was unblocked\n",
                     test ? test->test_suite_name() : "?", test ? test->name() : "?");
        std::abort();
      }
    }
    thread_.join();
  }
  BoundedStep(const BoundedStep&) = delete;
  BoundedStep& operator=(const BoundedStep&) = delete;

  ::testing::AssertionResult Finishes(const std::string& what) {
    if (EndsWithin(kStepDeadline)) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure()
           << what << ": not done within " << kStepDeadline.count() << " s";
  }

  // For a long step that keeps something moving: it fails only when `progress` stands still for
  // a whole deadline.
  template <typename Progress>
  ::testing::AssertionResult FinishesWhileMoving(const std::string& what, Progress progress) {
    for (auto before = progress(); !EndsWithin(kStepDeadline);) {
      const auto now = progress();
      if (now == before) {
        return ::testing::AssertionFailure()
               << what << ": stalled, nothing moved for " << kStepDeadline.count() << " s";
      }
      before = now;
    }
    return ::testing::AssertionSuccess();
  }

  // Still running a moment after it started: it waits for something that no state shows.
  bool StillWaiting() { return !EndsWithin(std::chrono::milliseconds(200)); }

  std::thread::id Thread() const { return thread_.get_id(); }

 private:
  bool EndsWithin(std::chrono::milliseconds time) {
    std::unique_lock<std::mutex> lock(mutex_);
    return ended_.wait_for(lock, time, [&] { return done_; });
  }

  std::mutex mutex_;
  std::condition_variable ended_;
  bool done_ = false;
  std::function<void()> unblock_;
  std::thread thread_;
};

// Runs a step and waits for it; a step that does not finish is unblocked and named.
inline ::testing::AssertionResult FinishesInTime(const std::string& what,
                                                 std::function<void()> work,
                                                 std::function<void()> unblock) {
  BoundedStep step(std::move(work), std::move(unblock));
  return step.Finishes(what);
}

}  // namespace electron_morvane::testing
