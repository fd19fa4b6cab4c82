// PipeClient against a real Unix domain socket that the test listens on, as the host would.
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <fstream>
#include <map>
#include <string_view>
#include <string>
#include <thread>
#include <vector>

#include "support/temp_folder.h"
#include "transport/errno_mapping_posix.h"
#include "transport/pipe_client.h"

namespace electron_morvane {
namespace {

using namespace std::chrono_literals;
using testing::TempFolder;

class Fd {
 public:
  explicit Fd(int fd = -1) : fd_(fd) {}
  ~Fd() { Reset(); }
  Fd(Fd&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }
  Fd& operator=(Fd&& other) noexcept {
    Reset();
    fd_ = other.fd_;
    other.fd_ = -1;
    return *this;
  }
  int Get() const { return fd_; }
  void Reset() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }

 private:
  int fd_;
};

sockaddr_un Address(const std::string& path) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::strncpy(address.sun_path, path.c_str(), sizeof(address.sun_path) - 1);
  return address;
}

Fd Listen(const std::string& path, int backlog = 4) {
  Fd fd(::socket(AF_UNIX, SOCK_STREAM, 0));
  const sockaddr_un address = Address(path);
  EXPECT_EQ(::bind(fd.Get(), reinterpret_cast<const sockaddr*>(&address), sizeof(address)), 0);
  EXPECT_EQ(::listen(fd.Get(), backlog), 0);
  return fd;
}

void WriteAll(const Fd& fd, const std::string& bytes) {
  ASSERT_EQ(::send(fd.Get(), bytes.data(), bytes.size(), MSG_NOSIGNAL),
            static_cast<ssize_t>(bytes.size()));
}

std::string ReadAvailable(const Fd& fd) {
  std::string data;
  char chunk[4096];
  for (;;) {
    const ssize_t got = ::recv(fd.Get(), chunk, sizeof(chunk), MSG_DONTWAIT);
    if (got <= 0) return data;
    data.append(chunk, static_cast<std::size_t>(got));
  }
}

// A connected pair: the client under test and the host's accepted end.
class ConnectedPipe : public ::testing::Test {
 protected:
  void SetUp() override {
    listener_ = Listen(folder_.File("host.sock"));
    client_.SetPipeName(folder_.File("host.sock"));
    ASSERT_EQ(client_.Connect(), 0u);
    host_ = Fd(::accept(listener_.Get(), nullptr, nullptr));
    ASSERT_GE(host_.Get(), 0);
  }

  std::string ReadLine() {
    ok_ = false;
    error_ = 12345;
    return client_.ReadLine(ok_, error_);
  }

  // Peeks until at least one byte has arrived (the host's write is already done, but the
  // socket may take a moment).
  std::uint32_t PeekSettled() {
    for (int i = 0; i < 200; ++i) {
      const std::uint32_t waiting = client_.Peek(ok_, error_);
      if (!ok_ || waiting > 0) return waiting;
      std::this_thread::sleep_for(1ms);
    }
    return 0;
  }

  TempFolder folder_;
  Fd listener_;
  Fd host_;
  PipeClient client_;
  bool ok_ = false;
  SystemError error_ = 0;
};

TEST_F(ConnectedPipe, ReadsOneLineAndLeavesTheNextInThePipe) {
  WriteAll(host_, "first\nsecond\n");
  EXPECT_EQ(ReadLine(), "first\n");
  EXPECT_TRUE(ok_);
  EXPECT_EQ(error_, 0u);
  EXPECT_EQ(client_.Peek(ok_, error_), 7u);
  EXPECT_EQ(ReadLine(), "second\n");
}

// Lines the last look already saw are taken without looking again; a line only partly seen
// must still be read whole once its rest arrives, and nothing beyond a line feed is taken.
TEST_F(ConnectedPipe, LinesSeenAheadAreReadWholeAndNothingBeyondThem) {
  WriteAll(host_, "a\nbb\nccc");
  EXPECT_EQ(ReadLine(), "a\n");
  EXPECT_EQ(ReadLine(), "bb\n");
  EXPECT_EQ(client_.Peek(ok_, error_), 3u);
  WriteAll(host_, "c\nx\n");
  EXPECT_EQ(ReadLine(), "cccc\n");
  EXPECT_EQ(ReadLine(), "x\n");
  EXPECT_TRUE(ok_);
  EXPECT_EQ(client_.Peek(ok_, error_), 0u);
  EXPECT_TRUE(ok_);
  WriteAll(host_, "last\n");
  EXPECT_EQ(PeekSettled(), 5u);
  EXPECT_EQ(ReadLine(), "last\n");
}

TEST_F(ConnectedPipe, KeepsCarriageReturns) {
  WriteAll(host_, "abc\r\n");
  EXPECT_EQ(ReadLine(), "abc\r\n");
}

TEST_F(ConnectedPipe, WaitsForTheRestOfALine) {
  WriteAll(host_, "par");
  std::thread later([this] {
    std::this_thread::sleep_for(50ms);
    WriteAll(host_, "tial\nnext");
  });
  EXPECT_EQ(ReadLine(), "partial\n");
  later.join();
  EXPECT_EQ(PeekSettled(), 4u);
}

TEST_F(ConnectedPipe, ReadsALongLineWhole) {
  std::string line(3 * 1024 * 1024 + 17, 'x');
  line += '\n';
  std::thread writer([&] { WriteAll(host_, line + "tail\n"); });
  EXPECT_EQ(ReadLine(), line);
  writer.join();
  EXPECT_EQ(ReadLine(), "tail\n");
}

TEST_F(ConnectedPipe, WritesTextAndOneLineFeed) {
  client_.WriteLine("", ok_, error_);
  EXPECT_TRUE(ok_);
  client_.WriteLine("{\"a\":1}", ok_, error_);
  EXPECT_TRUE(ok_);
  std::this_thread::sleep_for(20ms);
  EXPECT_EQ(ReadAvailable(host_), "\n{\"a\":1}\n");
}

TEST_F(ConnectedPipe, ReportsBrokenPipeWhenTheHostCloses) {
  host_.Reset();
  EXPECT_EQ(client_.Peek(ok_, error_), 0u);
  EXPECT_FALSE(ok_);
  EXPECT_EQ(error_, 109u);
  client_.WriteLine("lost", ok_, error_);
  EXPECT_FALSE(ok_);
  EXPECT_EQ(error_, 109u);
}

TEST_F(ConnectedPipe, DropsAnUnfinishedLineWhenTheHostCloses) {
  WriteAll(host_, "abc");
  host_.Reset();
  EXPECT_EQ(ReadLine(), "");
  EXPECT_FALSE(ok_);
  EXPECT_EQ(error_, 109u);
}

TEST_F(ConnectedPipe, ASecondConnectClosesTheFirstConnection) {
  ASSERT_EQ(client_.Connect(), 0u);
  char byte;
  EXPECT_EQ(::recv(host_.Get(), &byte, 1, 0), 0) << "the first connection is still open";
  Fd second(::accept(listener_.Get(), nullptr, nullptr));
  client_.WriteLine("again", ok_, error_);
  EXPECT_TRUE(ok_);
}

// Lines larger than the socket's buffer take several system writes each: only the write lock
// keeps one thread's line from being cut into by another's.
TEST_F(ConnectedPipe, LinesFromSeveralThreadsNeverInterleave) {
  constexpr int kThreads = 4, kLinesEach = 20;
  constexpr std::size_t kLineSize = 300 * 1024;
  std::string received;
  std::thread reader([&] {
    const std::size_t expected = kThreads * kLinesEach * (kLineSize + 1);
    char chunk[64 * 1024];
    while (received.size() < expected) {
      const ssize_t got = ::recv(host_.Get(), chunk, sizeof(chunk), 0);
      if (got <= 0) return;
      received.append(chunk, static_cast<std::size_t>(got));
    }
  });
  std::vector<std::thread> writers;
  for (int t = 0; t < kThreads; ++t) {
    writers.emplace_back([this, t] {
      const std::string line(kLineSize, static_cast<char>('a' + t));
      for (int i = 0; i < kLinesEach; ++i) {
        bool ok = false;
        SystemError error = 0;
        client_.WriteLine(line, ok, error);
      }
    });
  }
  for (auto& writer : writers) writer.join();
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
  EXPECT_EQ(error, 6u);  // what the system says of a descriptor that is not open
}

struct ConnectCase {
  const char* name;
  int expected;
};

class ConnectErrors : public ::testing::TestWithParam<ConnectCase> {};

// Each case prepares the folder and returns the path to connect to.
std::string Prepare(const std::string& name, const TempFolder& folder, std::vector<Fd>& keep) {
  if (name == "EmptyPath") return "";
  if (name == "NoSocket") return folder.File("absent.sock");
  if (name == "MissingFolder") return folder.File("absent/host.sock");
  if (name == "FileOnTheWay") {
    std::ofstream(folder.File("plain")) << "x";
    return folder.File("plain/host.sock");
  }
  if (name == "PathTooLong") return folder.File(std::string(120, 'p'));
  if (name == "NobodyListening") {
    keep.push_back(Listen(folder.File("closed.sock")));
    keep.back().Reset();
    return folder.File("closed.sock");
  }
  if (name == "RegularFile") {
    std::ofstream(folder.File("file.sock")) << "x";
    return folder.File("file.sock");
  }
  if (name == "QueueFull") {
    // A listener that never accepts, filled up to its backlog.
    keep.push_back(Listen(folder.File("busy.sock"), 0));
    const sockaddr_un address = Address(folder.File("busy.sock"));
    for (int i = 0; i < 64; ++i) {
      Fd waiting(::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK, 0));
      if (::connect(waiting.Get(), reinterpret_cast<const sockaddr*>(&address),
                    sizeof(address)) != 0) {
        break;
      }
      keep.push_back(std::move(waiting));
    }
    return folder.File("busy.sock");
  }
  return {};
}

TEST_P(ConnectErrors, ReportTheWindowsCode) {
  TempFolder folder;
  std::vector<Fd> keep;
  PipeClient client;
  client.SetPipeName(Prepare(GetParam().name, folder, keep));
  EXPECT_EQ(client.Connect(), static_cast<SystemError>(GetParam().expected));
}

INSTANTIATE_TEST_SUITE_P(PipeClient, ConnectErrors,
                         ::testing::Values(ConnectCase{"EmptyPath", 3}, ConnectCase{"NoSocket", 2},
                                           ConnectCase{"MissingFolder", 3},
                                           ConnectCase{"FileOnTheWay", 3},
                                           ConnectCase{"PathTooLong", 206},
                                           ConnectCase{"NobodyListening", 2},
                                           ConnectCase{"RegularFile", 2},
                                           ConnectCase{"QueueFull", 231}),
                         [](const auto& info) { return std::string(info.param.name); });

// Root may open any socket, so the connect runs in a child that has given up root.
TEST(PipeClient, RefusesASocketItMayNotOpen) {
  TempFolder folder;
  Fd listener = Listen(folder.File("private.sock"));
  ASSERT_EQ(::chmod(folder.File("private.sock").c_str(), 0), 0);
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    if (::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0)) ::_exit(99);
    PipeClient client;
    client.SetPipeName(folder.File("private.sock"));
    ::_exit(static_cast<int>(client.Connect()));
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 5);
}

// A server of another user (one that took the path first, say) is refused before a byte is
// written. Root may connect to anyone, so the server is a child that has given up root.
TEST(PipeClient, RefusesAServerOfAnotherUser) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to start a server of another user";
  TempFolder folder;
  ASSERT_EQ(::chmod(folder.File("").c_str(), 0777), 0);
  const std::string path = folder.File("squatter.sock");
  int ready[2];
  ASSERT_EQ(::pipe(ready), 0);
  const pid_t server = ::fork();
  ASSERT_GE(server, 0);
  if (server == 0) {
    if (::setgid(65534) != 0 || ::setuid(65534) != 0) ::_exit(99);
    Fd listener = Listen(path);
    if (::write(ready[1], "r", 1) != 1) ::_exit(98);
    Fd client(::accept(listener.Get(), nullptr, nullptr));
    char byte;
    // 0: the client left without writing anything.
    ::_exit(::recv(client.Get(), &byte, 1, 0) == 0 ? 0 : 1);
  }
  ::close(ready[1]);
  char signal;
  ASSERT_EQ(::read(ready[0], &signal, 1), 1);
  ::close(ready[0]);
  {
    PipeClient client;
    client.SetPipeName(path);
    EXPECT_EQ(client.Connect(), 5u);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(server, &status, 0), server);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0) << "the server received bytes from a refused client";
}

TEST(ErrnoMapping, GivesTheWindowsCodeOfEachErrno) {
  const std::pair<int, SystemError> table[] = {
      {0, 0},         {ENOENT, 2},        {ECONNREFUSED, 2}, {ENOTDIR, 3},   {EACCES, 5},
      {EPERM, 5},     {EBADF, 6},         {ENOMEM, 8},       {EINVAL, 87},   {EPIPE, 109},
      {ECONNRESET, 109}, {ENAMETOOLONG, 206}, {EAGAIN, 231}, {ENOTCONN, 233}, {EIO, 31},
  };
  for (const auto& [errnoValue, code] : table) {
    EXPECT_EQ(SystemErrorFromErrno(errnoValue), code) << std::strerror(errnoValue);
  }
}

}  // namespace
}  // namespace electron_morvane
