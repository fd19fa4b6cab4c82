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

  // The main loop's pause when nothing is waiting: up to timeout, ending early when bytes arrive
  // where the system can wait on the pipe (POSIX); a plain sleep where it cannot (Windows).
  void IdleWait(std::chrono::milliseconds timeout) const;

 private:
  std::string pipeName;
  platform::PipeHandle handle = platform::kNoPipe;
  std::mutex ioMutex;
};

}  // namespace electron_morvane
