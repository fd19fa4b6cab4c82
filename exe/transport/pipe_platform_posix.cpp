// The host's pipe on POSIX: a Unix domain stream socket at the given path, on which the host
// listens.
#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "transport/errno_mapping_posix.h"
#include "transport/pipe_platform.h"

namespace electron_morvane::platform {
namespace {

int Fd(PipeHandle handle) { return static_cast<int>(handle); }

StepResult Failure(SystemError error) { return StepResult{false, error, 0}; }

// Repeats a system call that a signal interrupted; returns its last result, errno intact.
template <typename Call>
auto RetryOnInterrupt(Call call) {
  for (;;) {
    const auto result = call();
    if (!(result < 0 && errno == EINTR)) return result;
  }
}
StepResult FailureFromErrno() { return Failure(SystemErrorFromErrno(errno)); }

// What a recv or send that returned `result` did; errno tells why it failed.
StepResult StepFrom(ssize_t result) {
  return result < 0 ? FailureFromErrno()
                    : StepResult{true, kErrorSuccess, static_cast<std::size_t>(result)};
}

bool IsDirectory(const std::string& path) {
  struct stat info {};
  return ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

// ENOENT stands for both a missing socket and a missing folder on the way; Windows tells them
// apart as file not found and path not found.
SystemError MissingEntryError(const std::string& path) {
  const auto slash = path.find_last_of('/');
  if (slash == std::string::npos) return kErrorFileNotFound;
  const std::string folder = slash == 0 ? "/" : path.substr(0, slash);
  return IsDirectory(folder) ? kErrorFileNotFound : kErrorPathNotFound;
}

// The errno of a connect, 0 when it succeeded. A connect that a signal interrupts goes on in the
// background, and calling connect again would fail (already connecting, or connected): wait for
// it to finish and take its own outcome instead.
int Connected(int fd, const sockaddr_un& address) {
  if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) == 0) return 0;
  if (errno != EINTR && errno != EINPROGRESS) return errno;
  pollfd pending{fd, POLLOUT, 0};
  if (RetryOnInterrupt([&] { return ::poll(&pending, 1, -1); }) < 0) return errno;
  int outcome = 0;
  socklen_t size = sizeof(outcome);
  if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &outcome, &size) < 0) return errno;
  return outcome;
}

SystemError SetBlocking(int fd) {
  const int flags = ::fcntl(fd, F_GETFL);
  if (flags < 0 || ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) < 0) {
    return SystemErrorFromErrno(errno);
  }
  return kErrorSuccess;
}

}  // namespace

SystemError OpenPipe(const std::string& path, PipeHandle& handle) {
  handle = kNoPipe;
  // An empty name is a path the system cannot find.
  if (path.empty()) return kErrorPathNotFound;
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (path.size() >= sizeof(address.sun_path)) return kErrorFilenameExcedRange;
  std::copy(path.begin(), path.end(), address.sun_path);

  // Non-blocking while connecting, so a full listener queue fails at once as a busy pipe
  // instead of waiting for room.
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (fd < 0) return SystemErrorFromErrno(errno);
  const int error = Connected(fd, address);
  if (error != 0) {
    ::close(fd);
    return error == ENOENT ? MissingEntryError(path) : SystemErrorFromErrno(error);
  }
  handle = fd;
  return SetBlocking(fd);
}

StepResult BytesWaiting(PipeHandle handle) {
  int waiting = 0;
  if (::ioctl(Fd(handle), FIONREAD, &waiting) < 0) return FailureFromErrno();
  if (waiting > 0) return StepResult{true, kErrorSuccess, static_cast<std::size_t>(waiting)};
  // Nothing waiting: either the host is quiet or it closed its end, which only a read tells.
  char probe;
  return PeekInto(handle, &probe, 1);
}

StepResult PeekInto(PipeHandle handle, char* buffer, std::size_t size) {
  const ssize_t peeked = RetryOnInterrupt(
      [&] { return ::recv(Fd(handle), buffer, size, MSG_PEEK | MSG_DONTWAIT); });
  if (peeked == 0) return Failure(kErrorBrokenPipe);  // the host closed its end
  if (peeked < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
    return StepResult{true, kErrorSuccess, 0};
  }
  return StepFrom(peeked);
}

StepResult ReadInto(PipeHandle handle, char* buffer, std::size_t size) {
  return StepFrom(RetryOnInterrupt([&] { return ::recv(Fd(handle), buffer, size, 0); }));
}

StepResult WriteFrom(PipeHandle handle, const char* data, std::size_t size) {
  return StepFrom(
      RetryOnInterrupt([&] { return ::send(Fd(handle), data, size, MSG_NOSIGNAL); }));
}

void ClosePipe(PipeHandle handle) {
  if (handle != kNoPipe) ::close(Fd(handle));
}

void ShutdownPipe(PipeHandle handle) {
  if (handle != kNoPipe) ::shutdown(Fd(handle), SHUT_RDWR);
}

// The socket itself wakes the wait when bytes arrive or the host hangs up, so the bound adds no
// latency: the main loop gives a long one and an idle bridge hardly ever wakes.
void WaitReadable(PipeHandle handle, std::chrono::milliseconds bound) {
  pollfd watched{Fd(handle), POLLIN, 0};
  ::poll(&watched, 1, static_cast<int>(bound.count()));
}

}  // namespace electron_morvane::platform
