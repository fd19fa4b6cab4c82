#include "protocol/wire_format.h"

#include <algorithm>

namespace electron_morvane {

json ParseLine(const std::string& line) {
  return json::parse(line, /*cb=*/nullptr, /*allow_exceptions=*/true, /*ignore_comments=*/false);
}

std::string SerializeMessage(const json& message) {
  return message.dump(-1, ' ', /*ensure_ascii=*/true, json::error_handler_t::replace);
}

void AppendQuoted(std::string& out, std::string_view text) {
  // Printable ASCII other than the quote and the backslash stands as it is; anything else is
  // left to the serializer, which escapes it.
  const bool plain = std::all_of(text.begin(), text.end(), [](char c) {
    return c >= 0x20 && c < 0x7f && c != '"' && c != '\\';
  });
  if (!plain) {
    out += SerializeMessage(json(text));
    return;
  }
  out.reserve(out.size() + text.size() + 2);
  out += '"';
  out += text;
  out += '"';
}

}  // namespace electron_morvane
