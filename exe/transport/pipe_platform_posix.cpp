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
#include <utility>
#include <vector>

#include "transport/errno_mapping_posix.h"
#include "transport/pipe_platform.h"
#include "transport/transfer_all.h"

namespace electron_morvane::platform {
namespace {

// A line is looked for with a small peek that doubles while no line feed is in it: a peek costs
// what it copies, and many short lines may be waiting behind this one.
constexpr std::size_t kFirstPeek = 1024;
constexpr std::size_t kLargestPeek = 256 * 1024;

int Fd(PipeHandle handle) { return static_cast<int>(handle); }

IoOutcome Failure(SystemError error) { return IoOutcome{false, error, 0}; }

// Repeats a system call that a signal interrupted; returns its last result, errno intact.
template <typename Call>
auto RetryOnInterrupt(Call call) {
  for (;;) {
    const auto result = call();
    if (!(result < 0 && errno == EINTR)) return result;
  }
}
IoOutcome FailureFromErrno() { return Failure(SystemErrorFromErrno(errno)); }

// What a recv or send that returned `result` did; errno tells why it failed.
StepResult StepFrom(ssize_t result) {
  return result < 0 ? StepResult{false, SystemErrorFromErrno(errno), 0}
                    : StepResult{true, kErrorSuccess, static_cast<std::size_t>(result)};
}

// One recv into the buffer; 0 bytes when the host has closed its end.
StepResult Received(int fd, char* buffer, std::size_t size) {
  return StepFrom(RetryOnInterrupt([&] { return ::recv(fd, buffer, size, 0); }));
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

// Only a host of the bridge's own user may serve it: a server of another user (one that took
// the path first, say) could read the library's traffic and answer in the host's name.
SystemError CheckServerIsOwnUser(int fd) {
  ucred server{};
  socklen_t size = sizeof(server);
  if (::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &server, &size) < 0) {
    return SystemErrorFromErrno(errno);
  }
  return server.uid == ::geteuid() ? kErrorSuccess : kErrorAccessDenied;
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
  const SystemError trust = CheckServerIsOwnUser(fd);
  if (trust != kErrorSuccess) return trust;
  return SetBlocking(fd);
}

IoOutcome BytesWaiting(PipeHandle handle) {
  int waiting = 0;
  if (::ioctl(Fd(handle), FIONREAD, &waiting) < 0) return FailureFromErrno();
  if (waiting > 0) return IoOutcome{true, kErrorSuccess, static_cast<std::size_t>(waiting)};
  // Nothing waiting: either the host is quiet or it closed its end, which only a read tells.
  char probe;
  const ssize_t peeked =
      RetryOnInterrupt([&] { return ::recv(Fd(handle), &probe, 1, MSG_PEEK | MSG_DONTWAIT); });
  if (peeked == 0) return Failure(kErrorBrokenPipe);  // the host closed its end
  if (peeked < 0) {
    if (errno == EAGAIN || errno == EWOULDBLOCK) return IoOutcome{true, kErrorSuccess, 0};
    return FailureFromErrno();
  }
  return IoOutcome{true, kErrorSuccess, static_cast<std::size_t>(peeked)};
}

namespace {

// Takes bytes out through the next line feed, a chunk at a time, handing each chunk to keep.
// Looks at what is waiting first (blocking until something is), then takes out exactly the bytes
// up to and including the line feed, or all of them when no line feed is there yet.
// chunkFor(size) gives a buffer of at least size bytes (or fewer, its most).
template <typename ChunkFor, typename Keep>
IoOutcome TakeThroughLineFeed(int fd, ChunkFor chunkFor, Keep keep) {
  std::size_t total = 0;
  std::size_t peekSize = kFirstPeek;
  for (;;) {
    const std::pair<char*, std::size_t> buffer = chunkFor(peekSize);
    char* const chunk = buffer.first;
    const std::size_t chunkSize = buffer.second;
    const ssize_t peeked =
        RetryOnInterrupt([&] { return ::recv(fd, chunk, chunkSize, MSG_PEEK); });
    if (peeked == 0) return Failure(kErrorBrokenPipe);
    if (peeked < 0) return FailureFromErrno();
    const char* end = chunk + peeked;
    const char* feed = std::find(static_cast<const char*>(chunk), end, '\n');
    const std::size_t take = feed == end ? static_cast<std::size_t>(peeked)
                                         : static_cast<std::size_t>(feed - chunk) + 1;
    const IoOutcome taken = TransferAll(
        take, [&](std::size_t done) { return Received(fd, chunk + done, take - done); });
    if (!taken.ok) return Failure(taken.error);
    keep(chunk, take);
    total += take;
    if (feed != end) {
      return IoOutcome{true, kErrorSuccess, total, static_cast<std::size_t>(peeked) - take,
                       static_cast<std::size_t>(take)};
    }
    if (take == chunkSize) peekSize = std::min(peekSize * 2, kLargestPeek);
  }
}

}  // namespace

IoOutcome ReadThroughLineFeed(PipeHandle handle, std::string& line, std::vector<char>& scratch) {
  return TakeThroughLineFeed(
      Fd(handle),
      [&scratch](std::size_t size) {
        if (scratch.size() < size) scratch.resize(size);
        return std::pair<char*, std::size_t>(scratch.data(), size);
      },
      [&line](const char* bytes, std::size_t size) { line.append(bytes, size); });
}

IoOutcome ReadExactly(PipeHandle handle, std::string& line, std::size_t count) {
  const std::size_t start = line.size();
  line.resize(start + count);
  const IoOutcome outcome = TransferAll(count, [&](std::size_t done) {
    return Received(Fd(handle), line.data() + start + done, count - done);
  });
  // On failure the line keeps the bytes that were taken.
  line.resize(start + outcome.bytes);
  return outcome;
}

IoOutcome DiscardThroughLineFeed(PipeHandle handle) {
  char chunk[16 * 1024];
  return TakeThroughLineFeed(
      Fd(handle),
      [&chunk](std::size_t size) {
        return std::pair<char*, std::size_t>(chunk, std::min(size, sizeof(chunk)));
      },
      [](const char*, std::size_t) {});
}

IoOutcome WriteBuffer(PipeHandle handle, const char* data, std::size_t size) {
  // One send normally takes the whole line; a signal may cut it short, and the rest must follow
  // or the host would see a broken line.
  return TransferAll(size, [&](std::size_t done) {
    return StepFrom(RetryOnInterrupt(
        [&] { return ::send(Fd(handle), data + done, size - done, MSG_NOSIGNAL); }));
  });
}

void ClosePipe(PipeHandle handle) {
  if (handle != kNoPipe) ::close(Fd(handle));
}

void ShutdownPipe(PipeHandle handle) {
  if (handle != kNoPipe) ::shutdown(Fd(handle), SHUT_RDWR);
}

// The socket itself wakes the wait when bytes arrive or the host hangs up, so no timeout adds
// latency here: the wait is long and an idle bridge hardly ever wakes. It is bounded only so that
// a wait on no descriptor (which poll ignores) still ends.
void IdleWait(PipeHandle handle, std::chrono::milliseconds timeout) {
  constexpr std::chrono::milliseconds kLongestWait{1000};
  pollfd watched{Fd(handle), POLLIN, 0};
  const std::chrono::milliseconds wait = handle == kNoPipe ? timeout : kLongestWait;
  ::poll(&watched, 1, static_cast<int>(wait.count()));
}

}  // namespace electron_morvane::platform
