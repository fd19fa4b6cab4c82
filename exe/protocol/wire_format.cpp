#include "protocol/wire_format.h"

namespace electron_morvane {

json ParseLine(const std::string& line) {
  return json::parse(line, /*cb=*/nullptr, /*allow_exceptions=*/true, /*ignore_comments=*/false);
}

std::string SerializeMessage(const json& message) {
  return message.dump(-1, ' ', /*ensure_ascii=*/true, json::error_handler_t::replace);
}

}  // namespace electron_morvane
