// Where the process is wired: the pipe, the router with its method table, the sender between
// them, the main loop, and the exit sequence.
#pragma once

#include <string>

#include "transport/system_error.h"

namespace electron_morvane {

// Connects to the host's pipe and serves it until the pipe fails; returns the system error code
// that ended it, which is the process exit code. A non-empty secret is presented in a hello line,
// the first line the bridge writes; an empty one leaves the wire as it was without one.
SystemError RunBridge(const std::string& pipePath, const std::string& pipeSecret);

}  // namespace electron_morvane
