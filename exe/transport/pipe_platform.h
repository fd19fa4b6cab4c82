// The few system calls the pipe client needs, one twin file per platform (pipe_platform_posix.cpp,
// pipe_platform_win.cpp). They move bytes and nothing more: how lines are found and taken is the
// line reader's (line_reader.h), written once for both. Every failure comes back as a Windows
// system error code.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>

#include "transport/system_error.h"

namespace electron_morvane::platform {

// A file descriptor on POSIX, a HANDLE on Windows; -1 (INVALID_HANDLE_VALUE) when none is open.
using PipeHandle = std::intptr_t;
constexpr PipeHandle kNoPipe = -1;

// What one system call did: moved `moved` bytes, or failed with `error`.
struct StepResult {
  bool ok = false;
  SystemError error = kErrorSuccess;
  std::size_t moved = 0;
};

// Opens the host's pipe and puts it in byte read mode. On a failure after the open, the handle
// is still returned so the caller owns and closes it. Who serves the pipe is the caller's to
// check (server_user.h).
SystemError OpenPipe(const std::string& path, PipeHandle& handle);

// How many bytes are waiting to be read, without blocking. A peer that has closed its end is a
// failure (broken pipe), even while nothing is waiting.
StepResult BytesWaiting(PipeHandle handle);

// Copies up to size of the bytes waiting into buffer and leaves them in the pipe, without
// blocking: 0 bytes when none is waiting. A peer that has closed its end is a failure.
StepResult PeekInto(PipeHandle handle, char* buffer, std::size_t size);

// Takes up to size bytes out of the pipe into buffer, blocking until at least one is there. A
// read that succeeds with 0 bytes (the peer closed its end, or a zero-length write arrived) is
// reported as it is: the caller decides, and never repeats it blindly.
StepResult ReadInto(PipeHandle handle, char* buffer, std::size_t size);

// One system write of up to size bytes; it may take only part of them.
StepResult WriteFrom(PipeHandle handle, const char* data, std::size_t size);

void ClosePipe(PipeHandle handle);

// Makes every transfer on the pipe fail, including one that is blocked right now in another
// thread. The handle stays open.
void ShutdownPipe(PipeHandle handle);

// Returns once the pipe is readable (bytes, or the host hung up) or `bound` has passed, whichever
// comes first; it may return earlier. Both wait on the pipe itself and wake on arrival: POSIX
// polls the socket, Windows keeps a zero-byte overlapped read pending.
void WaitReadable(PipeHandle handle, std::chrono::milliseconds bound);

}  // namespace electron_morvane::platform
