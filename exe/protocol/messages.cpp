#include "protocol/messages.h"

namespace electron_morvane {

json EnvelopeToJson(const Envelope& envelope) {
  return json{{"type", envelope.type},
              {"from", envelope.from},
              {"to", envelope.to},
              {"id", envelope.id},
              {"method", envelope.method}};
}

bool EnvelopeFromJson(const json& value, Envelope& out) {
  Envelope decoded;
  if (!ReadText(value, "type", decoded.type) || !ReadText(value, "from", decoded.from) ||
      !ReadText(value, "to", decoded.to) || !ReadText(value, "id", decoded.id) ||
      !ReadText(value, "method", decoded.method)) {
    return false;
  }
  out = std::move(decoded);
  return true;
}

json ToJson(const ErrorMessage& message) {
  return json{{"type", message.type}, {"from", message.from},     {"to", message.to},
              {"id", message.id},     {"method", message.method}, {"error", message.error}};
}

json ToJson(const FatalMessage& message) {
  return json{{"type", message.type},
              {"from", message.from},
              {"to", message.to},
              {"error", message.error}};
}

ErrorMessage makeErrorMessage(std::string id, std::string method, std::string error) {
  ErrorMessage message;
  message.id = std::move(id);
  message.method = std::move(method);
  message.error = std::move(error);
  return message;
}

FatalMessage makeFatalMessage(std::string error) {
  FatalMessage message;
  message.error = std::move(error);
  return message;
}

}  // namespace electron_morvane
