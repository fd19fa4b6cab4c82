// A test host: listens on a socket in a fresh folder, starts the real bridge process with
// MORVANE_PIPE pointing at it, and exchanges lines with it.
//
// Wine mode, for the Windows build: with MORVANE_TEST_WINE_HOST naming wine-host.exe and
// MORVANE_BRIDGE naming morvane-bridge.exe, the host starts `wine64 wine-host.exe <bridge>` (the
// loader is $MORVANE_TEST_WINE, else /usr/lib/wine/wine64). The relay creates the named pipe,
// starts the bridge on it and passes the bridge's bytes to and from its standard input and
// output, which are one end of a socket pair: the test reads and writes that one socket as it
// would the bridge's own. Paths become Windows paths (drive Z: is the Linux root), and a library
// folder puts a copy of the bridge beside that folder's MorvaneSdk.dll (see BridgeOptions).
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

// Whether the bridge under test is the Windows build, run under Wine.
bool RunsUnderWine();

struct BridgeOptions {
  // Extra environment for the bridge (scenario files, ...). Under Wine a value that is an
  // absolute Linux path is given as the Windows path of the same file.
  std::map<std::string, std::string> environment;
  // A folder whose driver library the bridge loads in place of the one beside it. Under Wine:
  // the MorvaneSdk.dll in that folder, else in the folder of the same name in the Windows build
  // (the folder above the bridge's own), with a copy of the bridge beside it.
  std::optional<std::string> libraryFolder;
  // MORVANE_PIPE: the listening socket's path (under Wine: the relay's pipe) unless set here;
  // nullopt-with-unset leaves it out.
  std::optional<std::string> pipePath;
  bool unsetPipeVariable = false;
  // Whether to wait for the bridge to connect.
  bool expectConnection = true;
  // A limit on the bridge's address space in bytes (native bridge only), set with prlimit.
  std::optional<unsigned long long> addressSpaceLimit;
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

  // Whether anyone has connected to the listening socket (when no connection was expected);
  // under Wine, whether the bridge opened the relay's pipe.
  bool ConnectionAttempted();

  // Closes the host's end of the pipe.
  void CloseHostEnd();
  // Stops writing: the bridge reads the end of the pipe while the host's end stays open (and
  // unread, unless the test reads it).
  void ShutdownHostWrites();
  // The process started for the bridge (under Wine, the relay).
  pid_t ChildPid() const { return child_; }
  // The bridge's exit code, or nullopt when it has not exited in time (or died of a signal,
  // which is reported as 128 + signal number).
  std::optional<int> WaitExit(std::chrono::milliseconds timeout = 10s);
  // The signal that ended the process started for the bridge, once WaitExit has seen it end by
  // one; nothing while it runs or when it exited.
  std::optional<int> TermSignal() const { return termSignal_; }
  // Kills the process started for the bridge (under Wine the relay, whose job ends the bridge)
  // and waits for its end.
  void Kill();

 private:
  void StartNative(const BridgeOptions& options);
  void StartUnderWine(const BridgeOptions& options);
  // Reads the relay's standard error until it reports the bridge connected or the time is up.
  bool AwaitRelayConnected(std::chrono::milliseconds timeout);
  bool FillBuffer(std::chrono::milliseconds timeout);

  TempFolder folder_;
  std::string socketPath_;
  int listener_ = -1;
  int connection_ = -1;
  pid_t child_ = -1;
  std::optional<int> exitCode_;
  std::optional<int> termSignal_;
  std::string received_;
  // Under Wine: the test's end of the relay's standard input and output until the bridge has
  // connected, and the relay's standard error with what it said so far.
  int relayEnd_ = -1;
  int relayStatus_ = -1;
  std::string statusReceived_;
  bool relayConnected_ = false;
};

}  // namespace electron_morvane::testing
