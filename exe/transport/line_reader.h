// Reading the pipe one line at a time, written once for both platforms over the few primitives a
// platform gives (ByteSource). It never takes a byte beyond a line's line feed out of the pipe,
// so the next line stays there for the next look.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "transport/pipe_platform.h"
#include "transport/system_error.h"

namespace electron_morvane {

// What a line reader needs of a pipe.
class ByteSource {
 public:
  virtual ~ByteSource() = default;
  // Copies up to size of the bytes waiting into buffer, leaving them in the pipe; never blocks,
  // and moves 0 bytes when none is waiting.
  virtual platform::StepResult Peek(char* buffer, std::size_t size) = 0;
  // Takes up to size bytes out of the pipe, blocking until at least one is there.
  virtual platform::StepResult Read(char* buffer, std::size_t size) = 0;
};

enum class LineStatus {
  kLine,              // a whole line, its line feed included
  kDroppedForMemory,  // a line too long to hold in memory, taken out through its line feed
  kFailed,            // the pipe failed; what had arrived of the line is dropped
};

struct LineRead {
  LineStatus status = LineStatus::kFailed;
  SystemError error = kErrorSuccess;  // why it failed, or not enough memory for a dropped line
};

// What the last look into the pipe saw beyond the line it ended: `waiting` bytes, still in the
// pipe in that order, copied in `buffer` from `at` on. The buffer grows as long lines need and
// is kept from line to line, so reading allocates nothing per line.
struct LookAhead {
  std::vector<char> buffer;
  std::size_t at = 0;
  std::size_t waiting = 0;
};

class LineReader {
 public:
  // Reads the next line into `line` (cleared first), waiting until its line feed arrives. A
  // line the last look already saw whole is taken out at once, without looking again.
  LineRead ReadLine(ByteSource& source, std::string& line);

  // Bytes known to be waiting in the pipe from the last look; there may be more.
  std::size_t KnownWaiting() const { return lookAhead.waiting; }

  // For a new connection: nothing seen before it is waiting on it.
  void Forget() { lookAhead.waiting = 0; }

 private:
  LookAhead lookAhead;
};

}  // namespace electron_morvane
