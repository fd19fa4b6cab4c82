#include "transport/pipe_client.h"

#include <new>
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
  std::lock_guard<std::mutex> lock(readMutex);
  const platform::IoOutcome outcome = platform::BytesWaiting(handle);
  ok = outcome.ok;
  error = outcome.error;
  return outcome.ok ? static_cast<std::uint32_t>(outcome.bytes) : 0;
}

std::string PipeClient::ReadLine(bool& ok, SystemError& error) {
  std::lock_guard<std::mutex> lock(readMutex);
  if (handle == platform::kNoPipe) {
    ok = false;
    error = kErrorInvalidHandle;
    return {};
  }
  std::string line;
  platform::IoOutcome outcome;
  try {
    outcome = platform::ReadThroughLineFeed(handle, line);
  } catch (const std::bad_alloc&) {
    std::string().swap(line);
    outcome = platform::DiscardThroughLineFeed(handle);
    if (outcome.ok) outcome.error = kErrorNotEnoughMemory;
  }
  ok = outcome.ok;
  error = outcome.error;
  if (!outcome.ok || error != kErrorSuccess) return {};
  return line;
}

void PipeClient::WriteLine(const std::string& text, bool& ok, SystemError& error) {
  if (shutDown.load()) {
    ok = false;
    error = kErrorBrokenPipe;
    return;
  }
  std::lock_guard<std::mutex> lock(writeMutex);
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

void PipeClient::Shutdown() {
  shutDown.store(true);
  platform::ShutdownPipe(handle);
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
