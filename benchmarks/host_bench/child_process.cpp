#include "child_process.h"

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <cstring>
#include <stdexcept>
#include <thread>
#include <utility>

extern char** environ;

namespace electron_morvane::bench {
namespace {

std::vector<std::string> MergedEnvironment(const std::map<std::string, std::string>& changes) {
  std::map<std::string, std::string> merged;
  for (char** entry = environ; *entry != nullptr; ++entry) {
    const std::string text = *entry;
    const auto equals = text.find('=');
    if (equals != std::string::npos) merged[text.substr(0, equals)] = text.substr(equals + 1);
  }
  for (const auto& [name, value] : changes) merged[name] = value;
  std::vector<std::string> flat;
  for (const auto& [name, value] : merged) flat.push_back(name + "=" + value);
  return flat;
}

std::vector<char*> Pointers(std::vector<std::string>& texts) {
  std::vector<char*> pointers;
  for (auto& text : texts) pointers.push_back(text.data());
  pointers.push_back(nullptr);
  return pointers;
}

}  // namespace

ChildProcess::ChildProcess(const std::vector<std::string>& arguments,
                           const std::map<std::string, std::string>& changes) {
  std::vector<std::string> argumentTexts = arguments;
  std::vector<std::string> environmentTexts = MergedEnvironment(changes);
  const auto argv = Pointers(argumentTexts);
  const auto envp = Pointers(environmentTexts);
  const int failure = ::posix_spawn(&pid_, argv[0], nullptr, nullptr, argv.data(), envp.data());
  if (failure != 0) {
    pid_ = -1;
    throw std::runtime_error("cannot start " + arguments[0] + ": " + std::strerror(failure));
  }
}

ChildProcess::~ChildProcess() { Finish(); }

ChildProcess::ChildProcess(ChildProcess&& other) noexcept
    : pid_(std::exchange(other.pid_, -1)), exit_(std::exchange(other.exit_, std::nullopt)) {}

ChildProcess& ChildProcess::operator=(ChildProcess&& other) noexcept {
  if (this != &other) {
    Finish();
    pid_ = std::exchange(other.pid_, -1);
    exit_ = std::exchange(other.exit_, std::nullopt);
  }
  return *this;
}

std::optional<int> ChildProcess::ExitedWithin(std::chrono::milliseconds timeout) {
  if (pid_ < 0 || exit_) return exit_;
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    int status = 0;
    if (::waitpid(pid_, &status, WNOHANG) == pid_) {
      exit_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      return exit_;
    }
    if (std::chrono::steady_clock::now() >= deadline) return std::nullopt;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
}

void ChildProcess::Finish() {
  if (pid_ < 0 || exit_) return;
  if (!ExitedWithin(std::chrono::seconds(2))) {
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, nullptr, 0);
  }
  pid_ = -1;
}

}  // namespace electron_morvane::bench
