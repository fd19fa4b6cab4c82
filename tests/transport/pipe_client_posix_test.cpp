// What only the POSIX pipe client does: connect errors given as Windows codes, the checks on who
// serves the socket, and the errno mapping. The behaviours both platforms share are in
// pipe_client_test.cpp.
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "support/temp_folder.h"
#include "transport/errno_mapping_posix.h"
#include "transport/pipe_client.h"

namespace electron_morvane {
namespace {

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
