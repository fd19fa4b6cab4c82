// The client end of the host's pipe, framing messages as lines. Knows nothing of their content.
#pragma once

#include <chrono>
#include <cstdint>
#include <mutex>
#include <string>

#include "transport/pipe_platform.h"
#include "transport/system_error.h"

namespace electron_morvane {

class PipeClient {
 public:
  static PipeClient& GetInstance();

  PipeClient() = default;
  ~PipeClient();
  PipeClient(const PipeClient&) = delete;
  PipeClient& operator=(const PipeClient&) = delete;

  void SetPipeName(std::string path);
  // 0 when the pipe is open and in byte mode, else the code of the step that failed.
  SystemError Connect();
  // Bytes waiting to be read; 0 on failure.
  std::uint32_t Peek(bool& ok, SystemError& error);
  // One whole line with its final line feed, or the empty text on failure (the partial line is
  // dropped). Waits, holding the lock, until the line feed arrives.
  std::string ReadLine(bool& ok, SystemError& error);
  // Writes text and one line feed in one write.
  void WriteLine(const std::string& text, bool& ok, SystemError& error);
  void Close();

  // Waits up to timeout for bytes to arrive; used by the main loop in place of a plain sleep.
  void WaitReadable(std::chrono::milliseconds timeout) const;

 private:
  std::string pipeName_;
  platform::PipeHandle handle_ = platform::kNoPipe;
  std::mutex ioMutex_;
};

}  // namespace electron_morvane
