#include "host_pipe.h"

namespace electron_morvane::wine_host {
namespace {

constexpr DWORD kBufferSize = 64 * 1024;

}  // namespace

std::optional<HostPipe> HostPipe::Create(DWORD& error) {
  // First instance only: a name that is already taken is tried again with the next number,
  // never joined.
  for (unsigned attempt = 0; attempt < 16; ++attempt) {
    const std::string name = "\\\\.\\pipe\\morvane-test-" + std::to_string(GetCurrentProcessId()) +
                             "-" + std::to_string(GetTickCount64()) + "-" + std::to_string(attempt);
    UniqueHandle pipe(CreateNamedPipeA(
        name.c_str(), PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED | FILE_FLAG_FIRST_PIPE_INSTANCE,
        PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT | PIPE_REJECT_REMOTE_CLIENTS, 1,
        kBufferSize, kBufferSize, 0, nullptr));
    if (pipe.Valid()) return HostPipe(name, std::move(pipe));
    error = GetLastError();
    if (error != ERROR_ACCESS_DENIED && error != ERROR_PIPE_BUSY) return std::nullopt;
  }
  return std::nullopt;
}

bool HostPipe::WaitForClient(HANDLE stop) {
  UniqueHandle connected(CreateEventA(nullptr, TRUE, FALSE, nullptr));
  OVERLAPPED overlapped{};
  overlapped.hEvent = connected.Get();
  if (ConnectNamedPipe(pipe_.Get(), &overlapped)) return true;
  switch (GetLastError()) {
    case ERROR_PIPE_CONNECTED:  // the client came between creation and this call
      return true;
    case ERROR_IO_PENDING:
      break;
    default:
      return false;
  }
  const HANDLE waits[] = {connected.Get(), stop};
  const DWORD woken = WaitForMultipleObjects(2, waits, FALSE, INFINITE);
  if (woken != WAIT_OBJECT_0) CancelIoEx(pipe_.Get(), &overlapped);
  DWORD ignored = 0;
  return GetOverlappedResult(pipe_.Get(), &overlapped, &ignored, TRUE) != FALSE;
}

}  // namespace electron_morvane::wine_host
