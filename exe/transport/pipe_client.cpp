#include "transport/pipe_client.h"

#include <algorithm>
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
  knownWaiting = 0;
  return platform::OpenPipe(pipeName, handle);
}

std::uint32_t PipeClient::Peek(bool& ok, SystemError& error) {
  std::lock_guard<std::mutex> lock(readMutex);
  if (knownWaiting > 0 && handle != platform::kNoPipe) {
    ok = true;
    error = kErrorSuccess;
    return static_cast<std::uint32_t>(knownWaiting);
  }
  const platform::IoOutcome outcome = platform::BytesWaiting(handle);
  ok = outcome.ok;
  error = outcome.error;
  return outcome.ok ? static_cast<std::uint32_t>(outcome.bytes) : 0;
}

std::string PipeClient::ReadLine(bool& ok, SystemError& error) {
  std::string line;
  ReadLine(line, ok, error);
  return line;
}

void PipeClient::ReadLine(std::string& line, bool& ok, SystemError& error) {
  line.clear();
  readerThread.store(std::this_thread::get_id(), std::memory_order_relaxed);
  std::lock_guard<std::mutex> lock(readMutex);
  if (handle == platform::kNoPipe) {
    ok = false;
    error = kErrorInvalidHandle;
    return;
  }
  platform::IoOutcome outcome;
  try {
    // A whole line the last look already saw is taken out at once, without looking again.
    const char* known = readScratch.data() + knownAt;
    const char* feed = std::find(known, known + knownWaiting, '\n');
    if (feed != known + knownWaiting) {
      const std::size_t size = static_cast<std::size_t>(feed - known) + 1;
      outcome = platform::ReadExactly(handle, line, size);
      knownAt += size;
      knownWaiting = outcome.ok ? knownWaiting - size : 0;
    } else {
      knownWaiting = 0;
      outcome = platform::ReadThroughLineFeed(handle, line, readScratch);
      if (outcome.ok) {
        knownAt = outcome.beyondAt;
        knownWaiting = outcome.seenBeyond;
      }
    }
  } catch (const std::bad_alloc&) {
    knownWaiting = 0;
    std::string().swap(line);
    outcome = platform::DiscardThroughLineFeed(handle);
    if (outcome.ok) outcome.error = kErrorNotEnoughMemory;
  }
  ok = outcome.ok;
  error = outcome.error;
  if (!outcome.ok || error != kErrorSuccess) line.clear();
}

void PipeClient::WriteLine(std::string text, bool& ok, SystemError& error) {
  if (shutDown.load()) {
    ok = false;
    error = kErrorBrokenPipe;
    return;
  }
  // The line is made whole before the lock: the lock is held for the write alone.
  text.push_back('\n');
  const bool reader =
      readerThread.load(std::memory_order_relaxed) == std::this_thread::get_id();
  ReplyFirstGuard lock(writeLock, reader);
  if (handle == platform::kNoPipe) {
    ok = false;
    error = kErrorInvalidHandle;
    return;
  }
  const platform::IoOutcome outcome = platform::WriteBuffer(handle, text.data(), text.size());
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
