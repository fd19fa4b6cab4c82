#include "transport/pipe_client.h"

#include <utility>

namespace electron_morvane {

PipeClient& PipeClient::GetInstance() {
  static PipeClient client;
  return client;
}

PipeClient::~PipeClient() { Close(); }

void PipeClient::SetPipeName(std::string path) { pipeName = std::move(path); }

SystemError PipeClient::Connect() {
  Close();
  return platform::OpenPipe(pipeName, handle);
}

std::uint32_t PipeClient::Peek(bool& ok, SystemError& error) {
  std::lock_guard<std::mutex> lock(ioMutex);
  const platform::IoOutcome outcome = platform::BytesWaiting(handle);
  ok = outcome.ok;
  error = outcome.error;
  return outcome.ok ? static_cast<std::uint32_t>(outcome.bytes) : 0;
}

std::string PipeClient::ReadLine(bool& ok, SystemError& error) {
  std::lock_guard<std::mutex> lock(ioMutex);
  if (handle == platform::kNoPipe) {
    ok = false;
    error = kErrorInvalidHandle;
    return {};
  }
  std::string line;
  const platform::IoOutcome outcome = platform::ReadThroughLineFeed(handle, line);
  ok = outcome.ok;
  error = outcome.error;
  if (!outcome.ok) return {};
  return line;
}

void PipeClient::WriteLine(const std::string& text, bool& ok, SystemError& error) {
  std::lock_guard<std::mutex> lock(ioMutex);
  if (handle == platform::kNoPipe) {
    ok = false;
    error = kErrorInvalidHandle;
    return;
  }
  std::string buffer;
  buffer.reserve(text.size() + 1);
  buffer.append(text).push_back('\n');
  const platform::IoOutcome outcome = platform::WriteBuffer(handle, buffer.data(), buffer.size());
  ok = outcome.ok;
  error = outcome.error;
}

void PipeClient::Close() {
  if (handle == platform::kNoPipe) return;
  platform::ClosePipe(handle);
  handle = platform::kNoPipe;
}

void PipeClient::IdleWait(std::chrono::milliseconds timeout) const {
  platform::IdleWait(handle, timeout);
}

}  // namespace electron_morvane
