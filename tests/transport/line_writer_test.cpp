// The pipe's line writer over a pipe of its own making: every write is recorded with the thread
// that made it, and a write can be held in flight until the test lets it go, as a write to a
// host that is slow to read is. Every step that could block has a deadline (bounded_step.h): a
// broken guarantee fails its test by name instead of hanging the runner.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

#include "bounded_step.h"
#include "transport/line_writer.h"

namespace electron_morvane {
namespace {

using testing::BoundedStep;
using testing::kStepDeadline;

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
      mostAtOnce_ = std::max(mostAtOnce_, ++inFlight_);
      changed_.notify_all();
      changed_.wait(lock, [&] { return !held_ || interrupted_; });
      const SystemError error = interrupted_ ? kErrorBrokenPipe : failure_;
      interrupted_ = false;
      if (error == kErrorSuccess) {
        writes_.push_back({std::string(data, size), std::this_thread::get_id()});
      }
      --inFlight_;
      ++ended_;
      changed_.notify_all();
      return platform::TransferResult{error == kErrorSuccess, error,
                                      error == kErrorSuccess ? size : 0};
    };
  }

  // Writes that start from now on stay in flight until Release (or an interrupt).
  void Hold() { Set([&] { held_ = true; }); }
  void Release() { Set([&] { held_ = false; }); }
  // Writes from now on fail with `error`, one the writer never makes up itself.
  void FailWrites(SystemError error) { Set([&] { failure_ = error; }); }
  // Ends a write in flight, as a shutdown of the pipe does; a write that starts later is not
  // covered.
  void Interrupt() {
    Set([&] {
      if (inFlight_ > 0) interrupted_ = true;
    });
  }

  ::testing::AssertionResult AwaitStarted(std::size_t count) {
    return Await([&] { return started_ >= count; }, "write " + std::to_string(count) + " starts");
  }
  ::testing::AssertionResult AwaitEnded(std::size_t count) {
    return Await([&] { return ended_ >= count; }, "write " + std::to_string(count) + " ends");
  }
  ::testing::AssertionResult AwaitBytes(std::size_t count) {
    return Await([&] { return BytesLocked() >= count; },
                 std::to_string(count) + " bytes arrive");
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
  std::size_t Bytes() {
    std::lock_guard<std::mutex> lock(mutex_);
    return BytesLocked();
  }
  // The most writes in flight at the same time: one, unless two threads wrote at once.
  std::size_t MostAtOnce() {
    std::lock_guard<std::mutex> lock(mutex_);
    return mostAtOnce_;
  }

 private:
  template <typename Change>
  void Set(Change change) {
    std::lock_guard<std::mutex> lock(mutex_);
    change();
    changed_.notify_all();
  }
  template <typename Condition>
  ::testing::AssertionResult Await(Condition condition, const std::string& what) {
    std::unique_lock<std::mutex> lock(mutex_);
    if (changed_.wait_for(lock, kStepDeadline, condition)) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure()
           << what << ": not within " << kStepDeadline.count() << " s (" << started_
           << " started, " << ended_ << " ended, " << BytesLocked() << " bytes written)";
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
  std::size_t ended_ = 0;
  std::size_t inFlight_ = 0;
  std::size_t mostAtOnce_ = 0;
  bool held_ = false;
  SystemError failure_ = kErrorSuccess;
  bool interrupted_ = false;
};

// The writer under test over its recording pipe. Unblock ends every wait of the writer's, and
// the end of a test lets a held write go and stops the writer with a deadline: a test that fails
// half-way leaves nothing blocked.
class WriterUnderTest {
 public:
  explicit WriterUnderTest(std::size_t queueBound = LineWriter::kQueueBound)
      : writer(pipe.Writer(), queueBound) {}
  ~WriterUnderTest() {
    pipe.Release();
    if (!stopping_) {
      EXPECT_TRUE(Stops());
    }
  }
  WriterUnderTest(const WriterUnderTest&) = delete;
  WriterUnderTest& operator=(const WriterUnderTest&) = delete;

  void Unblock() {
    writer.Fail();
    pipe.Release();
  }
  std::unique_ptr<BoundedStep> Run(std::function<void()> work) {
    return std::make_unique<BoundedStep>(std::move(work), [this] { Unblock(); });
  }
  // Stop on a step of its own, with the pipe's interrupt as the writer's unless told another.
  std::unique_ptr<BoundedStep> Stopping(std::function<void()> interrupt = nullptr) {
    stopping_ = true;
    if (!interrupt) interrupt = [this] { pipe.Interrupt(); };
    return Run([this, interrupt] { writer.Stop(interrupt); });
  }
  ::testing::AssertionResult Stops(std::function<void()> interrupt = nullptr) {
    return Stopping(std::move(interrupt))->Finishes("the writer stops");
  }

  // Holds the pipe and starts a write of `line`, which stays in flight until the pipe is
  // released.
  ::testing::AssertionResult HoldAWriteInFlight(const std::string& line = "in flight\n") {
    pipe.Hold();
    if (!writer.Write(line, false).ok) return ::testing::AssertionFailure() << "not queued";
    return pipe.AwaitStarted(1);
  }

  RecordingPipe pipe;
  LineWriter writer;

 private:
  bool stopping_ = false;
};

std::string NumberedLine(int thread, int sequence, std::size_t padding) {
  return "t" + std::to_string(thread) + " " + std::to_string(sequence) + " " +
         std::string(padding, 'x') + "\n";
}

// A line written on a thread of its own, with its outcome.
class Writing {
 public:
  Writing(WriterUnderTest& tested, std::string line, bool urgent)
      : step_([this, &tested, line, urgent] { outcome_ = tested.writer.Write(line, urgent); },
              [&tested] { tested.Unblock(); }),
        line_(std::move(line)) {}

  ::testing::AssertionResult Finishes() { return step_.Finishes("the Write of " + Quoted()); }
  ::testing::AssertionResult StillWaiting() {
    if (step_.StillWaiting()) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "the Write of " << Quoted() << " did not wait";
  }
  // Once it has finished.
  LineWriter::Outcome Outcome() const { return outcome_; }
  std::thread::id Thread() const { return step_.Thread(); }

 private:
  std::string Quoted() const { return "\"" + line_.substr(0, line_.size() - 1) + "\""; }

  LineWriter::Outcome outcome_;
  BoundedStep step_;
  std::string line_;
};

// Many threads queueing lines of many sizes, some beyond the queue's bound, while one more
// writes urgent lines: every line arrives once, whole, and each thread's in its order, and no
// two writes are ever in flight at once.
struct FloodCase {
  const char* name;
  std::size_t queueBound;
};

void PrintTo(const FloodCase& c, std::ostream* out) { *out << c.name; }

class Flood : public ::testing::TestWithParam<FloodCase> {};

TEST_P(Flood, EveryLineArrivesOnceWholeAndInItsThreadsOrder) {
  constexpr int kThreads = 8, kLinesEach = 3000, kUrgentLines = 300, kUrgentThread = kThreads;
  WriterUnderTest tested(GetParam().queueBound);
  std::vector<std::unique_ptr<BoundedStep>> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.push_back(tested.Run([&tested, t] {
      for (int i = 0; i < kLinesEach; ++i) {
        const std::size_t padding = i % 97 == 0 ? 3000 : static_cast<std::size_t>(i % 40);
        EXPECT_TRUE(tested.writer.Write(NumberedLine(t, i, padding), false).ok);
      }
    }));
  }
  threads.push_back(tested.Run([&tested] {
    for (int i = 0; i < kUrgentLines; ++i) {
      EXPECT_TRUE(tested.writer.Write(NumberedLine(kUrgentThread, i, 5), true).ok);
    }
  }));
  for (std::size_t t = 0; t < threads.size(); ++t) {
    ASSERT_TRUE(threads[t]->FinishesWhileMoving("thread " + std::to_string(t) + "'s lines",
                                                [&] { return tested.pipe.Bytes(); }));
  }
  ASSERT_TRUE(tested.Stops());  // Stop writes what is still queued

  EXPECT_EQ(tested.pipe.MostAtOnce(), 1u) << "two writes were in flight at once";
  const std::string received = tested.pipe.Received();
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
  WriterUnderTest tested(kBound);
  ASSERT_TRUE(tested.HoldAWriteInFlight());

  std::vector<std::unique_ptr<Writing>> lines;
  for (int i = 0; i < 10; ++i) {
    lines.push_back(std::make_unique<Writing>(tested, line + "\n", false));
    ASSERT_TRUE(lines.back()->Finishes()) << "line " << i << " fits in the queue";
  }
  Writing beyond(tested, line + "\n", false);
  EXPECT_TRUE(beyond.StillWaiting()) << "a line beyond the bound was taken";

  tested.pipe.Release();
  ASSERT_TRUE(beyond.Finishes());
  EXPECT_TRUE(beyond.Outcome().ok);
  EXPECT_TRUE(tested.pipe.AwaitBytes(10 + 11 * 100));
}

// An urgent line waits only for the write in flight: the next write is its own, made by its own
// thread, carrying the lines queued before it. Not the line queued after it, nor those of the
// threads that were already waiting for room in the full queue: it does not queue behind them.
TEST(LineWriter, AnUrgentLineIsTheNextWriteAfterTheOneInFlight) {
  constexpr std::size_t kBound = 100;
  WriterUnderTest tested(kBound);
  ASSERT_TRUE(tested.HoldAWriteInFlight());
  // Other threads fill the queue with 80 bytes; 30 more do not fit, 6 do.
  std::string queuedBefore;
  std::vector<std::unique_ptr<Writing>> writings;
  for (int t = 0; t < 8; ++t) {
    queuedBefore += NumberedLine(t, 0, 4);
    writings.push_back(std::make_unique<Writing>(tested, NumberedLine(t, 0, 4), false));
    ASSERT_TRUE(writings.back()->Finishes());
  }
  std::vector<std::string> later;
  for (int t = 8; t < 10; ++t) {
    later.push_back(NumberedLine(t, 0, 24));
    writings.push_back(std::make_unique<Writing>(tested, later.back(), false));
    ASSERT_TRUE(writings.back()->StillWaiting()) << "a line beyond the bound was taken";
  }

  Writing reply(tested, "reply\n", true);
  ASSERT_TRUE(reply.StillWaiting()) << "the reply did not wait for the write in flight";
  later.push_back("after\n");
  writings.push_back(std::make_unique<Writing>(tested, later.back(), false));
  ASSERT_TRUE(writings.back()->Finishes()) << "a line that fits after the reply";
  tested.pipe.Release();

  ASSERT_TRUE(reply.Finishes());
  EXPECT_TRUE(reply.Outcome().ok);
  for (const std::unique_ptr<Writing>& writing : writings) ASSERT_TRUE(writing->Finishes());
  const std::string first = "in flight\n", second = queuedBefore + "reply\n";
  std::size_t total = first.size() + second.size();
  for (const std::string& line : later) total += line.size();
  ASSERT_TRUE(tested.pipe.AwaitBytes(total));

  const std::vector<RecordedWrite> writes = tested.pipe.Writes();
  ASSERT_GE(writes.size(), 3u);
  EXPECT_EQ(writes[0].bytes, first);
  EXPECT_EQ(writes[1].bytes, second);
  EXPECT_EQ(writes[1].thread, reply.Thread()) << "the reply's write is not its own";
  EXPECT_EQ(tested.pipe.MostAtOnce(), 1u) << "the reply was written beside the write in flight";
  // The later lines follow, each thread's whole, in an order of their threads' making.
  std::vector<std::string> rest;
  for (std::size_t i = 2; i < writes.size(); ++i) {
    const std::string& bytes = writes[i].bytes;
    for (std::size_t start = 0, feed; (feed = bytes.find('\n', start)) != std::string::npos;
         start = feed + 1) {
      rest.push_back(bytes.substr(start, feed + 1 - start));
    }
  }
  std::sort(rest.begin(), rest.end());
  std::sort(later.begin(), later.end());
  EXPECT_EQ(rest, later);
}

// Threads waiting for room while an urgent line takes the whole queue get it: the writer thread
// wakes them although it has nothing left to write.
TEST(LineWriter, RoomThatAnUrgentLineMakesReachesTheWaitingThreads) {
  constexpr std::size_t kBound = 100;
  const std::string full(kBound - 1, 'f');
  WriterUnderTest tested(kBound);
  ASSERT_TRUE(tested.HoldAWriteInFlight());
  ASSERT_TRUE(tested.writer.Write(full + "\n", false).ok);
  Writing waiting(tested, "waiting\n", false);
  ASSERT_TRUE(waiting.StillWaiting());
  Writing urgent(tested, "reply\n", true);
  ASSERT_TRUE(urgent.StillWaiting());
  tested.pipe.Release();

  ASSERT_TRUE(urgent.Finishes());
  ASSERT_TRUE(waiting.Finishes()) << "the thread waiting for room was never woken";
  EXPECT_TRUE(waiting.Outcome().ok);
  ASSERT_TRUE(tested.pipe.AwaitBytes(std::string("in flight\n").size() + kBound + 14));
  EXPECT_EQ(tested.pipe.Received(), "in flight\n" + full + "\nreply\nwaiting\n");
}

// An urgent Write returns how its own write ended, the pipe's error included; a queued line's
// Write returns once the line is taken, whatever its write does later.
struct OutcomeCase {
  const char* name;
  bool urgent;
  SystemError writeError;
  LineWriter::Outcome expected;
};

void PrintTo(const OutcomeCase& c, std::ostream* out) { *out << c.name; }

class WriteOutcome : public ::testing::TestWithParam<OutcomeCase> {};

TEST_P(WriteOutcome, UrgentTellsHowItsWriteEndedQueuedThatItWasTaken) {
  const OutcomeCase& c = GetParam();
  WriterUnderTest tested;
  tested.pipe.FailWrites(c.writeError);
  Writing line(tested, "line\n", c.urgent);
  ASSERT_TRUE(line.Finishes());
  EXPECT_EQ(line.Outcome().ok, c.expected.ok);
  EXPECT_EQ(line.Outcome().error, c.expected.error);
  ASSERT_TRUE(tested.pipe.AwaitEnded(1));
  EXPECT_EQ(tested.pipe.Received(), c.writeError == kErrorSuccess ? "line\n" : "");
}

INSTANTIATE_TEST_SUITE_P(
    LineWriter, WriteOutcome,
    ::testing::Values(OutcomeCase{"UrgentWritten", true, kErrorSuccess, {true, kErrorSuccess}},
                      OutcomeCase{"UrgentFailed", true, kErrorDiskFull, {false, kErrorDiskFull}},
                      OutcomeCase{"QueuedWritten", false, kErrorSuccess, {true, kErrorSuccess}},
                      OutcomeCase{"QueuedFailed", false, kErrorDiskFull, {true, kErrorSuccess}}),
    [](const auto& info) { return std::string(info.param.name); });

// Fail releases every waiting writer at once and drops what is queued; nothing is written after,
// and every later Write fails at once.
TEST(LineWriter, FailReleasesWaitingWritersAndDropsTheQueue) {
  constexpr std::size_t kBound = 100;
  WriterUnderTest tested(kBound);
  ASSERT_TRUE(tested.HoldAWriteInFlight());
  ASSERT_TRUE(tested.writer.Write(std::string(kBound - 1, 'f') + "\n", false).ok);
  Writing waitingForRoom(tested, "room\n", false);
  Writing waitingForTurn(tested, "reply\n", true);
  ASSERT_TRUE(waitingForRoom.StillWaiting());
  ASSERT_TRUE(waitingForTurn.StillWaiting());

  tested.writer.Fail();
  Writing laterQueued(tested, "later\n", false);
  Writing laterUrgent(tested, "later\n", true);
  for (Writing* writing : {&waitingForRoom, &waitingForTurn, &laterQueued, &laterUrgent}) {
    ASSERT_TRUE(writing->Finishes());
    const LineWriter::Outcome outcome = writing->Outcome();
    EXPECT_FALSE(outcome.ok);
    EXPECT_EQ(outcome.error, kErrorBrokenPipe);
  }
  tested.pipe.Release();
  ASSERT_TRUE(tested.pipe.AwaitEnded(1));
  ASSERT_TRUE(tested.Stops());
  EXPECT_EQ(tested.pipe.Received(), "in flight\n");
}

// Stop waits for the write in flight, then writes what was queued behind it before it ends.
TEST(LineWriter, StopWritesWhatIsQueuedFirst) {
  WriterUnderTest tested;
  ASSERT_TRUE(tested.HoldAWriteInFlight(NumberedLine(0, 0, 0)));
  std::string expected = NumberedLine(0, 0, 0);
  for (int i = 1; i < 100; ++i) {
    ASSERT_TRUE(tested.writer.Write(NumberedLine(0, i, 0), false).ok);
    expected += NumberedLine(0, i, 0);
  }
  const std::unique_ptr<BoundedStep> stopping = tested.Stopping();
  ASSERT_TRUE(stopping->StillWaiting()) << "Stop did not wait for the write in flight";
  tested.pipe.Release();
  ASSERT_TRUE(stopping->Finishes("the writer stops"));
  EXPECT_EQ(tested.pipe.Received(), expected);
}

// A Stop waiting for the write in flight is woken by a Fail from another thread (the exit's
// shutdown), and then interrupts that write instead of waiting for it to end by itself.
TEST(LineWriter, FailWakesAStopWaitingBehindAWriteInFlight) {
  WriterUnderTest tested;
  ASSERT_TRUE(tested.HoldAWriteInFlight("stuck\n"));
  ASSERT_TRUE(tested.writer.Write("queued\n", false).ok);
  const std::unique_ptr<BoundedStep> stopping = tested.Stopping();
  ASSERT_TRUE(stopping->StillWaiting()) << "Stop did not wait for the write in flight";
  tested.writer.Fail();
  ASSERT_TRUE(stopping->Finishes("the writer stops once it has failed"));
  EXPECT_EQ(tested.pipe.Received(), "");
}

// After Fail, a write to a host that stopped reading is ended by interrupting it; one that starts
// only after an interrupt is ended by the next, so Stop returns all the same.
TEST(LineWriter, StopInterruptsAWriteInFlightUntilTheWriterThreadLeaves) {
  WriterUnderTest tested;
  ASSERT_TRUE(tested.HoldAWriteInFlight("stuck\n"));
  tested.writer.Fail();
  int interrupts = 0;
  ASSERT_TRUE(tested.Stops([&] {
    // The first interrupt comes too early, before the write it should end has started.
    if (++interrupts > 1) tested.pipe.Interrupt();
  }));
  EXPECT_GE(interrupts, 2);
  EXPECT_EQ(tested.pipe.Received(), "");
}

}  // namespace
}  // namespace electron_morvane
