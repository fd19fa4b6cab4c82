// TerminateProcess of the process itself, not ExitProcess: ExitProcess runs the DLL detach of
// every loaded library under the loader lock while library threads are still ending, which is
// where the process was seen to hang.
#include <windows.h>

#include "bridge/process_end.h"

namespace electron_morvane {

void EndProcess(SystemError code) {
  TerminateProcess(GetCurrentProcess(), code);
  // Not reached: terminating the current process does not return.
  for (;;) Sleep(INFINITE);
}

}  // namespace electron_morvane
