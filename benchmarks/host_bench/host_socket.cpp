#include "host_socket.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <sys/un.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <stdexcept>

namespace electron_morvane::bench {
namespace {

constexpr std::size_t kChunk = 256 * 1024;

[[noreturn]] void Fail(const std::string& what) {
  throw std::runtime_error(what + ": " + std::strerror(errno));
}

void SetTimeout(int fd, int option, std::chrono::milliseconds timeout) {
  timeval value{};
  value.tv_sec = static_cast<time_t>(timeout.count() / 1000);
  value.tv_usec = static_cast<suseconds_t>((timeout.count() % 1000) * 1000);
  if (::setsockopt(fd, SOL_SOCKET, option, &value, sizeof(value)) < 0) Fail("setsockopt");
}

}  // namespace

UniqueFd ListenAt(const std::string& path) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (path.size() >= sizeof(address.sun_path)) throw std::runtime_error("socket path too long");
  std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
  UniqueFd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
  if (!fd.Valid()) Fail("socket");
  if (::bind(fd.Get(), reinterpret_cast<sockaddr*>(&address), sizeof(address)) < 0) Fail("bind");
  if (::listen(fd.Get(), 4) < 0) Fail("listen");
  return fd;
}

UniqueFd AcceptWithin(int listener, std::chrono::milliseconds timeout,
                      std::chrono::milliseconds ioTimeout) {
  pollfd watched{listener, POLLIN, 0};
  if (::poll(&watched, 1, static_cast<int>(timeout.count())) != 1) return UniqueFd();
  UniqueFd connection(::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC));
  if (!connection.Valid()) Fail("accept");
  SetTimeout(connection.Get(), SO_RCVTIMEO, ioTimeout);
  SetTimeout(connection.Get(), SO_SNDTIMEO, ioTimeout);
  return connection;
}

void SendAll(int fd, const char* data, std::size_t size) {
  std::size_t sent = 0;
  while (sent < size) {
    const ssize_t n = ::send(fd, data + sent, std::min(size - sent, kChunk), MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) Fail("send to the peer");
    sent += static_cast<std::size_t>(n);
  }
}

void Inbox::ReceiveChunk() {
  char* room = buffer_.Prepare(kChunk);
  ssize_t got;
  do {
    got = ::recv(fd_, room, kChunk, 0);
  } while (got < 0 && errno == EINTR);
  if (got == 0) throw std::runtime_error("the peer closed the pipe");
  if (got < 0) Fail("receive from the peer");
  buffer_.Commit(static_cast<std::size_t>(got));
}

std::string Inbox::NextLine() {
  for (;;) {
    const void* feed = std::memchr(buffer_.Data() + searched_, '\n', buffer_.Size() - searched_);
    if (feed != nullptr) {
      const auto length = static_cast<std::size_t>(static_cast<const char*>(feed) - buffer_.Data());
      std::string line(buffer_.Data(), length);
      buffer_.Consume(length + 1);
      searched_ = 0;
      counted_ = counted_ > length + 1 ? counted_ - length - 1 : 0;
      return line;
    }
    searched_ = buffer_.Size();
    ReceiveChunk();
  }
}

void Inbox::ReceiveLines(std::size_t lines) {
  std::size_t searched = counted_;
  while (lines > 0) {
    if (searched == buffer_.Size()) ReceiveChunk();
    const char* data = buffer_.Data();
    const void* feed = std::memchr(data + searched, '\n', buffer_.Size() - searched);
    if (feed == nullptr) {
      searched = buffer_.Size();
      continue;
    }
    searched = static_cast<std::size_t>(static_cast<const char*>(feed) - data) + 1;
    counted_ = searched;
    --lines;
  }
}

std::vector<std::string> SplitLines(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  for (auto feed = text.find('\n'); feed != std::string::npos; feed = text.find('\n', start)) {
    lines.push_back(text.substr(start, feed - start));
    start = feed + 1;
  }
  return lines;
}

}  // namespace electron_morvane::bench
