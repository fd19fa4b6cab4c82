#include "transport/main_loop.h"

#include <chrono>
#include <thread>

namespace electron_morvane {
namespace {

constexpr std::chrono::milliseconds kIdleWait{10};

}  // namespace

SystemError RunMainLoop(PipeClient& pipe, const LineHandler& handleLine,
                        const DroppedLineHandler& handleDroppedLine) {
  for (;;) {
    bool ok = false;
    SystemError error = kErrorSuccess;
    const std::uint32_t waiting = pipe.Peek(ok, error);
    if (!ok) return error;
    if (waiting == 0) {
      // Up to the whole wait: POSIX wakes early when bytes arrive, Windows sleeps it out.
      pipe.IdleWait(kIdleWait);
      continue;
    }
    const std::string line = pipe.ReadLine(ok, error);
    if (!ok) return error;
    if (error == kErrorNotEnoughMemory) {
      handleDroppedLine();
      continue;
    }
    if (line.empty() || line == "\n") {
      std::this_thread::sleep_for(kIdleWait);
      continue;
    }
    handleLine(line);
  }
}

}  // namespace electron_morvane
