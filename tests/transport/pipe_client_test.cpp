// PipeClient against the host's end of a real pipe: a Unix socket on Linux, a named pipe on the
// Windows build under Wine (host_end.h). The same behaviours on both platforms.
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

#include "bounded_step.h"
#include "host_end.h"
#include "transport/pipe_client.h"
#include "transport/server_user.h"

namespace electron_morvane {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using testing::BoundedStep;

// A connected pair: the client under test and the host's end.
class ConnectedPipe : public ::testing::Test {
 protected:
  void SetUp() override {
    client_.SetPipeName(host_.PipeName());
    ASSERT_EQ(client_.Connect(), 0u);
    host_.Accept();
  }

  std::string ReadLine() {
    ok_ = false;
    error_ = 12345;
    return client_.ReadLine(ok_, error_);
  }

  // A thread's writes, with a deadline: one still blocked when given up on is ended by shutting
  // the pipe down. The host's reads have a silence limit of their own (host_end.h).
  std::unique_ptr<BoundedStep> Writing(std::function<void()> writes) {
    return std::make_unique<BoundedStep>(std::move(writes), [this] { client_.Shutdown(); });
  }

  // Waits on the pipe until at least one byte is there (the host's write is done, but a socket
  // may take a moment to show it).
  std::uint32_t WaitForBytes() {
    for (;;) {
      const std::uint32_t waiting = client_.Peek(ok_, error_);
      if (!ok_ || waiting > 0) return waiting;
      client_.IdleWait(10s);
    }
  }

  testing::HostEnd host_;
  PipeClient client_;
  bool ok_ = false;
  SystemError error_ = 0;
};

TEST_F(ConnectedPipe, ReadsOneLineAndLeavesTheNextInThePipe) {
  host_.Write("first\nsecond\n");
  EXPECT_EQ(ReadLine(), "first\n");
  EXPECT_TRUE(ok_);
  EXPECT_EQ(error_, 0u);
  EXPECT_EQ(client_.Peek(ok_, error_), 7u);
  EXPECT_TRUE(ok_);
  EXPECT_EQ(ReadLine(), "second\n");
  EXPECT_EQ(client_.Peek(ok_, error_), 0u);
  EXPECT_TRUE(ok_);
}

// Lines the last look already saw are read without looking again, and Peek answers "at least"
// from that look: it may know of fewer bytes than are waiting, never of more.
TEST_F(ConnectedPipe, PeekAnswersAtLeastWhatTheLastLookSaw) {
  host_.Write("a\nbb\nccc");
  EXPECT_EQ(ReadLine(), "a\n");
  EXPECT_EQ(client_.Peek(ok_, error_), 6u);
  host_.Write("c\nx\n");
  const std::uint32_t known = client_.Peek(ok_, error_);
  EXPECT_TRUE(ok_);
  EXPECT_GE(known, 6u);
  EXPECT_LE(known, 10u);
  EXPECT_EQ(ReadLine(), "bb\n");
  EXPECT_EQ(ReadLine(), "cccc\n");
  EXPECT_EQ(ReadLine(), "x\n");
  EXPECT_TRUE(ok_);
  EXPECT_EQ(client_.Peek(ok_, error_), 0u);
  host_.Write("last\n");
  EXPECT_EQ(WaitForBytes(), 5u);
  EXPECT_EQ(ReadLine(), "last\n");
}

TEST_F(ConnectedPipe, KeepsCarriageReturns) {
  host_.Write("abc\r\n");
  EXPECT_EQ(ReadLine(), "abc\r\n");
}

// The host writes a line in pieces: the first at once, each further one after a pause, so the
// client meets both an empty pipe (a blocking one-byte read) and waiting bytes (a peek).
struct PiecesCase {
  const char* name;
  std::vector<std::string> pieces;
  std::string line;
  std::string rest;
};

class LineInPieces : public ConnectedPipe, public ::testing::WithParamInterface<PiecesCase> {};

TEST_P(LineInPieces, IsReadWholeAndNothingBeyondIt) {
  const PiecesCase& c = GetParam();
  if (!c.pieces.front().empty()) host_.Write(c.pieces.front());
  std::thread later([&] {
    for (std::size_t i = 1; i < c.pieces.size(); ++i) {
      std::this_thread::sleep_for(30ms);
      host_.Write(c.pieces[i]);
    }
  });
  EXPECT_EQ(ReadLine(), c.line);
  EXPECT_TRUE(ok_);
  later.join();
  host_.Write("\n");
  EXPECT_EQ(ReadLine(), c.rest + "\n");
}

INSTANTIATE_TEST_SUITE_P(
    PipeClient, LineInPieces,
    ::testing::Values(PiecesCase{"RestWithTheNextLine", {"par", "tial\nnext"}, "partial\n", "next"},
                      PiecesCase{"LineFeedAlone", {"abc", "\n"}, "abc\n", ""},
                      PiecesCase{"NothingWaitingFirst", {"", "x\ny"}, "x\n", "y"},
                      PiecesCase{"ByteByByte", {"a", "b", "\n", "c"}, "ab\n", "c"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(ConnectedPipe, ReadsALineLongerThanThePipeBufferWhole) {
  std::string line(3 * 1024 * 1024 + 17, 'x');
  line += '\n';
  std::thread writer([&] { host_.Write(line + "tail\n"); });
  EXPECT_EQ(ReadLine(), line);
  writer.join();
  EXPECT_EQ(ReadLine(), "tail\n");
}

TEST_F(ConnectedPipe, WritesTextAndOneLineFeed) {
  client_.WriteLine("", ok_, error_);
  EXPECT_TRUE(ok_);
  client_.WriteLine("{\"a\":1}", ok_, error_);
  EXPECT_TRUE(ok_);
  EXPECT_EQ(host_.Read(9), "\n{\"a\":1}\n");
}

// The thread that reads the pipe writes its lines itself and learns how each write went.
TEST_F(ConnectedPipe, ReportsBrokenPipeWhenTheHostCloses) {
  host_.HangUp();
  EXPECT_EQ(client_.Peek(ok_, error_), 0u);
  EXPECT_FALSE(ok_);
  EXPECT_EQ(error_, 109u);
  EXPECT_EQ(ReadLine(), "");
  EXPECT_EQ(error_, 109u);
  client_.WriteLine("lost", ok_, error_);
  EXPECT_FALSE(ok_);
  EXPECT_NE(error_, 0u);
}

// Lines that other threads queued are not lost when the pipe is closed: they are written first.
TEST_F(ConnectedPipe, CloseWritesTheLinesStillQueued) {
  std::vector<std::string> lines;
  std::string expected;
  for (int i = 0; i < 1000; ++i) {
    lines.push_back("line " + std::to_string(i));
    expected += lines.back() + "\n";
  }
  std::string received;
  std::thread reader([&] { received = host_.Read(expected.size()); });
  EXPECT_TRUE(Writing([&] {
                for (const std::string& line : lines) {
                  client_.WriteLine(line, ok_, error_);
                  EXPECT_TRUE(ok_);
                }
              })->Finishes("the lines are queued"));
  client_.Close();
  reader.join();
  EXPECT_EQ(received, expected);
}

// Lines larger than the pipe's buffer take several system writes each on POSIX: one write at a
// time keeps one thread's line from being cut into by another's.
TEST_F(ConnectedPipe, LinesFromSeveralThreadsNeverInterleave) {
  constexpr int kThreads = 4, kLinesEach = 20;
  constexpr std::size_t kLineSize = 300 * 1024;
  std::string received;
  std::thread reader([&] { received = host_.Read(kThreads * kLinesEach * (kLineSize + 1)); });
  std::vector<std::unique_ptr<BoundedStep>> writers;
  for (int t = 0; t < kThreads; ++t) {
    writers.push_back(Writing([this, t] {
      const std::string line(kLineSize, static_cast<char>('a' + t));
      for (int i = 0; i < kLinesEach; ++i) {
        bool ok = false;
        SystemError error = 0;
        client_.WriteLine(line, ok, error);
      }
    }));
  }
  for (std::size_t t = 0; t < writers.size(); ++t) {
    EXPECT_TRUE(writers[t]->Finishes("thread " + std::to_string(t) + "'s lines are queued"));
  }
  reader.join();

  std::map<char, int> whole;
  int broken = 0;
  std::size_t start = 0;
  for (std::size_t feed; (feed = received.find('\n', start)) != std::string::npos;
       start = feed + 1) {
    const std::string_view line(received.data() + start, feed - start);
    const bool oneWriter = line.size() == kLineSize &&
                           line.find_first_not_of(line.front()) == std::string_view::npos;
    oneWriter ? ++whole[line.front()] : ++broken;
  }
  EXPECT_EQ(broken, 0);
  for (int t = 0; t < kThreads; ++t) EXPECT_EQ(whole[static_cast<char>('a' + t)], kLinesEach);
}

// The idle wait ends when bytes arrive, however long the pipe was silent: on POSIX the wait is
// on the socket itself; on Windows on a zero-byte overlapped read. Its bound holds as well.
TEST_F(ConnectedPipe, IdleWaitWakesSoonAfterBytesArriveAndKeepsItsBound) {
  const Clock::time_point quietStart = Clock::now();
  client_.IdleWait(300ms);
  const auto quiet = Clock::now() - quietStart;
  EXPECT_LT(quiet, 1000ms) << "the wait ignored its bound";

  Clock::time_point written;
  std::thread host([&] {
    std::this_thread::sleep_for(1500ms);
    written = Clock::now();
    host_.Write("x\n");
  });
  while (client_.Peek(ok_, error_) == 0 && ok_) client_.IdleWait(10s);
  const Clock::time_point woke = Clock::now();
  host.join();
  EXPECT_TRUE(ok_);
  EXPECT_LT(woke - written, 200ms);
}

TEST(PipeClient, FailsWithInvalidHandleBeforeConnect) {
  PipeClient client;
  bool ok = true;
  SystemError error = 0;
  EXPECT_EQ(client.ReadLine(ok, error), "");
  EXPECT_FALSE(ok);
  EXPECT_EQ(error, 6u);
  ok = true;
  client.WriteLine("x", ok, error);
  EXPECT_FALSE(ok);
  EXPECT_EQ(error, 6u);
  ok = true;
  EXPECT_EQ(client.Peek(ok, error), 0u);
  EXPECT_FALSE(ok);
  EXPECT_EQ(error, 6u);  // what the system says of a descriptor or handle that is not open
}

// The system's lookup finds the host's own user behind its pipe, and no user behind a handle
// that is no pipe: it does not answer the same for everything.
TEST(SystemUsers, FindTheBridgesOwnUserServingTheHostsPipe) {
  testing::HostEnd host;
  platform::PipeHandle pipe = platform::kNoPipe;
  ASSERT_EQ(platform::OpenPipe(host.PipeName(), pipe), 0u);
  const std::optional<UserIdentity> server = platform::SystemUsers().ServerUser(pipe);
  platform::ClosePipe(pipe);
  const std::optional<UserIdentity> own = platform::SystemUsers().OwnUser();
  ASSERT_TRUE(server.has_value());
  ASSERT_TRUE(own.has_value());
  EXPECT_FALSE(own->empty());
  EXPECT_EQ(*server, *own);
  EXPECT_EQ(platform::SystemUsers().ServerUser(platform::kNoPipe), std::nullopt);
}

// Users as a test decides them; the bridge's own is the system's unless a case says otherwise.
class ScriptedUsers final : public UserLookup {
 public:
  ScriptedUsers(std::optional<UserIdentity> server, std::optional<UserIdentity> own)
      : server_(std::move(server)), own_(std::move(own)) {}
  std::optional<UserIdentity> ServerUser(platform::PipeHandle) const override { return server_; }
  std::optional<UserIdentity> OwnUser() const override { return own_; }

 private:
  std::optional<UserIdentity> server_;
  std::optional<UserIdentity> own_;
};

constexpr char kSystemsOwn[] = "<the system's own user>";

struct ServerUserCase {
  const char* name;
  std::optional<UserIdentity> server;  // kSystemsOwn: the bridge's own user as the system says
  std::optional<UserIdentity> own;
  SystemError expected;
};

void PrintTo(const ServerUserCase& c, std::ostream* out) { *out << c.name; }

std::optional<UserIdentity> Resolve(const std::optional<UserIdentity>& user) {
  return user == kSystemsOwn ? platform::SystemUsers().OwnUser() : user;
}

class ServerUser : public ::testing::TestWithParam<ServerUserCase> {};

// A refused server gets no byte: its read finds the client gone with nothing written, and the
// client keeps neither a writer nor the pipe.
TEST_P(ServerUser, OnlyTheBridgesOwnUserMayServeThePipe) {
  const ServerUserCase& c = GetParam();
  testing::HostEnd host;
  const ScriptedUsers users(Resolve(c.server), Resolve(c.own));
  PipeClient client(users);
  client.SetPipeName(host.PipeName());
  ASSERT_EQ(client.Connect(), c.expected);
  bool ok = false;
  SystemError error = 0;
  client.WriteLine("after connect", ok, error);
  host.Accept();
  if (c.expected == 0) {
    EXPECT_TRUE(ok);
    EXPECT_EQ(host.Read(14), "after connect\n");
    return;
  }
  EXPECT_EQ(error, 6u) << "the refused server's pipe has a writer";
  ok = true;
  client.Peek(ok, error);
  EXPECT_FALSE(ok);
  EXPECT_EQ(error, 6u) << "the refused server's pipe was kept open";
  client.Close();
  EXPECT_TRUE(host.ClientHungUp()) << "the refused server received bytes";
}

INSTANTIATE_TEST_SUITE_P(
    PipeClient, ServerUser,
    ::testing::Values(ServerUserCase{"SameUser", kSystemsOwn, kSystemsOwn, 0},
                      ServerUserCase{"AnotherUser", "another user", kSystemsOwn, 5},
                      ServerUserCase{"ServerUserUnknown", std::nullopt, kSystemsOwn, 5},
                      ServerUserCase{"OwnUserUnknown", kSystemsOwn, std::nullopt, 5},
                      ServerUserCase{"BothNameNobody", "", "", 5}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace electron_morvane
