// Where outgoing messages go. Code that sends to the host from a library thread (job events,
// reverse requests) is handed one when it is installed, so it can be built and tested with any
// outlet, not only the process's own router.
#pragma once

#include <string>

namespace electron_morvane {

class MessageOutlet {
 public:
  virtual ~MessageOutlet() = default;

  // Writes one message that is already serialized (without its line feed); safe from any
  // thread. Lines come from MessageLine.
  virtual void SendLine(std::string serialized) const = 0;
};

}  // namespace electron_morvane
