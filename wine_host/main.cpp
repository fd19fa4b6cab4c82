// wine-host [--keep-pipe-variable] <bridge.exe>
//
// Creates a named pipe, starts the bridge with MORVANE_PIPE naming it, and relays bytes between
// the pipe and standard input/output. With --keep-pipe-variable the bridge gets MORVANE_PIPE as
// this process has it (set, empty or unset), for tests of a bridge that cannot connect. Writes
// "wine-host: connected" to standard error once the bridge has opened the pipe, and exits with
// the bridge's exit code.
#include <windows.h>

#include <optional>
#include <string>

#include "bridge_child.h"
#include "host_pipe.h"
#include "relay.h"

namespace {

using namespace electron_morvane::wine_host;

// The relay's own failures, distinct from every code a bridge exits with in the tests.
constexpr int kRelayFailure = 255;

void Status(const std::string& text) {
  const std::string line = "wine-host: " + text + "\n";
  DWORD written = 0;
  WriteFile(GetStdHandle(STD_ERROR_HANDLE), line.data(), static_cast<DWORD>(line.size()), &written,
            nullptr);
}

int Fail(const std::string& what, DWORD error) {
  Status(what + " (system error " + std::to_string(error) + ")");
  return kRelayFailure;
}

}  // namespace

int main(int argc, char* argv[]) {
  const std::string keepFlag = "--keep-pipe-variable";
  const bool keepVariable = argc == 3 && argv[1] == keepFlag;
  if (argc != 2 && !keepVariable) {
    Status("usage: wine-host [" + keepFlag + "] <bridge.exe>");
    return kRelayFailure;
  }
  const std::string program = argv[argc - 1];

  DWORD error = 0;
  std::optional<HostPipe> pipe = HostPipe::Create(error);
  if (!pipe) return Fail("cannot create the pipe", error);
  if (!keepVariable && !SetEnvironmentVariableA("MORVANE_PIPE", pipe->Name().c_str())) {
    return Fail("cannot set MORVANE_PIPE", GetLastError());
  }
  const std::optional<BridgeChild> bridge = BridgeChild::Start(program, error);
  if (!bridge) return Fail("cannot start " + program, error);

  if (pipe->WaitForClient(bridge->Process())) {
    Status("connected");
    RelayUntilEitherSideCloses(*pipe);
  }
  return static_cast<int>(bridge->WaitForExitCode());
}
