// The host's pipe on Windows: the client end of a named pipe that the host created, opened for
// synchronous I/O in byte read mode.
#include <windows.h>

#include <algorithm>
#include <utility>
#include <vector>

#include "transport/pipe_platform.h"
#include "transport/transfer_all.h"

namespace electron_morvane::platform {
namespace {

// A line is looked for with a small peek that doubles while no line feed is in it: a peek costs
// what it copies, and many short lines may be waiting behind this one.
constexpr DWORD kFirstPeek = 1024;
constexpr DWORD kLargestPeek = 256 * 1024;

HANDLE Win(PipeHandle handle) { return reinterpret_cast<HANDLE>(handle); }

IoOutcome Failure(SystemError error) { return IoOutcome{false, error, 0}; }
IoOutcome LastFailure() { return Failure(GetLastError()); }

// Takes exactly count bytes out of the pipe; they are known to be waiting, so no read blocks.
IoOutcome TakeExactly(HANDLE pipe, char* data, std::size_t count) {
  return TransferAll(count, [&](std::size_t done) {
    DWORD got = 0;
    const DWORD part = static_cast<DWORD>(std::min<std::size_t>(count - done, MAXDWORD));
    if (!ReadFile(pipe, data + done, part, &got, nullptr)) {
      return StepResult{false, GetLastError(), 0};
    }
    return StepResult{true, kErrorSuccess, got};
  });
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

IoOutcome BytesWaiting(PipeHandle handle) {
  DWORD available = 0;
  // The host closed its end: the peek fails with broken pipe.
  if (!PeekNamedPipe(Win(handle), nullptr, 0, nullptr, &available, nullptr)) return LastFailure();
  return IoOutcome{true, kErrorSuccess, available};
}

namespace {

// Takes bytes out through the next line feed, a chunk at a time, handing each chunk to keep.
// chunkFor(size) gives a buffer of at least size bytes (or fewer, its most).
template <typename ChunkFor, typename Keep>
IoOutcome TakeThroughLineFeed(HANDLE pipe, ChunkFor chunkFor, Keep keep) {
  std::size_t total = 0;
  DWORD peekSize = kFirstPeek;
  for (;;) {
    const std::pair<char*, DWORD> buffer = chunkFor(peekSize);
    char* const chunk = buffer.first;
    const DWORD chunkSize = buffer.second;
    DWORD peeked = 0;
    if (!PeekNamedPipe(pipe, chunk, chunkSize, &peeked, nullptr, nullptr)) return LastFailure();
    if (peeked == 0) {
      // Nothing waiting: block for a single byte, which cannot go past a line feed.
      DWORD got = 0;
      if (!ReadFile(pipe, chunk, 1, &got, nullptr)) return LastFailure();
      keep(chunk, got);
      total += got;
      if (got == 1 && chunk[0] == '\n') return IoOutcome{true, kErrorSuccess, total};
      continue;
    }
    const char* end = chunk + peeked;
    const char* feed = std::find(static_cast<const char*>(chunk), end, '\n');
    const DWORD take = feed == end ? peeked : static_cast<DWORD>(feed - chunk) + 1;
    const IoOutcome taken = TakeExactly(pipe, chunk, take);
    if (!taken.ok) return Failure(taken.error);
    keep(chunk, take);
    total += take;
    if (feed != end) {
      return IoOutcome{true, kErrorSuccess, total, static_cast<std::size_t>(peeked) - take,
                       static_cast<std::size_t>(take)};
    }
    if (take == chunkSize) peekSize = std::min(peekSize * 2, kLargestPeek);
  }
}

}  // namespace

IoOutcome ReadThroughLineFeed(PipeHandle handle, std::string& line, std::vector<char>& scratch) {
  return TakeThroughLineFeed(
      Win(handle),
      [&scratch](DWORD size) {
        if (scratch.size() < size) scratch.resize(size);
        return std::pair<char*, DWORD>(scratch.data(), size);
      },
      [&line](const char* bytes, DWORD size) { line.append(bytes, size); });
}

IoOutcome ReadExactly(PipeHandle handle, std::string& line, std::size_t count) {
  const std::size_t start = line.size();
  line.resize(start + count);
  const IoOutcome outcome = TakeExactly(Win(handle), line.data() + start, count);
  // On failure the line keeps the bytes that were taken.
  line.resize(start + outcome.bytes);
  return outcome;
}

IoOutcome DiscardThroughLineFeed(PipeHandle handle) {
  char chunk[16 * 1024];
  return TakeThroughLineFeed(
      Win(handle),
      [&chunk](DWORD size) {
        return std::pair<char*, DWORD>(chunk, std::min<DWORD>(size, sizeof(chunk)));
      },
      [](const char*, DWORD) {});
}

IoOutcome WriteBuffer(PipeHandle handle, const char* data, std::size_t size) {
  // A synchronous write to a byte-mode pipe takes the whole buffer in one call; only a line
  // beyond 4 GiB needs more than one.
  return TransferAll(size, [&](std::size_t done) {
    const DWORD part = static_cast<DWORD>(std::min<std::size_t>(size - done, MAXDWORD));
    DWORD written = 0;
    if (!WriteFile(Win(handle), data + done, part, &written, nullptr)) {
      return StepResult{false, GetLastError(), 0};
    }
    return StepResult{true, kErrorSuccess, written};
  });
}

void ClosePipe(PipeHandle handle) {
  if (handle != kNoPipe) CloseHandle(Win(handle));
}

// A synchronous pipe has no shutdown: cancelling the handle's pending I/O ends a blocked write
// in any thread. A write that starts later is not covered, so callers repeat it while they wait.
void ShutdownPipe(PipeHandle handle) {
  if (handle != kNoPipe) CancelIoEx(Win(handle), nullptr);
}

void IdleWait(PipeHandle, std::chrono::milliseconds timeout) {
  Sleep(static_cast<DWORD>(timeout.count()));
}

}  // namespace electron_morvane::platform
