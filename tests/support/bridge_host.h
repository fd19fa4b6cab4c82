// A test host: listens on a socket in a fresh folder, starts the real bridge process with
// MORVANE_PIPE pointing at it, and exchanges lines with it.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "support/temp_folder.h"

namespace electron_morvane::testing {

using namespace std::chrono_literals;

// The bridge executable under test: $MORVANE_BRIDGE, else the one this build made.
std::string BridgeExecutable();

struct BridgeOptions {
  // Extra environment for the bridge (scenario files, ...).
  std::map<std::string, std::string> environment;
  // A folder whose driver library the bridge loads in place of the one beside it.
  std::optional<std::string> libraryFolder;
  // MORVANE_PIPE: the listening socket's path unless set here; nullopt-with-unset leaves it out.
  std::optional<std::string> pipePath;
  bool unsetPipeVariable = false;
  // Whether to wait for the bridge to connect.
  bool expectConnection = true;
};

class BridgeHost {
 public:
  explicit BridgeHost(BridgeOptions options = {});
  ~BridgeHost();
  BridgeHost(const BridgeHost&) = delete;
  BridgeHost& operator=(const BridgeHost&) = delete;

  bool Connected() const { return connection_ >= 0; }
  const TempFolder& Folder() const { return folder_; }

  // Writes bytes exactly as given, in one write.
  void Write(const std::string& bytes);
  void SendLine(const std::string& line) { Write(line + "\n"); }
  void Send(const nlohmann::json& message) { SendLine(message.dump()); }

  // The next line from the bridge without its line feed, or nullopt when none arrives in time
  // or the bridge closed its end.
  std::optional<std::string> ReadLine(std::chrono::milliseconds timeout = 10s);
  // The next line parsed; fails the current test when none comes or it is not JSON.
  nlohmann::json ReadMessage(std::chrono::milliseconds timeout = 10s);
  // True when nothing at all arrives within the given time.
  bool Quiet(std::chrono::milliseconds duration = 300ms);

  // Whether anyone has connected to the listening socket (when no connection was expected).
  bool ConnectionAttempted();

  // Closes the host's end of the pipe.
  void CloseHostEnd();
  // The bridge's exit code, or nullopt when it has not exited in time (or died of a signal,
  // which is reported as 128 + signal number).
  std::optional<int> WaitExit(std::chrono::milliseconds timeout = 10s);

 private:
  bool FillBuffer(std::chrono::milliseconds timeout);

  TempFolder folder_;
  std::string socketPath_;
  int listener_ = -1;
  int connection_ = -1;
  pid_t child_ = -1;
  std::optional<int> exitCode_;
  std::string received_;
};

}  // namespace electron_morvane::testing
