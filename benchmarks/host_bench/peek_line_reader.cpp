#include "peek_line_reader.h"

#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace electron_morvane::bench {
namespace {

// A peek copies everything waiting up to its window, so with many short lines queued a wide
// window costs a big copy per line; a line that does not end within the window widens it.
constexpr std::size_t kFirstWindow = 4 * 1024;
constexpr std::size_t kWidestWindow = 256 * 1024;

}  // namespace

PeekLineReader::PeekLineReader(int fd) : fd_(fd), chunk_(kWidestWindow) {}

bool PeekLineReader::ReadLine(std::string& line) {
  line.clear();
  std::size_t window = kFirstWindow;
  for (;;) {
    const ssize_t peeked = ::recv(fd_, chunk_.data(), window, MSG_PEEK);
    if (peeked < 0 && errno == EINTR) continue;
    if (peeked <= 0) return false;
    const void* feed = std::memchr(chunk_.data(), '\n', static_cast<std::size_t>(peeked));
    const std::size_t take =
        feed == nullptr
            ? static_cast<std::size_t>(peeked)
            : static_cast<std::size_t>(static_cast<const char*>(feed) - chunk_.data()) + 1;
    std::size_t taken = 0;
    while (taken < take) {
      const ssize_t got = ::recv(fd_, chunk_.data() + taken, take - taken, 0);
      if (got < 0 && errno == EINTR) continue;
      if (got <= 0) return false;
      taken += static_cast<std::size_t>(got);
    }
    line.append(chunk_.data(), take);
    if (feed != nullptr) return true;
    window = std::min(window * 4, kWidestWindow);
  }
}

}  // namespace electron_morvane::bench
