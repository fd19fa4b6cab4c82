// Reading lines the way the bridge must: look at what is waiting, then take out exactly the
// bytes through the line feed and never one beyond it. The raw peer reads with it, so its figures
// are the limit of the bridge's own transport.
#pragma once

#include <string>
#include <vector>

namespace electron_morvane::bench {

class PeekLineReader {
 public:
  explicit PeekLineReader(int fd);

  // Replaces `line` with the next line, line feed included; false when the pipe closed or failed.
  bool ReadLine(std::string& line);

 private:
  int fd_;
  std::vector<char> chunk_;  // kept between lines, so reading allocates nothing
};

}  // namespace electron_morvane::bench
