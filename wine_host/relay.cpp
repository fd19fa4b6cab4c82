#include "relay.h"

#include <thread>
#include <vector>

namespace electron_morvane::wine_host {
namespace {

constexpr DWORD kChunk = 64 * 1024;

UniqueHandle ManualResetEvent() {
  return UniqueHandle(CreateEventA(nullptr, TRUE, FALSE, nullptr));
}

bool WriteAll(HANDLE out, const char* data, DWORD size) {
  while (size > 0) {
    DWORD written = 0;
    if (!WriteFile(out, data, size, &written, nullptr) || written == 0) return false;
    data += written;
    size -= written;
  }
  return true;
}

// The pipe is open for overlapped I/O; each write is waited for before the next.
bool WriteAllToPipe(HANDLE pipe, const char* data, DWORD size, HANDLE done) {
  while (size > 0) {
    OVERLAPPED overlapped{};
    overlapped.hEvent = done;
    DWORD written = 0;
    if (!WriteFile(pipe, data, size, nullptr, &overlapped) && GetLastError() != ERROR_IO_PENDING) {
      return false;
    }
    if (!GetOverlappedResult(pipe, &overlapped, &written, TRUE) || written == 0) return false;
    data += written;
    size -= written;
  }
  return true;
}

// A handle of its own for the thread that copies to the pipe, which may outlive the relay's.
UniqueHandle Duplicate(HANDLE handle) {
  HANDLE copy = nullptr;
  DuplicateHandle(GetCurrentProcess(), handle, GetCurrentProcess(), &copy, 0, FALSE,
                  DUPLICATE_SAME_ACCESS);
  return UniqueHandle(copy);
}

// Runs on a thread of its own: standard input blocks, and the bridge's bytes must keep flowing
// meanwhile. Signals hostClosed when standard input ends.
void CopyHostToPipe(UniqueHandle pipe, UniqueHandle hostClosed) {
  const HANDLE in = GetStdHandle(STD_INPUT_HANDLE);
  const UniqueHandle written = ManualResetEvent();
  std::vector<char> chunk(kChunk);
  bool pipeUsable = true;
  for (;;) {
    DWORD got = 0;
    if (!ReadFile(in, chunk.data(), kChunk, &got, nullptr) || got == 0) break;
    // Once the bridge is gone the host's bytes go nowhere, but the end of input still counts.
    if (pipeUsable) pipeUsable = WriteAllToPipe(pipe.Get(), chunk.data(), got, written.Get());
  }
  // Closed first, so that the relay's own handle is the last one of the server end.
  pipe.Reset();
  SetEvent(hostClosed.Get());
}

}  // namespace

void RelayUntilEitherSideCloses(HostPipe& pipe) {
  const HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
  const UniqueHandle hostClosed = ManualResetEvent();
  const UniqueHandle readDone = ManualResetEvent();
  std::thread hostToPipe(CopyHostToPipe, Duplicate(pipe.Handle()), Duplicate(hostClosed.Get()));

  std::vector<char> chunk(kChunk);
  for (;;) {
    OVERLAPPED overlapped{};
    overlapped.hEvent = readDone.Get();
    if (!ReadFile(pipe.Handle(), chunk.data(), kChunk, nullptr, &overlapped) &&
        GetLastError() != ERROR_IO_PENDING) {
      break;  // the bridge closed its end
    }
    // The read first: what the bridge wrote before the host closed still reaches the host.
    const HANDLE waits[] = {readDone.Get(), hostClosed.Get()};
    const bool hostGone = WaitForMultipleObjects(2, waits, FALSE, INFINITE) != WAIT_OBJECT_0;
    if (hostGone) CancelIoEx(pipe.Handle(), &overlapped);
    DWORD got = 0;
    const bool read = GetOverlappedResult(pipe.Handle(), &overlapped, &got, TRUE) != FALSE;
    if (read) WriteAll(out, chunk.data(), got);
    if (hostGone) {
      hostToPipe.join();
      pipe.Close();
      return;
    }
    if (!read) break;
  }
  // The host's side may stay open for good; the thread ends with the process, holding handles
  // of its own.
  hostToPipe.detach();
}

}  // namespace electron_morvane::wine_host
