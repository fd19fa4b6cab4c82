#pragma once

#include <string>

#include "transport/system_error.h"

namespace electron_morvane {

class MessageRouter;
class PipeClient;

// Connects to the host's pipe and serves it until the pipe fails; returns the system error code
// that ended it, which is the process exit code.
SystemError RunBridge(const std::string& pipePath);

// Reads lines and dispatches them, one at a time, until a read fails.
SystemError RunMainLoop(PipeClient& pipe, MessageRouter& router);

}  // namespace electron_morvane
