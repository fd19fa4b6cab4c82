#include "support/bridge_host.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <stdexcept>
#include <thread>
#include <utility>

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

constexpr char kWineHostVariable[] = "MORVANE_TEST_WINE_HOST";
constexpr char kWineLoaderVariable[] = "MORVANE_TEST_WINE";
constexpr char kDefaultWineLoader[] = "/usr/lib/wine/wine64";
constexpr char kRelayConnected[] = "wine-host: connected";
constexpr char kKeepPipeVariable[] = "--keep-pipe-variable";
constexpr char kWindowsLibrary[] = "MorvaneSdk.dll";
// Wine starts two processes (the relay and the bridge) before the bridge connects.
constexpr auto kWineConnectTimeout = 30s;

std::string Variable(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? value : "";
}

// Wine shows the Linux root as drive Z:.
std::string WindowsPath(const std::string& path) {
  if (path.empty() || path[0] != '/') return path;
  std::string windows = "Z:" + path;
  std::replace(windows.begin(), windows.end(), '/', '\\');
  return windows;
}

std::map<std::string, std::string> InheritedEnvironment() {
  std::map<std::string, std::string> merged;
  for (char** entry = environ; *entry != nullptr; ++entry) {
    const std::string text = *entry;
    const auto equals = text.find('=');
    if (equals != std::string::npos) merged[text.substr(0, equals)] = text.substr(equals + 1);
  }
  merged.erase("MORVANE_PIPE");
  merged.erase("MORVANE_PIPE_SECRET");
  // The driver library's threads are never joined: they may outlive the bridge's main loop by
  // design, so a sanitizer build must not call them leaks.
  auto& tsan = merged["TSAN_OPTIONS"];
  tsan += (tsan.empty() ? "" : " ") + std::string("report_thread_leaks=0");
  return merged;
}

std::vector<std::string> Flatten(const std::map<std::string, std::string>& variables) {
  std::vector<std::string> result;
  for (const auto& [name, value] : variables) result.push_back(name + "=" + value);
  return result;
}

std::vector<std::string> Environment(const BridgeOptions& options, const std::string& pipePath) {
  std::map<std::string, std::string> merged = InheritedEnvironment();
  if (!options.unsetPipeVariable) merged["MORVANE_PIPE"] = options.pipePath.value_or(pipePath);
  for (const auto& [name, value] : options.environment) merged[name] = value;
  if (options.libraryFolder) {
    const auto existing = merged.find("LD_LIBRARY_PATH");
    merged["LD_LIBRARY_PATH"] =
        *options.libraryFolder +
        (existing != merged.end() && !existing->second.empty() ? ":" + existing->second : "");
  }
  return Flatten(merged);
}

// The relay sets MORVANE_PIPE itself unless the test decides it (unset, empty, elsewhere).
bool TestDecidesPipeVariable(const BridgeOptions& options) {
  return options.unsetPipeVariable || options.pipePath.has_value();
}

std::vector<std::string> WineEnvironment(const BridgeOptions& options) {
  std::map<std::string, std::string> merged = InheritedEnvironment();
  if (!options.unsetPipeVariable && options.pipePath) {
    merged["MORVANE_PIPE"] = WindowsPath(*options.pipePath);
  }
  for (const auto& [name, value] : options.environment) merged[name] = WindowsPath(value);
  return Flatten(merged);
}

// The Windows build of a library folder: the DLL in the folder itself, else in the folder of
// the same name in the Windows build, whose bin/ holds the bridge.
std::filesystem::path WindowsLibrary(const std::string& folder, const std::string& bridge) {
  namespace fs = std::filesystem;
  const fs::path inFolder = fs::path(folder) / kWindowsLibrary;
  if (fs::exists(inFolder)) return inFolder;
  const fs::path windowsBuild = fs::path(bridge).parent_path().parent_path();
  const fs::path mirrored = windowsBuild / fs::path(folder).filename() / kWindowsLibrary;
  if (fs::exists(mirrored)) return mirrored;
  throw std::runtime_error("no " + std::string(kWindowsLibrary) + " in " + folder + " or " +
                           mirrored.parent_path().string());
}

// Windows loads the DLL beside the exe first: the bridge runs from a copy beside the library.
std::string BridgeBesideLibrary(const std::string& bridge, const std::filesystem::path& library,
                                const std::string& folder) {
  namespace fs = std::filesystem;
  fs::create_directories(folder);
  const fs::path copy = fs::path(folder) / fs::path(bridge).filename();
  fs::copy_file(bridge, copy, fs::copy_options::overwrite_existing);
  fs::copy_file(library, fs::path(folder) / kWindowsLibrary, fs::copy_options::overwrite_existing);
  return copy.string();
}

pid_t Spawn(const std::vector<std::string>& arguments, const std::vector<std::string>& environment,
            const posix_spawn_file_actions_t* actions) {
  std::vector<std::string> argStorage = arguments;
  std::vector<char*> argv;
  for (auto& argument : argStorage) argv.push_back(argument.data());
  argv.push_back(nullptr);
  std::vector<std::string> envStorage = environment;
  std::vector<char*> envp;
  for (auto& entry : envStorage) envp.push_back(entry.data());
  envp.push_back(nullptr);
  pid_t child = -1;
  if (::posix_spawn(&child, argv[0], actions, nullptr, argv.data(), envp.data()) != 0) {
    throw std::runtime_error("cannot start " + arguments[0]);
  }
  return child;
}

}  // namespace

std::string BridgeExecutable() {
  const char* configured = std::getenv("MORVANE_BRIDGE");
  return configured != nullptr && *configured ? configured : MORVANE_DEFAULT_BRIDGE;
}

bool RunsUnderWine() { return !Variable(kWineHostVariable).empty(); }

BridgeHost::BridgeHost(BridgeOptions options) {
  if (RunsUnderWine()) {
    StartUnderWine(options);
  } else {
    StartNative(options);
  }
}

void BridgeHost::StartNative(const BridgeOptions& options) {
  socketPath_ = folder_.File("bridge.sock");
  listener_ = ListenAt(socketPath_);

  const std::string executable = BridgeExecutable();
  std::vector<std::string> command = {executable};
  if (options.addressSpaceLimit) {
    // prlimit sets the limit and then runs the bridge in its own place (same process).
    command.insert(command.begin(),
                   {"/usr/bin/prlimit", "--as=" + std::to_string(*options.addressSpaceLimit), "--"});
  }
  child_ = Spawn(command, Environment(options, socketPath_), nullptr);
  if (!options.expectConnection) return;
  pollfd watched{listener_, POLLIN, 0};
  if (::poll(&watched, 1, 10000) == 1) {
    connection_ = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
  }
  ::close(listener_);
  listener_ = -1;
  if (connection_ < 0) ADD_FAILURE() << "the bridge did not connect";
}

void BridgeHost::StartUnderWine(const BridgeOptions& options) {
  std::string bridge = BridgeExecutable();
  if (options.libraryFolder) {
    bridge = BridgeBesideLibrary(bridge, WindowsLibrary(*options.libraryFolder, bridge),
                                 folder_.File("windows-bridge"));
  }
  std::vector<std::string> arguments = {
      Variable(kWineLoaderVariable).empty() ? kDefaultWineLoader : Variable(kWineLoaderVariable),
      Variable(kWineHostVariable)};
  if (TestDecidesPipeVariable(options)) arguments.push_back(kKeepPipeVariable);
  arguments.push_back(WindowsPath(bridge));

  int ends[2];
  int status[2];
  if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends) < 0) {
    throw std::runtime_error("socketpair failed");
  }
  if (::pipe2(status, O_CLOEXEC) < 0) throw std::runtime_error("pipe failed");
  posix_spawn_file_actions_t actions;
  ::posix_spawn_file_actions_init(&actions);
  ::posix_spawn_file_actions_adddup2(&actions, ends[1], STDIN_FILENO);
  ::posix_spawn_file_actions_adddup2(&actions, ends[1], STDOUT_FILENO);
  ::posix_spawn_file_actions_adddup2(&actions, status[1], STDERR_FILENO);
  try {
    child_ = Spawn(arguments, WineEnvironment(options), &actions);
  } catch (...) {
    ::posix_spawn_file_actions_destroy(&actions);
    for (const int fd : {ends[0], ends[1], status[0], status[1]}) ::close(fd);
    throw;
  }
  ::posix_spawn_file_actions_destroy(&actions);
  ::close(ends[1]);
  ::close(status[1]);
  relayEnd_ = ends[0];
  relayStatus_ = status[0];

  if (!options.expectConnection) return;
  if (AwaitRelayConnected(kWineConnectTimeout)) {
    connection_ = std::exchange(relayEnd_, -1);
    return;
  }
  const std::optional<int> exited = WaitExit(1s);
  ADD_FAILURE() << "the bridge did not connect; the relay "
                << (exited ? "exited with " + std::to_string(*exited) : "is still running")
                << (statusReceived_.empty() ? "" : ", saying: " + statusReceived_);
}

bool BridgeHost::AwaitRelayConnected(std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (!relayConnected_ && relayStatus_ >= 0) {
    pollfd watched{relayStatus_, POLLIN, 0};
    const int ready = ::poll(&watched, 1, Remaining(deadline));
    if (ready < 0 && errno == EINTR) continue;
    if (ready != 1) break;
    char chunk[4096];
    const ssize_t got = ::read(relayStatus_, chunk, sizeof(chunk));
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) {
      ::close(relayStatus_);
      relayStatus_ = -1;
      break;
    }
    statusReceived_.append(chunk, static_cast<std::size_t>(got));
    for (auto feed = statusReceived_.find('\n'); feed != std::string::npos;
         feed = statusReceived_.find('\n')) {
      const std::string line = statusReceived_.substr(0, feed);
      statusReceived_.erase(0, feed + 1);
      if (line == kRelayConnected) {
        relayConnected_ = true;
      } else {
        std::cerr << "[wine] " << line << "\n";  // the relay's failures and Wine's own notes
      }
    }
  }
  return relayConnected_;
}

BridgeHost::~BridgeHost() {
  if (connection_ >= 0) ::close(connection_);
  if (relayEnd_ >= 0) ::close(relayEnd_);
  if (listener_ >= 0) ::close(listener_);
  if (child_ > 0 && !exitCode_) {
    if (!WaitExit(2s)) {
      ::kill(child_, SIGKILL);
      ::waitpid(child_, nullptr, 0);
    }
  }
  if (relayStatus_ >= 0) ::close(relayStatus_);
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
  if (RunsUnderWine()) return AwaitRelayConnected(0ms);
  if (listener_ < 0) return connection_ >= 0;
  pollfd watched{listener_, POLLIN, 0};
  return ::poll(&watched, 1, 0) == 1;
}

void BridgeHost::CloseHostEnd() {
  // Under Wine the relay reads the end of its input and closes the pipe in turn.
  if (connection_ >= 0) ::close(connection_);
  connection_ = -1;
}

void BridgeHost::ShutdownHostWrites() {
  if (connection_ >= 0) ::shutdown(connection_, SHUT_WR);
}

std::optional<int> BridgeHost::WaitExit(std::chrono::milliseconds timeout) {
  if (exitCode_) return exitCode_;
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    int status = 0;
    const pid_t done = ::waitpid(child_, &status, WNOHANG);
    if (done == child_) {
      exitCode_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      if (WIFSIGNALED(status)) termSignal_ = WTERMSIG(status);
      return exitCode_;
    }
    if (std::chrono::steady_clock::now() >= deadline) return std::nullopt;
    std::this_thread::sleep_for(5ms);
  }
}

void BridgeHost::Kill() {
  if (child_ <= 0 || exitCode_) return;
  ::kill(child_, SIGKILL);
  if (!WaitExit(10s)) ADD_FAILURE() << "the bridge outlived SIGKILL";
}

}  // namespace electron_morvane::testing
