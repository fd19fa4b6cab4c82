// A connect that a signal interrupts goes on in the background. This executable stands in for
// the system's connect: the real connect runs, then the call reports EINTR, as if a signal had
// come in while it waited. Calling connect again then fails (already connected); the pipe client
// must wait for the connect it started instead.
#include <dlfcn.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>

#include "support/temp_folder.h"
#include "transport/pipe_client.h"

namespace {

std::atomic<bool> interruptNextConnect{false};

}  // namespace

extern "C" int connect(int fd, const sockaddr* address, socklen_t size) {
  using Connect = int (*)(int, const sockaddr*, socklen_t);
  static const auto real = reinterpret_cast<Connect>(::dlsym(RTLD_NEXT, "connect"));
  const int result = real(fd, address, size);
  if (result == 0 && interruptNextConnect.exchange(false)) {
    errno = EINTR;
    return -1;
  }
  return result;
}

namespace electron_morvane {
namespace {

TEST(PipeClient, AConnectInterruptedBySignalIsWaitedFor) {
  testing::TempFolder folder;
  const std::string path = folder.File("host.sock");
  const int listener = ::socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  path.copy(address.sun_path, sizeof(address.sun_path) - 1);
  ASSERT_EQ(::bind(listener, reinterpret_cast<const sockaddr*>(&address), sizeof(address)), 0);
  ASSERT_EQ(::listen(listener, 1), 0);

  PipeClient client;
  client.SetPipeName(path);
  interruptNextConnect = true;
  EXPECT_EQ(client.Connect(), 0u);
  EXPECT_FALSE(interruptNextConnect) << "the stand-in connect was not called";

  const int host = ::accept(listener, nullptr, nullptr);
  ASSERT_GE(host, 0);
  bool ok = false;
  SystemError error = 1;
  client.WriteLine("hello", ok, error);
  EXPECT_TRUE(ok);
  char received[6] = {};
  EXPECT_EQ(::recv(host, received, sizeof(received), MSG_WAITALL), 6);
  EXPECT_EQ(std::string(received, 6), "hello\n");
  ::close(host);
  ::close(listener);
}

}  // namespace
}  // namespace electron_morvane
