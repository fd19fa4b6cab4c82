// The pipe's write lock lets an urgent writer (the thread that reads the pipe, writing a reply)
// pass writers that keep taking the lock, as library threads logging nonstop do.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <ostream>
#include <thread>
#include <vector>

#include "transport/reply_first_lock.h"

namespace electron_morvane {
namespace {

using Clock = std::chrono::steady_clock;

void BusyFor(std::chrono::microseconds time) {
  const auto until = Clock::now() + time;
  while (Clock::now() < until) {
  }
}

// How the other writers hold the lock: asleep, as while a write blocks (they queue for the lock
// asleep, in order); or busy, taking it again the moment they let it go.
enum class Holding { kAsleep, kBusy };

void PrintTo(Holding holding, std::ostream* out) {
  *out << (holding == Holding::kAsleep ? "asleep" : "busy");
}

class NonstopWriters {
 public:
  NonstopWriters(ReplyFirstLock& lock, int count, Holding holding) {
    for (int i = 0; i < count; ++i) {
      threads.emplace_back([this, &lock, holding] {
        while (!stop.load()) {
          lock.Lock(false);
          acquired.fetch_add(1);
          if (holding == Holding::kAsleep) {
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
          } else {
            BusyFor(std::chrono::microseconds(20));
          }
          lock.Unlock(false);
        }
      });
    }
  }
  ~NonstopWriters() {
    stop.store(true);
    for (std::thread& thread : threads) thread.join();
  }

  std::atomic<long> acquired{0};

 private:
  std::atomic<bool> stop{false};
  std::vector<std::thread> threads;
};

class UrgentWriter : public testing::TestWithParam<Holding> {};

// How many times the others took the lock while the urgent writer waited for it. Without the
// urgent writer's priority it queues behind every writer already waiting, or loses again and
// again to those that take the lock back at once.
TEST_P(UrgentWriter, PassesWritersThatKeepTakingTheLock) {
  // Without trying for the lock first, so what is tested is the order of the queue itself, which
  // a busy machine (sanitizers, parallel tests) cannot upset.
  ReplyFirstLock lock(std::chrono::microseconds(0));
  NonstopWriters writers(lock, 8, GetParam());
  while (writers.acquired.load() < 100) std::this_thread::yield();

  std::vector<long> passedBy;
  for (int trial = 0; trial < 40; ++trial) {
    const long before = writers.acquired.load();
    lock.Lock(true);
    passedBy.push_back(writers.acquired.load() - before);
    lock.Unlock(true);
    BusyFor(std::chrono::microseconds(200));
  }
  std::sort(passedBy.begin(), passedBy.end());
  EXPECT_LE(passedBy[passedBy.size() * 9 / 10], 2)
      << "90th percentile; the most was " << passedBy.back();
}

INSTANTIATE_TEST_SUITE_P(ReplyFirstLock, UrgentWriter,
                         testing::Values(Holding::kAsleep, Holding::kBusy),
                         [](const testing::TestParamInfo<Holding>& info) {
                           return info.param == Holding::kAsleep ? "OthersHoldAsleep"
                                                                 : "OthersHoldBusy";
                         });

TEST(ReplyFirstLock, HoldersExcludeEachOther) {
  ReplyFirstLock lock;
  long count = 0;  // guarded by the lock alone
  constexpr int kRounds = 20000;
  const auto add = [&](bool urgent) {
    for (int i = 0; i < kRounds; ++i) {
      lock.Lock(urgent);
      count = count + 1;
      lock.Unlock(urgent);
    }
  };
  std::vector<std::thread> threads;
  threads.emplace_back(add, true);
  for (int i = 0; i < 3; ++i) threads.emplace_back(add, false);
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(count, 4L * kRounds);
}

}  // namespace
}  // namespace electron_morvane
