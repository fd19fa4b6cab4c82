// The pipe's line writer over a pipe of its own making: every write is recorded with the thread
// that made it, and a write can be held in flight until the test lets it go, as a write to a
// host that is slow to read is.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <ostream>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "transport/line_writer.h"

namespace electron_morvane {
namespace {

using namespace std::chrono_literals;

constexpr auto kLongEnough = 10s;  // for what must happen; a hang shows as a failure, not a stall

struct RecordedWrite {
  std::string bytes;
  std::thread::id thread;
};

class RecordingPipe {
 public:
  LineWriter::WriteAll Writer() {
    return [this](const char* data, std::size_t size) {
      std::unique_lock<std::mutex> lock(mutex_);
      ++started_;
      changed_.notify_all();
      changed_.wait(lock, [&] { return !held_ || interrupted_; });
      const bool failed = interrupted_ || failing_;
      interrupted_ = false;
      if (!failed) writes_.push_back({std::string(data, size), std::this_thread::get_id()});
      changed_.notify_all();
      return platform::TransferResult{!failed, failed ? kErrorBrokenPipe : kErrorSuccess,
                                      failed ? 0 : size};
    };
  }

  // Writes that start from now on stay in flight until Release (or an interrupt).
  void Hold() { Set([&] { held_ = true; }); }
  void Release() { Set([&] { held_ = false; }); }
  void FailWrites() { Set([&] { failing_ = true; }); }
  // Ends a write in flight, as a shutdown of the pipe does; a write that starts later is not
  // covered.
  void Interrupt() {
    Set([&] {
      if (started_ > writes_.size()) interrupted_ = true;
    });
  }

  // Waits until `count` writes have started.
  bool AwaitStarted(std::size_t count) {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, kLongEnough, [&] { return started_ >= count; });
  }
  bool AwaitBytes(std::size_t count) {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, kLongEnough, [&] { return BytesLocked() >= count; });
  }

  std::vector<RecordedWrite> Writes() {
    std::lock_guard<std::mutex> lock(mutex_);
    return writes_;
  }
  std::string Received() {
    std::string all;
    for (const RecordedWrite& write : Writes()) all += write.bytes;
    return all;
  }

 private:
  template <typename Change>
  void Set(Change change) {
    std::lock_guard<std::mutex> lock(mutex_);
    change();
    changed_.notify_all();
  }
  std::size_t BytesLocked() const {
    std::size_t bytes = 0;
    for (const RecordedWrite& write : writes_) bytes += write.bytes.size();
    return bytes;
  }

  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<RecordedWrite> writes_;
  std::size_t started_ = 0;
  bool held_ = false;
  bool failing_ = false;
  bool interrupted_ = false;
};

std::string NumberedLine(int thread, int sequence, std::size_t padding) {
  return "t" + std::to_string(thread) + " " + std::to_string(sequence) + " " +
         std::string(padding, 'x') + "\n";
}

// Holds the pipe and starts a write of `line`, which stays in flight until the pipe is released.
::testing::AssertionResult HoldAWriteInFlight(RecordingPipe& pipe, LineWriter& writer,
                                              const std::string& line = "in flight\n") {
  pipe.Hold();
  if (!writer.Write(line, false).ok) return ::testing::AssertionFailure() << "not queued";
  if (!pipe.AwaitStarted(1)) return ::testing::AssertionFailure() << "no write started";
  return ::testing::AssertionSuccess();
}

// Runs work on a thread of its own. Abandoned unfinished (a failed check), it calls `unblock`
// first, so the test ends instead of hanging.
class Background {
 public:
  Background(std::function<void()> work, std::function<void()> unblock)
      : unblock_(std::move(unblock)), thread_([this, work = std::move(work)] {
          work();
          std::lock_guard<std::mutex> lock(mutex_);
          done_ = true;
          finished_.notify_all();
        }) {}
  ~Background() {
    if (!FinishesWithin(0s)) unblock_();
    thread_.join();
  }
  Background(const Background&) = delete;
  Background& operator=(const Background&) = delete;

  bool FinishesWithin(std::chrono::milliseconds time) {
    std::unique_lock<std::mutex> lock(mutex_);
    return finished_.wait_for(lock, time, [&] { return done_; });
  }
  std::thread::id Id() const { return thread_.get_id(); }

 private:
  std::mutex mutex_;
  std::condition_variable finished_;
  bool done_ = false;
  std::function<void()> unblock_;
  std::thread thread_;
};

// A line written on a thread of its own, with its outcome.
class Writing {
 public:
  Writing(LineWriter& writer, RecordingPipe& pipe, std::string line, bool urgent)
      : background_([this, &writer, line, urgent] { outcome_ = writer.Write(line, urgent); },
                    [&writer, &pipe] {
                      writer.Fail();
                      pipe.Release();
                    }) {}

  bool Finishes() { return background_.FinishesWithin(kLongEnough); }
  bool StillWaiting() { return !background_.FinishesWithin(200ms); }
  // Once it has finished.
  LineWriter::Outcome Outcome() const { return outcome_; }
  std::thread::id Thread() const { return background_.Id(); }

 private:
  LineWriter::Outcome outcome_;
  Background background_;
};

// Many threads queueing lines of many sizes, some beyond the queue's bound, while the test's
// thread writes urgent lines: every line arrives once, whole, and each thread's in its order.
struct FloodCase {
  const char* name;
  std::size_t queueBound;
};

void PrintTo(const FloodCase& c, std::ostream* out) { *out << c.name; }

class Flood : public ::testing::TestWithParam<FloodCase> {};

TEST_P(Flood, EveryLineArrivesOnceWholeAndInItsThreadsOrder) {
  constexpr int kThreads = 8, kLinesEach = 3000, kUrgentLines = 300, kUrgentThread = kThreads;
  RecordingPipe pipe;
  std::vector<std::thread> threads;
  {
    LineWriter writer(pipe.Writer(), GetParam().queueBound);
    for (int t = 0; t < kThreads; ++t) {
      threads.emplace_back([&writer, t] {
        for (int i = 0; i < kLinesEach; ++i) {
          const std::size_t padding = i % 97 == 0 ? 3000 : static_cast<std::size_t>(i % 40);
          EXPECT_TRUE(writer.Write(NumberedLine(t, i, padding), false).ok);
        }
      });
    }
    for (int i = 0; i < kUrgentLines; ++i) {
      EXPECT_TRUE(writer.Write(NumberedLine(kUrgentThread, i, 5), true).ok);
    }
    for (std::thread& thread : threads) thread.join();
  }  // Stop writes what is still queued

  const std::string received = pipe.Received();
  std::map<int, int> next;
  std::size_t start = 0;
  for (std::size_t feed; (feed = received.find('\n', start)) != std::string::npos;
       start = feed + 1) {
    int thread = -1, sequence = -1;
    ASSERT_EQ(std::sscanf(received.c_str() + start, "t%d %d", &thread, &sequence), 2)
        << received.substr(start, 80);
    ASSERT_EQ(sequence, next[thread]) << "thread " << thread;
    ++next[thread];
  }
  EXPECT_EQ(start, received.size()) << "a broken line at the end";
  for (int t = 0; t < kThreads; ++t) EXPECT_EQ(next[t], kLinesEach) << "thread " << t;
  EXPECT_EQ(next[kUrgentThread], kUrgentLines);
}

INSTANTIATE_TEST_SUITE_P(LineWriter, Flood,
                         ::testing::Values(FloodCase{"EveryLineAlone", 1},
                                           FloodCase{"DefaultBound", LineWriter::kQueueBound},
                                           FloodCase{"LargeBound", 1 << 20}),
                         [](const auto& info) { return std::string(info.param.name); });

// While the writer thread's write is held, a queueing thread gets only as far as the bound.
TEST(LineWriter, QueueingWaitsWhileTheQueueIsFull) {
  constexpr std::size_t kBound = 1000;
  const std::string line(99, 'q');  // 100 bytes with its line feed
  RecordingPipe pipe;
  LineWriter writer(pipe.Writer(), kBound);
  ASSERT_TRUE(HoldAWriteInFlight(pipe, writer));

  std::vector<std::unique_ptr<Writing>> lines;
  for (int i = 0; i < 10; ++i) {
    lines.push_back(std::make_unique<Writing>(writer, pipe, line + "\n", false));
    ASSERT_TRUE(lines.back()->Finishes()) << "line " << i << " fits in the queue";
  }
  Writing beyond(writer, pipe, line + "\n", false);
  EXPECT_TRUE(beyond.StillWaiting()) << "a line beyond the bound was taken";

  pipe.Release();
  ASSERT_TRUE(beyond.Finishes());
  EXPECT_TRUE(beyond.Outcome().ok);
  EXPECT_TRUE(pipe.AwaitBytes(10 + 11 * 100));
}

// An urgent line waits only for the write in flight: the next write is its own, made by its own
// thread, carrying the lines queued before it and not those queued after.
TEST(LineWriter, AnUrgentLineIsTheNextWriteAfterTheOneInFlight) {
  RecordingPipe pipe;
  LineWriter writer(pipe.Writer());
  ASSERT_TRUE(HoldAWriteInFlight(pipe, writer));
  ASSERT_TRUE(writer.Write("queued before\n", false).ok);

  Writing urgent(writer, pipe, "reply\n", true);
  ASSERT_TRUE(urgent.StillWaiting());  // the reply is queued and waits for its turn
  ASSERT_TRUE(writer.Write("queued after\n", false).ok);
  pipe.Release();
  ASSERT_TRUE(urgent.Finishes());
  EXPECT_TRUE(urgent.Outcome().ok);
  ASSERT_TRUE(pipe.AwaitBytes(std::string("in flight\nqueued before\nreply\nqueued after\n").size()));

  const std::vector<RecordedWrite> writes = pipe.Writes();
  ASSERT_GE(writes.size(), 3u);
  EXPECT_EQ(writes[0].bytes, "in flight\n");
  EXPECT_EQ(writes[1].bytes, "queued before\nreply\n");
  EXPECT_EQ(writes[1].thread, urgent.Thread()) << "the reply's write is not its own";
  EXPECT_EQ(pipe.Received(), "in flight\nqueued before\nreply\nqueued after\n");
}

// Threads waiting for room while an urgent line takes the whole queue get it: the writer thread
// wakes them although it has nothing left to write.
TEST(LineWriter, RoomThatAnUrgentLineMakesReachesTheWaitingThreads) {
  constexpr std::size_t kBound = 100;
  const std::string full(kBound - 1, 'f');
  RecordingPipe pipe;
  LineWriter writer(pipe.Writer(), kBound);
  ASSERT_TRUE(HoldAWriteInFlight(pipe, writer));
  ASSERT_TRUE(writer.Write(full + "\n", false).ok);
  Writing waiting(writer, pipe, "waiting\n", false);
  ASSERT_TRUE(waiting.StillWaiting());
  Writing urgent(writer, pipe, "reply\n", true);
  ASSERT_TRUE(urgent.StillWaiting());
  pipe.Release();

  ASSERT_TRUE(urgent.Finishes());
  ASSERT_TRUE(waiting.Finishes()) << "the thread waiting for room was never woken";
  EXPECT_TRUE(waiting.Outcome().ok);
  ASSERT_TRUE(pipe.AwaitBytes(std::string("in flight\n").size() + kBound + 14));
  EXPECT_EQ(pipe.Received(), "in flight\n" + full + "\nreply\nwaiting\n");
}

TEST(LineWriter, TheUrgentWriterLearnsHowItsWriteEnded) {
  RecordingPipe pipe;
  LineWriter writer(pipe.Writer());
  EXPECT_TRUE(writer.Write("fine\n", true).ok);
  pipe.FailWrites();
  const LineWriter::Outcome failed = writer.Write("lost\n", true);
  EXPECT_FALSE(failed.ok);
  EXPECT_EQ(failed.error, kErrorBrokenPipe);
  EXPECT_EQ(pipe.Received(), "fine\n");
}

// Fail releases every waiting writer at once and drops what is queued; nothing is written after.
TEST(LineWriter, FailReleasesWaitingWritersAndDropsTheQueue) {
  constexpr std::size_t kBound = 100;
  RecordingPipe pipe;
  LineWriter writer(pipe.Writer(), kBound);
  ASSERT_TRUE(HoldAWriteInFlight(pipe, writer));
  ASSERT_TRUE(writer.Write(std::string(kBound - 1, 'f') + "\n", false).ok);
  Writing waitingForRoom(writer, pipe, "room\n", false);
  Writing waitingForTurn(writer, pipe, "reply\n", true);
  ASSERT_TRUE(waitingForRoom.StillWaiting());
  ASSERT_TRUE(waitingForTurn.StillWaiting());

  writer.Fail();
  for (Writing* waiting : {&waitingForRoom, &waitingForTurn}) {
    ASSERT_TRUE(waiting->Finishes());
    const LineWriter::Outcome outcome = waiting->Outcome();
    EXPECT_FALSE(outcome.ok);
    EXPECT_EQ(outcome.error, kErrorBrokenPipe);
  }
  EXPECT_FALSE(writer.Write("later\n", false).ok);
  EXPECT_FALSE(writer.Write("later\n", true).ok);
  pipe.Release();
  writer.Stop([] {});
  EXPECT_EQ(pipe.Received(), "in flight\n");
}

TEST(LineWriter, StopWritesWhatIsQueuedFirst) {
  RecordingPipe pipe;
  LineWriter writer(pipe.Writer());
  pipe.Hold();
  for (int i = 0; i < 100; ++i) ASSERT_TRUE(writer.Write(NumberedLine(0, i, 0), false).ok);
  std::thread release([&] {
    std::this_thread::sleep_for(100ms);
    pipe.Release();
  });
  writer.Stop([] {});
  release.join();
  std::string expected;
  for (int i = 0; i < 100; ++i) expected += NumberedLine(0, i, 0);
  EXPECT_EQ(pipe.Received(), expected);
}

// After Fail, a write to a host that stopped reading is ended by interrupting it; one that starts
// only after an interrupt is ended by the next, so Stop returns all the same.
TEST(LineWriter, StopInterruptsAWriteInFlightUntilTheWriterThreadLeaves) {
  RecordingPipe pipe;
  LineWriter writer(pipe.Writer());
  ASSERT_TRUE(HoldAWriteInFlight(pipe, writer, "stuck\n"));
  writer.Fail();
  int interrupts = 0;
  Background stopping(
      [&] {
        writer.Stop([&] {
          // The first interrupt comes too early, before the write it should end has started.
          if (++interrupts > 1) pipe.Interrupt();
        });
      },
      [&] { pipe.Release(); });
  ASSERT_TRUE(stopping.FinishesWithin(kLongEnough)) << "Stop hangs";
  EXPECT_GE(interrupts, 2);
  EXPECT_EQ(pipe.Received(), "");
}

}  // namespace
}  // namespace electron_morvane
