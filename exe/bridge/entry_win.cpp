// The bridge's entry on Windows: a GUI-subsystem program, so the host's child gets no console
// window. Its inputs are MORVANE_PIPE and MORVANE_PIPE_SECRET, read once; unset reads as the
// empty text.
#include <windows.h>

#include <cstdlib>
#include <string>

#include "bridge/bridge_process.h"

namespace {

std::string Variable(const char* name) {
  std::string value(MAX_PATH, '\0');
  for (;;) {
    const DWORD needed =
        GetEnvironmentVariableA(name, value.data(), static_cast<DWORD>(value.size()));
    // Too small a buffer: the size asked for includes the terminating zero.
    if (needed >= value.size()) {
      value.resize(needed);
      continue;
    }
    value.resize(needed);  // 0 when unset (or set to the empty text)
    return value;
  }
}

// From the system's block, which programs started later inherit, and from the C runtime's copy,
// which getenv reads: made at start-up, it does not follow SetEnvironmentVariableA. (_putenv
// clears the system's block as well in the runtimes seen; the first call does not rely on it.)
void RemoveVariable(const char* name) {
  SetEnvironmentVariableA(name, nullptr);
  _putenv((std::string(name) + "=").c_str());
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  const std::string pipePath = Variable("MORVANE_PIPE");
  const std::string pipeSecret = Variable("MORVANE_PIPE_SECRET");
  // Before the library is first called: programs it starts must not inherit the secret.
  RemoveVariable("MORVANE_PIPE_SECRET");
  return static_cast<int>(electron_morvane::RunBridge(pipePath, pipeSecret));
}
