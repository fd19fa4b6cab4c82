// The host's side of the pipe: a listening Unix socket, the accepted connection, and reading
// what arrives as lines. The host reads freely in big chunks, as a Node.js host does.
#pragma once

#include <chrono>
#include <cstddef>
#include <string>
#include <vector>

#include "byte_buffer.h"
#include "unique_fd.h"

namespace electron_morvane::bench {

UniqueFd ListenAt(const std::string& path);
// The first connection within the time, or an invalid descriptor. Blocking reads and writes on
// it fail after `ioTimeout`, so a stuck peer ends a measurement instead of hanging it.
UniqueFd AcceptWithin(int listener, std::chrono::milliseconds timeout,
                      std::chrono::milliseconds ioTimeout);

// Throws when the peer is gone or stops reading for longer than the I/O timeout.
void SendAll(int fd, const char* data, std::size_t size);
inline void SendAll(int fd, const std::string& text) { SendAll(fd, text.data(), text.size()); }

// Bytes received, split into lines on demand.
class Inbox {
 public:
  explicit Inbox(int fd) : fd_(fd) {}

  // The next line without its line feed; throws when none arrives within the I/O timeout.
  std::string NextLine();
  // Receives until `lines` more line feeds have arrived (counted from the last NextLine, or the
  // start), keeping every byte. It only counts, so it keeps up with the fastest sender.
  void ReceiveLines(std::size_t lines);
  // The bytes received and not taken by NextLine, up to the last line feed counted.
  std::string CountedBytes() const { return std::string(buffer_.Data(), counted_); }
  void Reserve(std::size_t bytes) { buffer_.Reserve(bytes); }

 private:
  void ReceiveChunk();

  int fd_;
  ByteBuffer buffer_;
  std::size_t searched_ = 0;  // leading bytes known to hold no line feed
  std::size_t counted_ = 0;   // leading bytes up to the last line feed ReceiveLines counted
};

// Splits text into lines (without line feeds); a last part without one is left out.
std::vector<std::string> SplitLines(const std::string& text);

}  // namespace electron_morvane::bench
