#include "protocol/message_router.h"

#include <exception>
#include <utility>

#include "protocol/messages.h"
#include "protocol/wire_format.h"

namespace electron_morvane {
namespace {

// Reads a member the router needs before any decoding. A missing member or one that is not a
// string throws the JSON library's own exception, which Dispatch reports like a parse error.
std::string RequiredText(const json& message, const char* key) {
  return message.at(key).get<std::string>();
}

}  // namespace

void MessageRouter::RegisterRequest(const std::string& method, RequestHandler handler) {
  requestHandlers[method] = std::move(handler);
}

void MessageRouter::RegisterEvent(const std::string& method, EventHandler handler) {
  eventHandlers[method] = std::move(handler);
}

void MessageRouter::SetSender(MessageSender newSender) { sender = std::move(newSender); }

void MessageRouter::Dispatch(const std::string& line) {
  if (line.empty()) return;
  try {
    json message = ParseLine(line);
    HandleMessage(message);
  } catch (const std::exception& error) {
    SendFatalNoThrow("parse message failed " + line + " " + error.what());
  } catch (...) {
    SendFatalNoThrow("parse message failed " + line + " unknown exception");
  }
}

void MessageRouter::HandleMessage(json& message) {
  if (!message.is_object()) {
    Send(ToJson(makeFatalMessage("parse message failed")));
    return;
  }
  const std::string type = RequiredText(message, "type");
  if (type == "request") {
    const std::string id = RequiredText(message, "id");
    const std::string method = RequiredText(message, "method");
    const auto handler = requestHandlers.find(method);
    if (handler != requestHandlers.end()) SendLine(handler->second(id, message));
  } else if (type == "event") {
    const std::string id = RequiredText(message, "id");
    const std::string method = RequiredText(message, "method");
    const auto handler = eventHandlers.find(method);
    if (handler != eventHandlers.end()) {
      handler->second(id, message);
    } else {
      Send(ToJson(makeFatalMessage("unknown event " + method)));
    }
  }
}

void MessageRouter::Send(const json& message) const {
  if (!sender) return;
  sender(SerializeMessage(message));
}

void MessageRouter::SendLine(std::string serialized) const {
  if (!sender) return;
  sender(std::move(serialized));
}

void MessageRouter::SendFatalNoThrow(const std::string& error) const noexcept {
  try {
    Send(ToJson(makeFatalMessage(error)));
  } catch (...) {
    // The report of a failure failed too; there is no one left to tell.
  }
}

}  // namespace electron_morvane
