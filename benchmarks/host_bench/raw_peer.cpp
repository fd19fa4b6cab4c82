#include "raw_peer.h"

#include <sys/socket.h>
#include <sys/un.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string_view>
#include <thread>

#include "peek_line_reader.h"
#include "unique_fd.h"
#include "wire.h"

namespace electron_morvane::bench {
namespace {

constexpr char kRawPeerFlag[] = "--raw-peer";

UniqueFd Connect(const char* path) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (path == nullptr || std::strlen(path) >= sizeof(address.sun_path)) return UniqueFd();
  std::strcpy(address.sun_path, path);
  UniqueFd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
  if (fd.Valid() &&
      ::connect(fd.Get(), reinterpret_cast<sockaddr*>(&address), sizeof(address)) < 0) {
    fd.Reset();
  }
  return fd;
}

// One write per line, under the one lock all writers share.
class LockedWriter {
 public:
  explicit LockedWriter(int fd) : fd_(fd) {}
  bool Write(const std::string& line) {
    const std::lock_guard<std::mutex> lock(mutex_);
    std::size_t sent = 0;
    while (sent < line.size()) {
      const ssize_t n = ::send(fd_, line.data() + sent, line.size() - sent, MSG_NOSIGNAL);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) return false;
      sent += static_cast<std::size_t>(n);
    }
    return true;
  }

 private:
  int fd_;
  std::mutex mutex_;
};

// The host writes "type" first; only the head of a line is looked at, so a 1 MiB event costs
// the raw peer nothing beyond reading it.
bool IsRequest(const std::string& line) {
  const std::string_view head(line.data(), std::min<std::size_t>(line.size(), 64));
  return head.find("\"type\":\"request\"") != std::string_view::npos;
}

class RawPeer {
 public:
  RawPeer(int fd, const RawPeerConfig& config)
      : fd_(fd), writer_(fd), reply_(config.reply), config_(config) {
    if (!config.logLine.empty()) logLine_ = LineTemplate(config.logLine);
  }

  ~RawPeer() {
    for (auto& thread : burst_) thread.join();
  }

  int Run() {
    PeekLineReader reader(fd_);
    std::string line;
    while (reader.ReadLine(line)) {
      if (!IsRequest(line)) continue;
      const std::string id = IdOf(line);
      if (!writer_.Write(reply_.Fill(id))) return 109;
      if (!logLine_.Empty() && burst_.empty() && id == config_.burstId) StartBurst();
    }
    return 109;  // the host closed its end, as the bridge reports it
  }

 private:
  void StartBurst() {
    for (std::uint32_t thread = 0; thread < config_.logThreads; ++thread) {
      burst_.emplace_back([this, thread] {
        for (std::uint32_t sequence = 0; sequence < config_.logCount; ++sequence) {
          const std::string id = std::to_string(nextId_.fetch_add(1, std::memory_order_relaxed));
          if (!writer_.Write(logLine_.Fill(id, LogText(thread, sequence)))) return;
        }
      });
    }
  }

  int fd_;
  LockedWriter writer_;
  LineTemplate reply_;
  LineTemplate logLine_;
  RawPeerConfig config_;
  std::atomic<std::uint64_t> nextId_{0};
  std::vector<std::thread> burst_;
};

}  // namespace

std::vector<std::string> RawPeerArguments(const RawPeerConfig& config) {
  return {kRawPeerFlag,
          config.reply,
          config.logLine,
          config.burstId,
          std::to_string(config.logThreads),
          std::to_string(config.logCount)};
}

bool IsRawPeerCall(int argc, char** argv) {
  return argc >= 2 && std::strcmp(argv[1], kRawPeerFlag) == 0;
}

int RunRawPeer(int argc, char** argv) {
  if (argc != 7) {
    std::fprintf(stderr, "raw peer: expected 5 arguments\n");
    return 87;
  }
  RawPeerConfig config;
  config.reply = argv[2];
  config.logLine = argv[3];
  config.burstId = argv[4];
  config.logThreads = static_cast<std::uint32_t>(std::strtoul(argv[5], nullptr, 10));
  config.logCount = static_cast<std::uint32_t>(std::strtoul(argv[6], nullptr, 10));
  const UniqueFd fd = Connect(std::getenv("MORVANE_PIPE"));
  if (!fd.Valid()) return 2;
  RawPeer peer(fd.Get(), config);
  return peer.Run();
}

}  // namespace electron_morvane::bench
