#include "transport/main_loop.h"

#include <chrono>
#include <cstddef>
#include <string>
#include <thread>

namespace electron_morvane {
namespace {

// After an empty line; and the longest the idle wait lasts before the pipe is looked at again
// (it wakes as soon as bytes arrive where the system can wait on the pipe).
constexpr std::chrono::milliseconds kIdleWait{10};
constexpr std::chrono::milliseconds kIdleBound{1000};
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
      pipe.IdleWait(kIdleBound);
      continue;
    }
    const LineRead read = pipe.ReadLine(line);
    if (read.status == LineStatus::kFailed) return read.error;
    if (read.status == LineStatus::kDroppedForMemory) {
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
