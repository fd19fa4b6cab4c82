#include "transport/pipe_client.h"

#include <memory>
#include <utility>

#include "transport/transfer_all.h"

namespace electron_morvane {
namespace {

// The line reader's view of the open pipe.
class PipeSource final : public ByteSource {
 public:
  explicit PipeSource(platform::PipeHandle handle) : handle_(handle) {}
  platform::StepResult Peek(char* buffer, std::size_t size) override {
    return platform::PeekInto(handle_, buffer, size);
  }
  platform::StepResult Read(char* buffer, std::size_t size) override {
    return platform::ReadInto(handle_, buffer, size);
  }

 private:
  platform::PipeHandle handle_;
};

}  // namespace

PipeClient& PipeClient::GetInstance() {
  static PipeClient client;
  return client;
}

PipeClient::PipeClient(const UserLookup& users) : users(users) {}

PipeClient::~PipeClient() { Close(); }

void PipeClient::SetPipeName(std::string path) { pipeName = std::move(path); }

SystemError PipeClient::Connect() {
  Close();
  lineReader.Forget();
  const SystemError opened = platform::OpenPipe(pipeName, handle);
  // A refused server gets no handle to write to, not even from Close's flush.
  const SystemError trust =
      opened == kErrorSuccess ? CheckServerIsOwnUser(handle, users) : kErrorSuccess;
  if (trust != kErrorSuccess) {
    platform::ClosePipe(handle);
    handle = platform::kNoPipe;
    return trust;
  }
  if (handle != platform::kNoPipe) {
    const platform::PipeHandle pipe = handle;
    lineWriter = std::make_unique<LineWriter>([pipe](const char* data, std::size_t size) {
      // One write normally takes everything; a signal on POSIX, or more than 4 GiB on Windows,
      // may leave a rest, which must follow or the host would see a broken line.
      return platform::TransferAll(size, [&](std::size_t done) {
        return platform::WriteFrom(pipe, data + done, size - done);
      });
    });
  }
  return opened;
}

std::uint32_t PipeClient::Peek(bool& ok, SystemError& error) {
  std::lock_guard<std::mutex> lock(readMutex);
  // At least what the last look saw beyond its line, without asking the system again.
  if (lineReader.KnownWaiting() > 0 && handle != platform::kNoPipe) {
    ok = true;
    error = kErrorSuccess;
    return static_cast<std::uint32_t>(lineReader.KnownWaiting());
  }
  const platform::StepResult waiting = platform::BytesWaiting(handle);
  ok = waiting.ok;
  error = waiting.error;
  return waiting.ok ? static_cast<std::uint32_t>(waiting.moved) : 0;
}

std::string PipeClient::ReadLine(bool& ok, SystemError& error) {
  std::string line;
  const LineRead read = ReadLine(line);
  ok = read.status != LineStatus::kFailed;
  error = ok ? kErrorSuccess : read.error;
  return line;
}

LineRead PipeClient::ReadLine(std::string& line) {
  line.clear();
  readerThread.store(std::this_thread::get_id(), std::memory_order_relaxed);
  std::lock_guard<std::mutex> lock(readMutex);
  if (handle == platform::kNoPipe) return LineRead{LineStatus::kFailed, kErrorInvalidHandle};
  PipeSource source(handle);
  return lineReader.ReadLine(source, line);
}

void PipeClient::WriteLine(std::string text, bool& ok, SystemError& error) {
  if (!lineWriter) {
    ok = false;
    error = kErrorInvalidHandle;
    return;
  }
  text.push_back('\n');
  const bool reader =
      readerThread.load(std::memory_order_relaxed) == std::this_thread::get_id();
  const LineWriter::Outcome written = lineWriter->Write(std::move(text), reader);
  ok = written.ok;
  error = written.error;
}

SystemError PipeClient::WriteLineNow(std::string text) {
  if (!lineWriter) return kErrorInvalidHandle;
  text.push_back('\n');
  const LineWriter::Outcome written = lineWriter->Write(std::move(text), true);
  return written.ok ? kErrorSuccess : written.error;
}

void PipeClient::Shutdown() {
  if (lineWriter) lineWriter->Fail();
  platform::ShutdownPipe(handle);
}

void PipeClient::Close() {
  if (lineWriter) {
    lineWriter->Stop([this] { platform::ShutdownPipe(handle); });
    lineWriter.reset();
  }
  if (handle == platform::kNoPipe) return;
  platform::ClosePipe(handle);
  handle = platform::kNoPipe;
}

void PipeClient::IdleWait(std::chrono::milliseconds bound) const {
  platform::WaitReadable(handle, bound);
}

}  // namespace electron_morvane
