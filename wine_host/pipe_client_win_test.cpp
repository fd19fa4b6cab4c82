// PipeClient over real named pipes, the test acting as the host that created the pipe.
#include <gtest/gtest.h>
#include <windows.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "transport/pipe_client.h"
#include "unique_handle.h"

namespace electron_morvane {
namespace {

using namespace std::chrono_literals;
using wine_host::UniqueHandle;

std::string FreshPipeName() {
  static std::atomic<int> counter{0};
  return "\\\\.\\pipe\\morvane-unit-" + std::to_string(GetCurrentProcessId()) + "-" +
         std::to_string(counter++);
}

// A synchronous server end, as the host creates it; message type when a test looks at how the
// client's writes are cut.
UniqueHandle CreateServer(const std::string& name, DWORD instances = 1,
                          DWORD mode = PIPE_TYPE_BYTE | PIPE_READMODE_BYTE) {
  return UniqueHandle(CreateNamedPipeA(name.c_str(), PIPE_ACCESS_DUPLEX, mode | PIPE_WAIT,
                                       instances, 64 * 1024, 64 * 1024, 0, nullptr));
}

void WriteAll(HANDLE pipe, const std::string& bytes) {
  DWORD written = 0;
  ASSERT_TRUE(WriteFile(pipe, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr));
  ASSERT_EQ(written, bytes.size());
}

// One message on a message-mode pipe (the whole pipe's content on a byte-mode one).
std::string ReadMessage(HANDLE pipe) {
  std::string message;
  std::vector<char> chunk(16 * 1024);
  for (;;) {
    DWORD got = 0;
    const bool whole =
        ReadFile(pipe, chunk.data(), static_cast<DWORD>(chunk.size()), &got, nullptr) != FALSE;
    message.append(chunk.data(), got);
    if (whole || GetLastError() != ERROR_MORE_DATA) return message;
  }
}

// A connected pair: the client under test and the host's server end.
class ConnectedPipe : public ::testing::Test {
 protected:
  // Two instances: room for a second connection.
  void SetUp() override { ConnectTo(CreateServer(name_, 2)); }

  void ConnectTo(UniqueHandle server) {
    server_ = std::move(server);
    ASSERT_TRUE(server_.Valid()) << GetLastError();
    client_.SetPipeName(name_);
    ASSERT_EQ(client_.Connect(), 0u);
  }

  std::string ReadLine() {
    ok_ = false;
    error_ = 12345;
    return client_.ReadLine(ok_, error_);
  }

  std::string name_ = FreshPipeName();
  UniqueHandle server_;
  PipeClient client_;
  bool ok_ = false;
  SystemError error_ = 0;
};

TEST_F(ConnectedPipe, ReadsOneLineAndLeavesTheNextInThePipe) {
  WriteAll(server_.Get(), "first\nsecond\n");
  EXPECT_EQ(ReadLine(), "first\n");
  EXPECT_TRUE(ok_);
  EXPECT_EQ(error_, 0u);
  EXPECT_EQ(client_.Peek(ok_, error_), 7u);
  EXPECT_TRUE(ok_);
  EXPECT_EQ(ReadLine(), "second\n");
  EXPECT_EQ(client_.Peek(ok_, error_), 0u);
  EXPECT_TRUE(ok_);
}

TEST_F(ConnectedPipe, KeepsCarriageReturns) {
  WriteAll(server_.Get(), "abc\r\n");
  EXPECT_EQ(ReadLine(), "abc\r\n");
}

// The host writes a line in pieces: the first at once, each further one after a pause, so the
// client meets both an empty pipe (a blocking one-byte read) and waiting bytes (a peek).
struct PiecesCase {
  const char* name;
  std::vector<std::string> pieces;
  std::string line;
  std::uint32_t leftInPipe;
};

class LineInPieces : public ConnectedPipe, public ::testing::WithParamInterface<PiecesCase> {};

TEST_P(LineInPieces, IsReadWholeAndNothingBeyondIt) {
  const PiecesCase& c = GetParam();
  WriteAll(server_.Get(), c.pieces.front());
  std::thread later([&] {
    for (std::size_t i = 1; i < c.pieces.size(); ++i) {
      std::this_thread::sleep_for(50ms);
      WriteAll(server_.Get(), c.pieces[i]);
    }
  });
  EXPECT_EQ(ReadLine(), c.line);
  EXPECT_TRUE(ok_);
  later.join();
  EXPECT_EQ(client_.Peek(ok_, error_), c.leftInPipe);
}

INSTANTIATE_TEST_SUITE_P(
    PipeClient, LineInPieces,
    ::testing::Values(PiecesCase{"RestWithTheNextLine", {"par", "tial\nnext"}, "partial\n", 4},
                      PiecesCase{"LineFeedAlone", {"abc", "\n"}, "abc\n", 0},
                      PiecesCase{"NothingWaitingFirst", {"", "x\ny\n"}, "x\n", 2},
                      PiecesCase{"ByteByByte", {"a", "b", "\n", "c"}, "ab\n", 1}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(ConnectedPipe, ReadsALineLongerThanThePipeBufferWhole) {
  std::string line(3 * 1024 * 1024 + 17, 'x');
  line += '\n';
  std::thread writer([&] { WriteAll(server_.Get(), line + "tail\n"); });
  EXPECT_EQ(ReadLine(), line);
  writer.join();
  EXPECT_EQ(ReadLine(), "tail\n");
}

TEST_F(ConnectedPipe, DropsAnUnfinishedLineWhenTheHostCloses) {
  WriteAll(server_.Get(), "abc");
  server_.Reset();
  EXPECT_EQ(ReadLine(), "");
  EXPECT_FALSE(ok_);
  EXPECT_EQ(error_, 109u);
}

TEST_F(ConnectedPipe, ReportsBrokenPipeWhenTheHostCloses) {
  server_.Reset();
  EXPECT_EQ(client_.Peek(ok_, error_), 0u);
  EXPECT_FALSE(ok_);
  EXPECT_EQ(error_, 109u);
  client_.WriteLine("lost", ok_, error_);
  EXPECT_FALSE(ok_);
  EXPECT_NE(error_, 0u);
}

TEST_F(ConnectedPipe, ASecondConnectClosesTheFirstConnection) {
  UniqueHandle second = CreateServer(name_, 2);
  ASSERT_TRUE(second.Valid());
  ASSERT_EQ(client_.Connect(), 0u);
  char byte = 0;
  DWORD got = 0;
  EXPECT_FALSE(ReadFile(server_.Get(), &byte, 1, &got, nullptr))
      << "the first connection is still open";
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_BROKEN_PIPE));
  client_.WriteLine("again", ok_, error_);
  EXPECT_TRUE(ok_);
  EXPECT_EQ(ReadMessage(second.Get()), "again\n");
}

// A message-type pipe keeps the boundaries of the client's writes: each line is one write.
class MessagePipe : public ConnectedPipe {
 protected:
  void SetUp() override {
    ConnectTo(CreateServer(name_, 2, PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE));
  }
};

TEST_F(MessagePipe, EachLineLeavesInOneWriteWithItsLineFeed) {
  const std::vector<std::string> texts = {"{\"a\":1}", "", std::string(100 * 1024, 'b')};
  // A write larger than the pipe's buffer waits for the reader.
  std::thread writer([&] {
    for (const std::string& text : texts) {
      client_.WriteLine(text, ok_, error_);
      EXPECT_TRUE(ok_);
      EXPECT_EQ(error_, 0u);
    }
  });
  for (const std::string& text : texts) EXPECT_EQ(ReadMessage(server_.Get()), text + "\n");
  writer.join();
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
  EXPECT_EQ(error, 6u);  // what the system says of a peek on INVALID_HANDLE_VALUE
}

std::string TempPath(const std::string& name) {
  char folder[MAX_PATH + 1] = {};
  GetTempPathA(sizeof(folder), folder);
  return std::string(folder) + name;
}

struct ConnectCase {
  const char* name;
  std::string path;  // "<busy>": a pipe whose only instance is taken
  SystemError code;
};

class ConnectErrors : public ::testing::TestWithParam<ConnectCase> {};

TEST_P(ConnectErrors, ReportTheSystemCode) {
  const ConnectCase& c = GetParam();
  std::string path = c.path;
  UniqueHandle server;
  PipeClient holder;
  if (path == "<busy>") {
    path = FreshPipeName();
    server = CreateServer(path);
    holder.SetPipeName(path);
    ASSERT_EQ(holder.Connect(), 0u);
  }
  PipeClient client;
  client.SetPipeName(path);
  EXPECT_EQ(client.Connect(), c.code);
  bool ok = true;
  SystemError error = 0;
  client.WriteLine("x", ok, error);
  EXPECT_EQ(error, 6u) << "no handle may be kept after a failed open";
}

INSTANTIATE_TEST_SUITE_P(
    PipeClient, ConnectErrors,
    ::testing::Values(ConnectCase{"EmptyPath", "", 3},
                      ConnectCase{"NoSuchPipe", "\\\\.\\pipe\\morvane-unit-absent", 2},
                      ConnectCase{"MissingFolder", TempPath("morvane-absent\\no\\pipe"), 3},
                      ConnectCase{"AllInstancesBusy", "<busy>", 231}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(PipeClient, KeepsTheHandleWhenTheModeChangeIsRefused) {
  // A plain file opens, but it is no pipe: the mode change fails and the handle stays open
  // until Close.
  const std::string path = TempPath("morvane-unit-" + std::to_string(GetCurrentProcessId()));
  std::ofstream(path).close();
  {
    PipeClient client;
    client.SetPipeName(path);
    EXPECT_NE(client.Connect(), 0u);
    bool ok = false;
    SystemError error = 0;
    client.WriteLine("kept", ok, error);
    EXPECT_TRUE(ok) << error;
    client.Close();
    client.WriteLine("closed", ok, error);
    EXPECT_EQ(error, 6u);
  }
  std::ifstream file(path, std::ios::binary);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(file), {}), "kept\n");
  file.close();
  DeleteFileA(path.c_str());
}

}  // namespace
// A process that took the pipe's name first must not be able to act as the bridge's user: the
// bridge opens the pipe for identification only.
TEST_F(ConnectedPipe, AServerCanOnlyIdentifyTheBridgeNeverImpersonateIt) {
  // Wine gives a server the impersonation level whatever its client asked for, so only Windows
  // itself can show the level the bridge asks for.
  if (GetProcAddress(GetModuleHandleA("ntdll.dll"), "wine_get_version") != nullptr) {
    GTEST_SKIP() << "Wine does not honour the client's impersonation level";
  }
  bool ok = false;
  SystemError error = 0;
  client_.WriteLine("hello", ok, error);
  ASSERT_TRUE(ok);
  // A server may impersonate its client only once it has read from the pipe.
  char first[6] = {};
  DWORD got = 0;
  ASSERT_TRUE(ReadFile(server_.Get(), first, sizeof(first), &got, nullptr));
  ASSERT_TRUE(ImpersonateNamedPipeClient(server_.Get())) << GetLastError();
  HANDLE token = nullptr;
  const BOOL opened = OpenThreadToken(GetCurrentThread(), TOKEN_QUERY, TRUE, &token);
  const DWORD openError = GetLastError();
  SECURITY_IMPERSONATION_LEVEL level = SecurityDelegation;
  DWORD size = 0;
  const BOOL read =
      opened && GetTokenInformation(token, TokenImpersonationLevel, &level, sizeof(level), &size);
  if (token != nullptr) CloseHandle(token);
  RevertToSelf();
  ASSERT_TRUE(opened) << openError;
  ASSERT_TRUE(read) << GetLastError();
  EXPECT_EQ(level, SecurityIdentification);
}

}  // namespace electron_morvane
