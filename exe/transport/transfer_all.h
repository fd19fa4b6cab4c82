// The loop around a system read or write that may move only part of what it was asked to, written
// once for both platforms.
#pragma once

#include <cstddef>

#include "transport/pipe_platform.h"
#include "transport/system_error.h"

namespace electron_morvane::platform {

// What one system transfer did: moved `moved` bytes, or failed with `error`.
struct StepResult {
  bool ok = false;
  SystemError error = kErrorSuccess;
  std::size_t moved = 0;
};

// Moves `size` bytes with as many transfers as the system needs: step(done) moves some of the
// bytes from offset `done` on. A transfer that succeeds yet moves nothing fails the whole (as a
// broken pipe): repeating it would spin for ever. On failure `bytes` tells how many were moved.
template <typename Step>
IoOutcome TransferAll(std::size_t size, Step step) {
  std::size_t done = 0;
  while (done < size) {
    const StepResult result = step(done);
    if (!result.ok) return IoOutcome{false, result.error, done};
    if (result.moved == 0) return IoOutcome{false, kErrorBrokenPipe, done};
    done += result.moved;
  }
  return IoOutcome{true, kErrorSuccess, done};
}

}  // namespace electron_morvane::platform
