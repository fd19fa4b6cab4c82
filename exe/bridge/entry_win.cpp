// The bridge's entry on Windows: a GUI-subsystem program, so the host's child gets no console
// window. The only input is MORVANE_PIPE, read once; unset reads as the empty path.
#include <windows.h>

#include <string>

#include "bridge/bridge_process.h"
#include "bridge/process_end.h"

namespace {

std::string PipePathFromEnvironment() {
  constexpr char kVariable[] = "MORVANE_PIPE";
  std::string value(MAX_PATH, '\0');
  for (;;) {
    const DWORD needed =
        GetEnvironmentVariableA(kVariable, value.data(), static_cast<DWORD>(value.size()));
    // Too small a buffer: the size asked for includes the terminating zero.
    if (needed >= value.size()) {
      value.resize(needed);
      continue;
    }
    value.resize(needed);  // 0 when unset (or set to the empty text)
    return value;
  }
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  electron_morvane::EndProcess(electron_morvane::RunBridge(PipePathFromEnvironment()));
}
