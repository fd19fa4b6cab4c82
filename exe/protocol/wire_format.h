// How lines become JSON values and JSON values become lines.
#pragma once

#include <string>

#include "protocol/json_rules.h"

namespace electron_morvane {

// Parses one received line as a complete JSON text (surrounding white space allowed, comments
// not). Throws the JSON library's exceptions on malformed input.
json ParseLine(const std::string& line);

// Compact, pure-ASCII text of a message: non-ASCII as \u escapes, control characters escaped (so
// no raw line feed), each invalid UTF-8 sequence as U+FFFD, object members in key order.
std::string SerializeMessage(const json& message);

}  // namespace electron_morvane
