// What only the Windows pipe client does, over real named pipes with the test as the host that
// created them: whole lines in every message, the system's connect codes, the handle kept after a
// refused mode change, the identification-only open, users named by their SID. The behaviours
// both platforms share are in pipe_client_test.cpp.
#include <gtest/gtest.h>
#include <windows.h>

#include <atomic>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "transport/pipe_client.h"
#include "transport/server_user.h"
#include "unique_handle.h"

namespace electron_morvane {
namespace {

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
class NamedPipe : public ::testing::Test {
 protected:
  // Two instances: room for a second connection.
  void SetUp() override { ConnectTo(CreateServer(name_, 2)); }

  void ConnectTo(UniqueHandle server) {
    server_ = std::move(server);
    ASSERT_TRUE(server_.Valid()) << GetLastError();
    client_.SetPipeName(name_);
    ASSERT_EQ(client_.Connect(), 0u);
  }

  std::string name_ = FreshPipeName();
  UniqueHandle server_;
  PipeClient client_;
  bool ok_ = false;
  SystemError error_ = 0;
};

// A message-type pipe keeps the boundaries of the client's writes: a write carries whole lines,
// so every message ends with a line feed, however lines are grouped.
class MessagePipe : public NamedPipe {
 protected:
  void SetUp() override {
    ConnectTo(CreateServer(name_, 2, PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE));
  }
};

TEST_F(MessagePipe, EveryMessageHoldsWholeLines) {
  const std::vector<std::string> texts = {"{\"a\":1}", "", std::string(100 * 1024, 'b'), "c"};
  std::string expected;
  for (const std::string& text : texts) expected += text + "\n";
  // A write larger than the pipe's buffer waits for the reader.
  std::thread writer([&] {
    for (const std::string& text : texts) {
      client_.WriteLine(text, ok_, error_);
      EXPECT_TRUE(ok_);
      EXPECT_EQ(error_, 0u);
    }
  });
  std::string received;
  while (received.size() < expected.size()) {
    const std::string message = ReadMessage(server_.Get());
    if (message.empty()) break;  // the client is gone: the comparison below tells
    EXPECT_EQ(message.back(), '\n') << "a message ends inside a line";
    received += message;
  }
  writer.join();
  EXPECT_EQ(received, expected);
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

// The system's lookup names users by their SID, and a handle that is not a pipe has no server.
TEST(SystemUsers, NameTheUserByItsSidAndFindNoServerBehindAFile) {
  const std::optional<UserIdentity> own = platform::SystemUsers().OwnUser();
  ASSERT_TRUE(own.has_value());
  std::string sid = *own;
  ASSERT_TRUE(IsValidSid(sid.data()));
  EXPECT_EQ(GetLengthSid(sid.data()), sid.size());

  const std::string path = TempPath("morvane-unit-file-" + std::to_string(GetCurrentProcessId()));
  std::ofstream(path).close();
  {
    const UniqueHandle file(CreateFileA(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0,
                                        nullptr));
    ASSERT_TRUE(file.Valid()) << GetLastError();
    const auto handle = reinterpret_cast<platform::PipeHandle>(file.Get());
    EXPECT_EQ(platform::SystemUsers().ServerUser(handle), std::nullopt);
  }
  DeleteFileA(path.c_str());
}

}  // namespace
// A process that took the pipe's name first must not be able to act as the bridge's user: the
// bridge opens the pipe for identification only.
TEST_F(NamedPipe, AServerCanOnlyIdentifyTheBridgeNeverImpersonateIt) {
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
