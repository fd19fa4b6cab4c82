#include "protocol/message_router.h"

#include <cstring>
#include <exception>
#include <utility>

#include "protocol/message_lines.h"
#include "protocol/wire_format.h"
#include "protocol/wire_texts.h"

namespace electron_morvane {
namespace {

// Reads a member the router needs before any decoding. A missing member or one that is not a
// string throws the JSON library's own exception, which Dispatch reports like a parse error.
std::string RequiredText(const json& message, const char* key) {
  return message.at(key).get<std::string>();
}

// A line up to this size is echoed whole in the fatal message that answers it. Beyond it the echo
// (and the parser's own text, which may quote the line too) is cut short: a full echo of an
// enormous line would need several times its memory again, only to send it back.
constexpr std::size_t kLongestEchoedLine = 1024 * 1024;
constexpr std::size_t kEchoedPart = 1024;

std::string ParseFailureText(const std::string& line, const char* reason) {
  std::string text = kParseMessageFailed;
  text += ' ';
  if (line.size() <= kLongestEchoedLine) {
    text += line;
    text += ' ';
    text += reason;
    return text;
  }
  text.append(line, 0, kEchoedPart);
  text += "... (" + std::to_string(line.size()) + " bytes) ";
  text.append(reason, ::strnlen(reason, kEchoedPart));
  return text;
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
    ReportUnhandledLine(line, error.what());
  } catch (...) {
    ReportUnhandledLine(line, kUnknownException);
  }
}

// Where memory runs out (for the parse, the handler or the report itself), the host still hears
// of the line, in a text that needs next to none.
void MessageRouter::ReportUnhandledLine(const std::string& line, const char* reason) const noexcept {
  try {
    SendLine(FatalLine(ParseFailureText(line, reason)));
  } catch (...) {
    SendFatalNoThrow(kLineDroppedNoMemory);
  }
}

void MessageRouter::HandleMessage(json& message) {
  if (!message.is_object()) {
    SendLine(FatalLine(kParseMessageFailed));
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
      SendLine(FatalLine(kUnknownEvent + method));
    }
  }
}

void MessageRouter::SendLine(std::string serialized) const {
  if (!sender) return;
  sender(std::move(serialized));
}

void MessageRouter::SendFatalNoThrow(const char* error) const noexcept {
  try {
    SendLine(FatalLine(error));
  } catch (...) {
    // The report of a failure failed too; there is no one left to tell.
  }
}

}  // namespace electron_morvane
