// The client end of the host's pipe, framing messages as lines. Knows nothing of their content.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "transport/line_reader.h"
#include "transport/line_writer.h"
#include "transport/pipe_platform.h"
#include "transport/server_user.h"
#include "transport/system_error.h"

namespace electron_morvane {

class PipeClient {
 public:
  static PipeClient& GetInstance();

  // `users` tells who serves the pipe and who the bridge is (the system by default); it must
  // outlive the client.
  explicit PipeClient(const UserLookup& users = platform::SystemUsers());
  ~PipeClient();
  PipeClient(const PipeClient&) = delete;
  PipeClient& operator=(const PipeClient&) = delete;

  void SetPipeName(std::string path);
  // 0 when the pipe is open, in byte mode and served by the bridge's own user, else the code of
  // the step that failed. A server of another user is refused with 5 before a byte is written,
  // and its pipe closed at once.
  SystemError Connect();
  // Bytes waiting to be read (at least; without asking the system when the last read already saw
  // more waiting); 0 on failure.
  std::uint32_t Peek(bool& ok, SystemError& error);
  // One whole line with its final line feed, or the empty text on failure (the partial line is
  // dropped). Waits, holding the read lock, until the line feed arrives. A line too long to hold
  // in memory is taken out of the pipe through its line feed and dropped: ok and the empty text.
  std::string ReadLine(bool& ok, SystemError& error);
  // The same into the caller's string, whose capacity is kept from line to line, telling a
  // dropped line apart.
  LineRead ReadLine(std::string& line);
  // Writes text and one line feed, whole, from any thread: lines never interleave and each
  // thread's lines leave in its order (line_writer.h). Reads take a lock of their own: a write
  // blocked on a host that stopped reading does not keep the main loop from seeing the pipe fail.
  // The thread that reads the pipe writes urgently: it cannot read the host's next request
  // before its reply is out, so its line waits for no other thread's, and ok and error tell how
  // its write went. Another thread's line is queued for the pipe's writer thread: ok tells that
  // it was taken, and it waits only while the queue is full.
  void WriteLine(std::string text, bool& ok, SystemError& error);
  // Writes text and one line feed from the calling thread, urgently as the reading thread does,
  // and returns once it is out: 0, or the code of the failed write. For a line that must be the
  // first on the pipe, before any thread may write.
  SystemError WriteLineNow(std::string text);
  // Writes what is still queued, then closes the pipe. After Shutdown, drops it instead: Close
  // waits for a host that has stopped reading unless the pipe was shut down first.
  void Close();
  // Ends every transfer on the pipe, also one blocked in another thread (a write to a host that
  // stopped reading): it fails, and so does every later one; queued lines are dropped. Takes no
  // lock that a transfer holds.
  void Shutdown();

  // The main loop's pause when nothing is waiting: until bytes arrive, the host hangs up or
  // `bound` passes (see platform::WaitReadable).
  void IdleWait(std::chrono::milliseconds bound) const;

 private:
  const UserLookup& users;
  std::string pipeName;
  platform::PipeHandle handle = platform::kNoPipe;
  std::mutex readMutex;
  // The read lock's, with its look-ahead.
  LineReader lineReader;
  // The thread that last read a line: the main loop's.
  std::atomic<std::thread::id> readerThread{};
  // Made by a Connect that opens the pipe, ended by Close.
  std::unique_ptr<LineWriter> lineWriter;
};

}  // namespace electron_morvane
