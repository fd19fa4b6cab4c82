// Binds typed handlers to method names: each row names the method once, and the router gets an
// untyped handler that decodes, calls, encodes, and answers a message that fails to decode.
#pragma once

#include <string>
#include <utility>

#include "protocol/message_lines.h"
#include "protocol/message_router.h"
#include "protocol/messages.h"
#include "protocol/wire_texts.h"

namespace electron_morvane {

class MethodBinder {
 public:
  explicit MethodBinder(MessageRouter& router) : router(router) {}

  // handler: ResponseMessage<Data>(const RequestMessage<Params>&). A request that fails to
  // decode is answered with "parse request failed", naming this method.
  template <typename Params, typename Handler>
  MethodBinder& Request(const std::string& method, Handler handler) {
    router.RegisterRequest(method, [method, handler = std::move(handler)](
                                       const std::string& id, json& message) -> std::string {
      RequestMessage<Params> request;
      if (!FromJson(message, request)) {
        return MessageLine(makeErrorMessage(id, method, kParseRequestFailed));
      }
      return MessageLine(handler(request));
    });
    return *this;
  }

  // handler: void(const EventMessage<Params>&). An event that fails to decode is reported to
  // the host as a fatal message.
  template <typename Params, typename Handler>
  MethodBinder& Event(const std::string& method, Handler handler) {
    const MessageOutlet& outlet = router;
    router.RegisterEvent(method, [&outlet, method, handler = std::move(handler)](
                                     const std::string& /*id*/, json& message) {
      EventMessage<Params> event;
      if (!FromJson(std::move(message), event)) {
        outlet.SendLine(FatalLine(kParseEventFailed + method));
        return;
      }
      handler(event);
    });
    return *this;
  }

 private:
  MessageRouter& router;
};

}  // namespace electron_morvane
