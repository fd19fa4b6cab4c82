// The loop around a system read or write that may move only part of what it was asked to, written
// once for both platforms.
#pragma once

#include <cstddef>

#include "transport/pipe_platform.h"
#include "transport/system_error.h"

namespace electron_morvane::platform {

// The outcome of a whole transfer: `bytes` moved, all of them when ok.
struct TransferResult {
  bool ok = false;
  SystemError error = kErrorSuccess;
  std::size_t bytes = 0;
};

// Moves `size` bytes with as many transfers as the system needs: step(done) moves some of the
// bytes from offset `done` on. A transfer that succeeds yet moves nothing fails the whole (as a
// broken pipe): repeating it would spin for ever. On failure `bytes` tells how many were moved.
template <typename Step>
TransferResult TransferAll(std::size_t size, Step step) {
  std::size_t done = 0;
  while (done < size) {
    const StepResult result = step(done);
    if (!result.ok) return TransferResult{false, result.error, done};
    if (result.moved == 0) return TransferResult{false, kErrorBrokenPipe, done};
    done += result.moved;
  }
  return TransferResult{true, kErrorSuccess, done};
}

}  // namespace electron_morvane::platform
