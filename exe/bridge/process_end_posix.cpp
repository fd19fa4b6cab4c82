// _exit: no atexit handlers, no static destructors, no flush of stdio buffers (the bridge writes
// nothing to its standard streams).
#include <unistd.h>

#include "bridge/process_end.h"

// Defined by the leak checker's runtime when the build has one; null otherwise.
extern "C" __attribute__((weak)) void __lsan_do_leak_check();

namespace electron_morvane {

void EndProcess(SystemError code) {
  // The check the runtime would make at exit, which _exit skips. It ends the process itself,
  // with its own exit code, when it finds a leak.
  if (__lsan_do_leak_check != nullptr) __lsan_do_leak_check();
  ::_exit(static_cast<int>(code));
}

}  // namespace electron_morvane
