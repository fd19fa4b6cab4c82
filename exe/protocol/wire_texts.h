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

// The bridge's first line when the host gave it a secret, so that the host lets in only the
// process it started: {"type":"hello","from":"client","to":"host","secret":<the secret>}.
inline constexpr char kHelloType[] = "hello";
inline constexpr char kTypeMember[] = "type";
inline constexpr char kFromMember[] = "from";
inline constexpr char kToMember[] = "to";
inline constexpr char kSecretMember[] = "secret";

}  // namespace electron_morvane
