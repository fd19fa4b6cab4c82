// The bridge's own fixed texts on the wire, each in one place; the host matches on them.
#pragma once

namespace electron_morvane {

// The start of the fatal message for a line that could not be handled; followed by " ", the line
// and the reason when one is known.
inline constexpr char kParseMessageFailed[] = "parse message failed";
// The reason given when whatever broke was not a standard exception.
inline constexpr char kUnknownException[] = "unknown exception";
// The fatal message for a line there was no memory to handle, or to echo back.
inline constexpr char kLineDroppedNoMemory[] =
    "parse message failed line dropped: not enough memory";
// The error message for a request of a known method whose message fails to decode.
inline constexpr char kParseRequestFailed[] = "parse request failed";
// Followed directly by the event's method.
inline constexpr char kParseEventFailed[] = "parse event failed ";
inline constexpr char kUnknownEvent[] = "unknown event ";

}  // namespace electron_morvane
