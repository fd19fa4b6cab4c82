// Maps received lines to handlers by "type" and "method", and sends every outgoing message.
#pragma once

#include <functional>
#include <map>
#include <string>

#include "protocol/json_rules.h"
#include "protocol/message_outlet.h"

namespace electron_morvane {

// Take the id and the whole received message, which is theirs to take long texts out of. A
// request's handler returns the message to send back, serialized.
using RequestHandler = std::function<std::string(const std::string& id, json& message)>;
using EventHandler = std::function<void(const std::string& id, json& message)>;
// Writes one serialized message (without its line feed); the text is the sender's to keep.
using MessageSender = std::function<void(std::string serialized)>;

class MessageRouter : public MessageOutlet {
 public:
  // An empty router: no methods and no sender until they are installed.
  MessageRouter() = default;
  MessageRouter(const MessageRouter&) = delete;
  MessageRouter& operator=(const MessageRouter&) = delete;

  void RegisterRequest(const std::string& method, RequestHandler handler);
  void RegisterEvent(const std::string& method, EventHandler handler);
  void SetSender(MessageSender sender);

  // Handles one received line completely, answering bad input with "error" or "fatal"
  // messages. Never throws.
  void Dispatch(const std::string& line);

  // Writes a serialized message from any thread; dropped while no sender is installed.
  void SendLine(std::string serialized) const override;

 private:
  void HandleMessage(json& message);
  void ReportUnhandledLine(const std::string& line, const char* reason) const noexcept;
  void SendFatalNoThrow(const char* error) const noexcept;

  std::map<std::string, RequestHandler> requestHandlers;
  std::map<std::string, EventHandler> eventHandlers;
  MessageSender sender;
};

}  // namespace electron_morvane
