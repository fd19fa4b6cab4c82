#pragma once

#include <functional>
#include <string>

#include "transport/pipe_client.h"
#include "transport/system_error.h"

namespace electron_morvane {

// Takes one whole received line, its line feed included.
using LineHandler = std::function<void(const std::string& line)>;

// Reads lines and hands them over, one at a time and each completely before the next is read,
// until a read fails; returns the system error code of that failure.
SystemError RunMainLoop(PipeClient& pipe, const LineHandler& handleLine);

}  // namespace electron_morvane
