#pragma once

#include <functional>
#include <string>

#include "transport/pipe_client.h"
#include "transport/system_error.h"

namespace electron_morvane {

// Takes one whole received line, its line feed included.
using LineHandler = std::function<void(const std::string& line)>;
// Told that a line too long to hold in memory was dropped.
using DroppedLineHandler = std::function<void()>;

// Reads lines and hands them over, one at a time and each completely before the next is read,
// until a read fails; returns the system error code of that failure.
SystemError RunMainLoop(PipeClient& pipe, const LineHandler& handleLine,
                        const DroppedLineHandler& handleDroppedLine);

}  // namespace electron_morvane
