#include "support/bridge_host.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <thread>

#include <gtest/gtest.h>

extern char** environ;

namespace electron_morvane::testing {
namespace {

int Remaining(std::chrono::steady_clock::time_point deadline) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
      deadline - std::chrono::steady_clock::now());
  return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

int ListenAt(const std::string& path) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (path.size() >= sizeof(address.sun_path)) throw std::runtime_error("socket path too long");
  std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) < 0 ||
      ::listen(fd, 4) < 0) {
    throw std::runtime_error("cannot listen at " + path + ": " + std::strerror(errno));
  }
  return fd;
}

std::vector<std::string> Environment(const BridgeOptions& options, const std::string& pipePath) {
  std::map<std::string, std::string> merged;
  for (char** entry = environ; *entry != nullptr; ++entry) {
    const std::string text = *entry;
    const auto equals = text.find('=');
    if (equals != std::string::npos) merged[text.substr(0, equals)] = text.substr(equals + 1);
  }
  merged.erase("MORVANE_PIPE");
  // The driver library's threads are never joined: they may outlive the bridge's main loop by
  // design, so a sanitizer build must not call them leaks.
  auto& tsan = merged["TSAN_OPTIONS"];
  tsan += (tsan.empty() ? "" : " ") + std::string("report_thread_leaks=0");
  if (!options.unsetPipeVariable) merged["MORVANE_PIPE"] = options.pipePath.value_or(pipePath);
  for (const auto& [name, value] : options.environment) merged[name] = value;
  if (options.libraryFolder) {
    const auto existing = merged.find("LD_LIBRARY_PATH");
    merged["LD_LIBRARY_PATH"] = *options.libraryFolder + (existing != merged.end() && !existing->second.empty()
                                                              ? ":" + existing->second
                                                              : "");
  }
  std::vector<std::string> result;
  for (const auto& [name, value] : merged) result.push_back(name + "=" + value);
  return result;
}

}  // namespace

std::string BridgeExecutable() {
  const char* configured = std::getenv("MORVANE_BRIDGE");
  return configured != nullptr && *configured ? configured : MORVANE_DEFAULT_BRIDGE;
}

BridgeHost::BridgeHost(BridgeOptions options) {
  socketPath_ = folder_.File("bridge.sock");
  listener_ = ListenAt(socketPath_);

  const std::string executable = BridgeExecutable();
  std::vector<std::string> environment = Environment(options, socketPath_);
  std::vector<char*> envp;
  for (auto& entry : environment) envp.push_back(entry.data());
  envp.push_back(nullptr);
  std::string program = executable;
  char* argv[] = {program.data(), nullptr};
  if (::posix_spawn(&child_, executable.c_str(), nullptr, nullptr, argv, envp.data()) != 0) {
    throw std::runtime_error("cannot start " + executable);
  }
  if (!options.expectConnection) return;
  pollfd watched{listener_, POLLIN, 0};
  if (::poll(&watched, 1, 10000) == 1) {
    connection_ = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
  }
  ::close(listener_);
  listener_ = -1;
  if (connection_ < 0) ADD_FAILURE() << "the bridge did not connect";
}

BridgeHost::~BridgeHost() {
  if (connection_ >= 0) ::close(connection_);
  if (listener_ >= 0) ::close(listener_);
  if (child_ > 0 && !exitCode_) {
    if (!WaitExit(2s)) {
      ::kill(child_, SIGKILL);
      ::waitpid(child_, nullptr, 0);
    }
  }
}

void BridgeHost::Write(const std::string& bytes) {
  ASSERT_GE(connection_, 0) << "no connection to write to";
  const ssize_t sent = ::send(connection_, bytes.data(), bytes.size(), MSG_NOSIGNAL);
  ASSERT_EQ(sent, static_cast<ssize_t>(bytes.size())) << "short write to the bridge";
}

bool BridgeHost::FillBuffer(std::chrono::milliseconds timeout) {
  if (connection_ < 0) return false;
  pollfd watched{connection_, POLLIN, 0};
  if (::poll(&watched, 1, static_cast<int>(timeout.count())) != 1) return false;
  char chunk[65536];
  const ssize_t got = ::recv(connection_, chunk, sizeof(chunk), 0);
  if (got <= 0) return false;
  received_.append(chunk, static_cast<std::size_t>(got));
  return true;
}

std::optional<std::string> BridgeHost::ReadLine(std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    const auto feed = received_.find('\n');
    if (feed != std::string::npos) {
      std::string line = received_.substr(0, feed);
      received_.erase(0, feed + 1);
      return line;
    }
    if (!FillBuffer(std::chrono::milliseconds(Remaining(deadline)))) return std::nullopt;
  }
}

nlohmann::json BridgeHost::ReadMessage(std::chrono::milliseconds timeout) {
  const std::optional<std::string> line = ReadLine(timeout);
  if (!line) {
    ADD_FAILURE() << "no message from the bridge";
    return nullptr;
  }
  const auto parsed = nlohmann::json::parse(*line, nullptr, false);
  if (parsed.is_discarded()) ADD_FAILURE() << "not JSON: " << *line;
  return parsed;
}

bool BridgeHost::Quiet(std::chrono::milliseconds duration) {
  if (!received_.empty()) return false;
  return !FillBuffer(duration);
}

bool BridgeHost::ConnectionAttempted() {
  if (listener_ < 0) return connection_ >= 0;
  pollfd watched{listener_, POLLIN, 0};
  return ::poll(&watched, 1, 0) == 1;
}

void BridgeHost::CloseHostEnd() {
  if (connection_ >= 0) ::close(connection_);
  connection_ = -1;
}

std::optional<int> BridgeHost::WaitExit(std::chrono::milliseconds timeout) {
  if (exitCode_) return exitCode_;
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    int status = 0;
    const pid_t done = ::waitpid(child_, &status, WNOHANG);
    if (done == child_) {
      exitCode_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      return exitCode_;
    }
    if (std::chrono::steady_clock::now() >= deadline) return std::nullopt;
    std::this_thread::sleep_for(5ms);
  }
}

}  // namespace electron_morvane::testing
