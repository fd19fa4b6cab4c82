// How lines become JSON values and JSON values become lines.
#pragma once

#include <string>
#include <string_view>

#include "protocol/json_rules.h"

namespace electron_morvane {

// Parses one received line as a complete JSON text (surrounding white space allowed, comments
// not). Throws the JSON library's exceptions on malformed input.
json ParseLine(const std::string& line);

// Compact, pure-ASCII text of a message: non-ASCII as \u escapes, control characters escaped (so
// no raw line feed), each invalid UTF-8 sequence as U+FFFD, object members in key order.
std::string SerializeMessage(const json& message);

// Appends text as a JSON string, written exactly as SerializeMessage writes strings.
void AppendQuoted(std::string& out, std::string_view text);

}  // namespace electron_morvane
