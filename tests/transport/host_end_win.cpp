#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>

#include "host_end.h"

namespace electron_morvane::testing {
namespace {

HANDLE CreateServer(const std::string& name) {
  // Two instances: room for one more connection beside the current one.
  return CreateNamedPipeA(name.c_str(), PIPE_ACCESS_DUPLEX, PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT,
                          2, 64 * 1024, 64 * 1024, 0, nullptr);
}

// Waits until bytes are there to read, the pipe fails (the read that follows tells how), or the
// host's silence limit passes.
bool AwaitBytes(HANDLE pipe, int limitMs) {
  constexpr int kPollMs = 10;
  for (int waited = 0; waited < limitMs; waited += kPollMs) {
    DWORD available = 0;
    if (!PeekNamedPipe(pipe, nullptr, 0, nullptr, &available, nullptr) || available > 0) {
      return true;
    }
    Sleep(kPollMs);
  }
  return false;
}

void Close(HANDLE& handle) {
  if (handle != INVALID_HANDLE_VALUE) CloseHandle(handle);
  handle = INVALID_HANDLE_VALUE;
}

}  // namespace

struct HostEnd::State {
  std::string name;
  HANDLE current = INVALID_HANDLE_VALUE;
  HANDLE next = INVALID_HANDLE_VALUE;
};

HostEnd::HostEnd() : state_(std::make_unique<State>()) {
  static std::atomic<int> counter{0};
  state_->name = "\\\\.\\pipe\\morvane-host-end-" + std::to_string(GetCurrentProcessId()) + "-" +
                 std::to_string(counter++);
  state_->next = CreateServer(state_->name);
  EXPECT_NE(state_->next, INVALID_HANDLE_VALUE) << GetLastError();
}

HostEnd::~HostEnd() {
  Close(state_->current);
  Close(state_->next);
}

const std::string& HostEnd::PipeName() const { return state_->name; }

void HostEnd::Accept() {
  Close(state_->current);
  state_->current = state_->next;
  state_->next = INVALID_HANDLE_VALUE;
  // The client has connected already: the server end is told so, or that the client has gone
  // again (what it wrote before it went can still be read).
  const BOOL connected = ConnectNamedPipe(state_->current, nullptr);
  ASSERT_TRUE(connected || GetLastError() == ERROR_PIPE_CONNECTED ||
              GetLastError() == ERROR_NO_DATA)
      << GetLastError();
}

void HostEnd::OfferAnotherConnection() {
  Close(state_->next);
  state_->next = CreateServer(state_->name);
  ASSERT_NE(state_->next, INVALID_HANDLE_VALUE) << GetLastError();
}

void HostEnd::Write(const std::string& bytes) {
  DWORD written = 0;
  ASSERT_TRUE(WriteFile(state_->current, bytes.data(), static_cast<DWORD>(bytes.size()), &written,
                        nullptr)) << GetLastError();
  ASSERT_EQ(written, bytes.size());
}

std::string HostEnd::Read(std::size_t count) {
  std::string bytes(count, '\0');
  std::size_t done = 0;
  while (done < count) {
    DWORD got = 0;
    if (!AwaitBytes(state_->current, kSilenceLimitMs) ||
        !ReadFile(state_->current, bytes.data() + done, static_cast<DWORD>(count - done), &got,
                  nullptr) || got == 0) {
      break;
    }
    done += got;
  }
  bytes.resize(done);
  return bytes;
}

bool HostEnd::ClientHungUp() {
  char byte = 0;
  DWORD got = 0;
  return !ReadFile(state_->current, &byte, 1, &got, nullptr) &&
         GetLastError() == ERROR_BROKEN_PIPE;
}

void HostEnd::HangUp() {
  Close(state_->current);
}

}  // namespace electron_morvane::testing
