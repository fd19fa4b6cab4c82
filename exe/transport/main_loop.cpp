#include "transport/main_loop.h"

#include <chrono>
#include <cstddef>
#include <string>
#include <thread>

namespace electron_morvane {
namespace {

constexpr std::chrono::milliseconds kIdleWait{10};
constexpr std::size_t kLargestKeptLine = 16 * 1024 * 1024;

}  // namespace

SystemError RunMainLoop(PipeClient& pipe, const LineHandler& handleLine,
                        const DroppedLineHandler& handleDroppedLine) {
  // One buffer for every line, so steady traffic allocates nothing; a rare huge line does not
  // keep its memory.
  std::string line;
  for (;;) {
    if (line.capacity() > kLargestKeptLine) std::string().swap(line);
    bool ok = false;
    SystemError error = kErrorSuccess;
    const std::uint32_t waiting = pipe.Peek(ok, error);
    if (!ok) return error;
    if (waiting == 0) {
      // POSIX wakes when bytes arrive; Windows sleeps the whole wait.
      pipe.IdleWait(kIdleWait);
      continue;
    }
    pipe.ReadLine(line, ok, error);
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
