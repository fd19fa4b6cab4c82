// The host's pipe on Windows: the client end of a named pipe that the host created, opened for
// synchronous I/O in byte read mode.
#include <windows.h>

#include <algorithm>

#include "transport/pipe_platform.h"

namespace electron_morvane::platform {
namespace {

HANDLE Win(PipeHandle handle) { return reinterpret_cast<HANDLE>(handle); }

// A transfer asks for at most what a DWORD counts; the caller goes on with the rest.
DWORD Part(std::size_t size) { return static_cast<DWORD>(std::min<std::size_t>(size, MAXDWORD)); }

// What a call that returned `succeeded` did, having moved `moved` bytes.
StepResult StepFrom(BOOL succeeded, DWORD moved) {
  return succeeded ? StepResult{true, kErrorSuccess, moved} : StepResult{false, GetLastError(), 0};
}

}  // namespace

SystemError OpenPipe(const std::string& path, PipeHandle& handle) {
  handle = kNoPipe;
  // Identification only: a process that took the pipe's name before the host may learn who the
  // bridge runs as, but cannot act as that user.
  const HANDLE pipe =
      CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                  SECURITY_SQOS_PRESENT | SECURITY_IDENTIFICATION, nullptr);
  if (pipe == INVALID_HANDLE_VALUE) return GetLastError();
  handle = reinterpret_cast<PipeHandle>(pipe);
  DWORD mode = PIPE_READMODE_BYTE;
  if (!SetNamedPipeHandleState(pipe, &mode, nullptr, nullptr)) return GetLastError();
  return kErrorSuccess;
}

StepResult BytesWaiting(PipeHandle handle) {
  DWORD available = 0;
  // The host closed its end: the peek fails with broken pipe.
  const BOOL succeeded = PeekNamedPipe(Win(handle), nullptr, 0, nullptr, &available, nullptr);
  return StepFrom(succeeded, available);
}

StepResult PeekInto(PipeHandle handle, char* buffer, std::size_t size) {
  DWORD peeked = 0;
  const BOOL succeeded = PeekNamedPipe(Win(handle), buffer, Part(size), &peeked, nullptr, nullptr);
  return StepFrom(succeeded, peeked);
}

StepResult ReadInto(PipeHandle handle, char* buffer, std::size_t size) {
  DWORD got = 0;
  const BOOL succeeded = ReadFile(Win(handle), buffer, Part(size), &got, nullptr);
  return StepFrom(succeeded, got);
}

StepResult WriteFrom(PipeHandle handle, const char* data, std::size_t size) {
  DWORD written = 0;
  const BOOL succeeded = WriteFile(Win(handle), data, Part(size), &written, nullptr);
  return StepFrom(succeeded, written);
}

void ClosePipe(PipeHandle handle) {
  if (handle != kNoPipe) CloseHandle(Win(handle));
}

// A synchronous pipe has no shutdown: cancelling the handle's pending I/O ends a blocked write
// in any thread. A write that starts later is not covered, so callers repeat it while they wait.
void ShutdownPipe(PipeHandle handle) {
  if (handle != kNoPipe) CancelIoEx(Win(handle), nullptr);
}

void WaitReadable(PipeHandle, std::chrono::milliseconds bound) {
  constexpr std::chrono::milliseconds kPollInterval{10};
  Sleep(static_cast<DWORD>(std::min(bound, kPollInterval).count()));
}

}  // namespace electron_morvane::platform
