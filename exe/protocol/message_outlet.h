// Where outgoing messages go. Code that sends to the host from a library thread (job events,
// reverse requests) is handed one when it is installed, so it can be built and tested with any
// outlet, not only the process's own router.
#pragma once

#include <string>

#include "protocol/json_rules.h"

namespace electron_morvane {

class MessageOutlet {
 public:
  virtual ~MessageOutlet() = default;

  // Serializes and writes one message; safe from any thread.
  virtual void Send(const json& message) const = 0;
  // Writes one message that is already serialized (without its line feed).
  virtual void SendLine(std::string serialized) const = 0;
};

}  // namespace electron_morvane
