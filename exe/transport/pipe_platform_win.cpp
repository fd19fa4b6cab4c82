// The host's pipe on Windows: the client end of a named pipe that the host created, in byte read
// mode, opened for overlapped I/O so that the main thread can wait on the pipe while library
// threads write to it (a pending synchronous read would hold every write on the handle back).
// Each transfer still looks synchronous to its caller: it waits for its own OVERLAPPED.
#include <windows.h>

#include <algorithm>

#include "transport/pipe_platform.h"

namespace electron_morvane::platform {
namespace {

HANDLE Win(PipeHandle handle) { return reinterpret_cast<HANDLE>(handle); }

// Each thread's event for the overlapped transfers it waits for, one at a time; closed when the
// thread ends.
class ThreadEvent {
 public:
  ThreadEvent() : event_(CreateEventA(nullptr, TRUE, FALSE, nullptr)) {}
  ~ThreadEvent() {
    if (event_ != nullptr) CloseHandle(event_);
  }
  ThreadEvent(const ThreadEvent&) = delete;
  ThreadEvent& operator=(const ThreadEvent&) = delete;
  HANDLE Get() const { return event_; }

 private:
  HANDLE event_;
};

OVERLAPPED FreshOverlapped() {
  thread_local ThreadEvent event;
  OVERLAPPED overlapped{};
  overlapped.hEvent = event.Get();
  return overlapped;
}

// What a call that returned `succeeded` did, having moved `moved` bytes.
StepResult StepFrom(BOOL succeeded, DWORD moved) {
  return succeeded ? StepResult{true, kErrorSuccess, moved} : StepResult{false, GetLastError(), 0};
}

// Starts one overlapped transfer with start(overlapped) and waits until it has ended.
template <typename Start>
StepResult Transfer(HANDLE pipe, Start start) {
  OVERLAPPED overlapped = FreshOverlapped();
  if (overlapped.hEvent == nullptr) return StepResult{false, GetLastError(), 0};
  if (!start(&overlapped) && GetLastError() != ERROR_IO_PENDING) {
    return StepResult{false, GetLastError(), 0};
  }
  DWORD moved = 0;
  const BOOL succeeded = GetOverlappedResult(pipe, &overlapped, &moved, TRUE);
  return StepFrom(succeeded, moved);
}

// A transfer asks for at most what a DWORD counts; the caller goes on with the rest.
DWORD Part(std::size_t size) { return static_cast<DWORD>(std::min<std::size_t>(size, MAXDWORD)); }

}  // namespace

SystemError OpenPipe(const std::string& path, PipeHandle& handle) {
  handle = kNoPipe;
  // Identification only: a process that took the pipe's name before the host may learn who the
  // bridge runs as, but cannot act as that user.
  const HANDLE pipe =
      CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                  FILE_FLAG_OVERLAPPED | SECURITY_SQOS_PRESENT | SECURITY_IDENTIFICATION, nullptr);
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
  return Transfer(Win(handle), [&](OVERLAPPED* overlapped) {
    return ReadFile(Win(handle), buffer, Part(size), nullptr, overlapped);
  });
}

StepResult WriteFrom(PipeHandle handle, const char* data, std::size_t size) {
  return Transfer(Win(handle), [&](OVERLAPPED* overlapped) {
    return WriteFile(Win(handle), data, Part(size), nullptr, overlapped);
  });
}

void ClosePipe(PipeHandle handle) {
  if (handle != kNoPipe) CloseHandle(Win(handle));
}

// A pipe has no shutdown: cancelling the handle's pending I/O ends a transfer waiting in any
// thread. A transfer that starts later is not covered, so callers repeat it while they wait.
void ShutdownPipe(PipeHandle handle) {
  if (handle != kNoPipe) CancelIoEx(Win(handle), nullptr);
}

// A read of zero bytes stays pending until bytes arrive (or the host hangs up) and takes none of
// them: the wait is on the pipe itself, and writes from other threads go on meanwhile.
void WaitReadable(PipeHandle handle, std::chrono::milliseconds bound) {
  static constexpr std::chrono::milliseconds kPollInterval{10};
  const auto pause = [bound] { Sleep(static_cast<DWORD>(std::min(bound, kPollInterval).count())); };
  const HANDLE pipe = Win(handle);
  OVERLAPPED overlapped = FreshOverlapped();
  char none = 0;
  if (handle == kNoPipe || overlapped.hEvent == nullptr) return pause();
  if (ReadFile(pipe, &none, 0, nullptr, &overlapped)) {
    // Done at once. With nothing waiting that was a zero-length write, not bytes: pause one poll
    // interval, or the idle loop would spin on it.
    const StepResult waiting = BytesWaiting(handle);
    if (waiting.ok && waiting.moved == 0) pause();
    return;
  }
  // Failed at once (the host hung up): the next look tells why.
  if (GetLastError() != ERROR_IO_PENDING) return;
  DWORD ignored = 0;
  if (WaitForSingleObject(overlapped.hEvent, static_cast<DWORD>(bound.count())) != WAIT_OBJECT_0) {
    CancelIoEx(pipe, &overlapped);
  }
  // The OVERLAPPED lives on this stack: the read must have ended before it goes.
  GetOverlappedResult(pipe, &overlapped, &ignored, TRUE);
}

}  // namespace electron_morvane::platform
