// The bridge's own fixed texts on the wire, each in one place.
#pragma once

namespace electron_morvane {

// The start of the fatal message for a line that could not be handled.
inline constexpr char kParseMessageFailed[] = "parse message failed";
// The fatal message for a line there was no memory to handle, or to echo back.
inline constexpr char kLineDroppedNoMemory[] =
    "parse message failed line dropped: not enough memory";

}  // namespace electron_morvane
