// The line reader over a scripted byte source: what each peek and read of the platform does, so
// partial reads, reads that move nothing and failures can be set up exactly, on both platforms.
#include "transport/line_reader.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <deque>
#include <ostream>
#include <string>
#include <vector>

namespace electron_morvane {
namespace {

using platform::StepResult;

// A pipe whose bytes arrive in the given pieces: the next piece arrives when a read finds
// nothing waiting (as a blocking read would wait for it). Reads take at most readLimit bytes,
// and the n-th read (counted from 1) may be scripted to move nothing or to fail.
class ScriptedSource final : public ByteSource {
 public:
  explicit ScriptedSource(std::deque<std::string> pieces) : pieces_(std::move(pieces)) {}

  StepResult Peek(char* buffer, std::size_t size) override {
    ++peeks;
    const std::size_t count = std::min(size, waiting_.size());
    std::copy_n(waiting_.begin(), count, buffer);
    return StepResult{true, kErrorSuccess, count};
  }

  StepResult Read(char* buffer, std::size_t size) override {
    ++reads;
    // Never more than a few thousand reads in these cases: a reader that repeats a read that
    // moves nothing would spin for ever.
    if (reads > 100000) return StepResult{false, 99999, 0};
    if (reads == zeroByteRead) return StepResult{true, kErrorSuccess, 0};
    if (reads == failingRead) return StepResult{false, kErrorGenFailure, 0};
    if (waiting_.empty()) {
      if (pieces_.empty()) return StepResult{true, kErrorSuccess, 0};  // the host hung up
      waiting_ += pieces_.front();
      pieces_.pop_front();
    }
    const std::size_t count = std::min({size, waiting_.size(), readLimit});
    std::copy_n(waiting_.begin(), count, buffer);
    waiting_.erase(0, count);
    return StepResult{true, kErrorSuccess, count};
  }

  // The first piece is waiting from the start.
  void ArriveFirst() {
    waiting_ += pieces_.front();
    pieces_.pop_front();
  }
  const std::string& Waiting() const { return waiting_; }

  std::size_t readLimit = static_cast<std::size_t>(-1);
  int zeroByteRead = 0;
  int failingRead = 0;
  int peeks = 0;
  int reads = 0;

 private:
  std::deque<std::string> pieces_;
  std::string waiting_;
};

struct ReaderCase {
  std::string name;
  std::deque<std::string> pieces;  // the first is waiting at the start
  std::size_t readLimit;           // bytes a read moves at most
  int zeroByteRead;                // the read that moves nothing, 0 for none
  int failingRead;                 // the read that fails, 0 for none
  std::vector<std::string> lines;  // read in turn until one fails
  SystemError error;               // the failure that ends them
  std::string left;                // still waiting in the pipe
};

void PrintTo(const ReaderCase& c, std::ostream* out) { *out << c.name; }

class LineReaderTest : public ::testing::TestWithParam<ReaderCase> {};

TEST_P(LineReaderTest, TakesWholeLinesAndNothingBeyondThem) {
  const ReaderCase& c = GetParam();
  ScriptedSource source(c.pieces);
  source.ArriveFirst();
  source.readLimit = c.readLimit;
  source.zeroByteRead = c.zeroByteRead;
  source.failingRead = c.failingRead;
  LineReader reader;
  std::string line;
  for (const std::string& expected : c.lines) {
    const LineRead read = reader.ReadLine(source, line);
    ASSERT_EQ(read.status, LineStatus::kLine) << "expected " << expected << ", error " << read.error;
    EXPECT_EQ(line, expected);
  }
  const LineRead last = reader.ReadLine(source, line);
  EXPECT_EQ(last.status, LineStatus::kFailed);
  EXPECT_EQ(last.error, c.error);
  EXPECT_EQ(line, "") << "a failed read hands over no partial line";
  EXPECT_EQ(source.Waiting(), c.left);
}

constexpr std::size_t kAll = static_cast<std::size_t>(-1);
const std::string kLong(600 * 1024, 'x');

INSTANTIATE_TEST_SUITE_P(
    LineReader, LineReaderTest,
    ::testing::Values(
        ReaderCase{"LinesWaitingTogether", {"a\nbb\nccc\n"}, kAll, 0, 0, {"a\n", "bb\n", "ccc\n"}, 109, ""},
        ReaderCase{"EachReadMovesOneByte", {"ab\ncd\n"}, 1, 0, 0, {"ab\n", "cd\n"}, 109, ""},
        ReaderCase{"ReadsMoveThreeBytes", {"abcdefg\nhi\n"}, 3, 0, 0, {"abcdefg\n", "hi\n"}, 109, ""},
        ReaderCase{"RestArrivesLater", {"par", "tial\nne", "xt\n"}, kAll, 0, 0, {"partial\n", "next\n"}, 109, ""},
        ReaderCase{"NothingWaitingAtFirst", {"", "x\n"}, kAll, 0, 0, {"x\n"}, 109, ""},
        ReaderCase{"LineLongerThanTheLargestPeek", {kLong + "\nz\n"}, kAll, 0, 0, {kLong + "\n", "z\n"}, 109, ""},
        ReaderCase{"LongLineInPartialReads", {kLong + "\n"}, 4000, 0, 0, {kLong + "\n"}, 109, ""},
        // A read that succeeds yet moves nothing (a zero-length write, a broken driver) fails
        // the line with broken pipe instead of being repeated for ever.
        ReaderCase{"ZeroByteReadOfAWaitingLine", {"abc\nd\n"}, kAll, 1, 0, {}, 109, "abc\nd\n"},
        ReaderCase{"ZeroByteReadOfALineSeenAhead", {"a\nbc\nd"}, kAll, 2, 0, {"a\n"}, 109, "bc\nd"},
        ReaderCase{"ZeroByteReadWhileNothingWaits", {"ab", "c\n"}, kAll, 2, 0, {}, 109, ""},
        ReaderCase{"ReadFailsMidLine", {"abcdef\n"}, 2, 0, 2, {}, 31, "cdef\n"},
        ReaderCase{"HostHangsUpMidLine", {"abc"}, kAll, 0, 0, {}, 109, ""}),
    [](const auto& info) { return info.param.name; });

// A line the last look saw whole is taken out without looking again, and KnownWaiting tells what
// that look saw beyond the line.
TEST(LineReader, TakesALineSeenAheadWithoutLookingAgain) {
  ScriptedSource source({"one\ntwo\nthr"});
  source.ArriveFirst();
  LineReader reader;
  std::string line;
  ASSERT_EQ(reader.ReadLine(source, line).status, LineStatus::kLine);
  EXPECT_EQ(reader.KnownWaiting(), 7u);
  const int peeks = source.peeks;
  ASSERT_EQ(reader.ReadLine(source, line).status, LineStatus::kLine);
  EXPECT_EQ(line, "two\n");
  EXPECT_EQ(source.peeks, peeks);
  EXPECT_EQ(reader.KnownWaiting(), 3u);
  reader.Forget();
  EXPECT_EQ(reader.KnownWaiting(), 0u);
}

}  // namespace
}  // namespace electron_morvane
