#include "protocol/message_router.h"

#include <exception>
#include <utility>

#include "protocol/messages.h"
#include "protocol/method_table.h"
#include "protocol/wire_format.h"

namespace electron_morvane {
namespace {

// Reads a member the router needs before any decoding. A missing member or one that is not a
// string throws the JSON library's own exception, which Dispatch reports like a parse error.
std::string RequiredText(const json& message, const char* key) {
  return message.at(key).get<std::string>();
}

}  // namespace

MessageRouter& MessageRouter::GetInstance() {
  static MessageRouter router;
  return router;
}

MessageRouter::MessageRouter() { RegisterMethodTable(*this); }

void MessageRouter::RegisterRequest(const std::string& method, RequestHandler handler) {
  requestHandlers_[method] = std::move(handler);
}

void MessageRouter::RegisterEvent(const std::string& method, EventHandler handler) {
  eventHandlers_[method] = std::move(handler);
}

void MessageRouter::SetSender(MessageSender sender) { sender_ = std::move(sender); }

void MessageRouter::Dispatch(const std::string& line) {
  if (line.empty()) return;
  try {
    HandleMessage(ParseLine(line));
  } catch (const std::exception& error) {
    SendFatalNoThrow("parse message failed " + line + " " + error.what());
  } catch (...) {
    SendFatalNoThrow("parse message failed " + line + " unknown exception");
  }
}

void MessageRouter::HandleMessage(const json& message) {
  if (!message.is_object()) {
    Send(ToJson(MakeFatalMessage("parse message failed")));
    return;
  }
  const std::string type = RequiredText(message, "type");
  if (type == "request") {
    const std::string id = RequiredText(message, "id");
    const std::string method = RequiredText(message, "method");
    const auto handler = requestHandlers_.find(method);
    if (handler != requestHandlers_.end()) Send(handler->second(id, message));
  } else if (type == "event") {
    const std::string id = RequiredText(message, "id");
    const std::string method = RequiredText(message, "method");
    const auto handler = eventHandlers_.find(method);
    if (handler != eventHandlers_.end()) {
      handler->second(id, message);
    } else {
      Send(ToJson(MakeFatalMessage("unknown event " + method)));
    }
  }
}

void MessageRouter::Send(const json& message) const {
  if (!sender_) return;
  sender_(SerializeMessage(message));
}

void MessageRouter::SendFatalNoThrow(const std::string& error) const noexcept {
  try {
    Send(ToJson(MakeFatalMessage(error)));
  } catch (...) {
    // The report of a failure failed too; there is no one left to tell.
  }
}

}  // namespace electron_morvane
