// Turns typed handlers into the router's untyped ones: decode, call, encode, and answer a message
// that fails to decode.
#pragma once

#include <functional>
#include <string>
#include <utility>

#include "protocol/message_router.h"
#include "protocol/messages.h"

namespace electron_morvane {

template <typename Params, typename Data>
RequestHandler MakeRequestAdapter(
    std::string method,
    std::function<ResponseMessage<Data>(const RequestMessage<Params>&)> handler) {
  return [method = std::move(method), handler = std::move(handler)](const std::string& id,
                                                                    const json& message) -> json {
    RequestMessage<Params> request;
    if (!FromJson(message, request)) {
      return ToJson(MakeErrorMessage(id, method, "parse request failed"));
    }
    return ToJson(handler(request));
  };
}

template <typename Params, typename Data>
RequestHandler MakeRequestAdapter(std::string method,
                                  ResponseMessage<Data> (*handler)(const RequestMessage<Params>&)) {
  return MakeRequestAdapter<Params, Data>(
      std::move(method),
      std::function<ResponseMessage<Data>(const RequestMessage<Params>&)>(handler));
}

// An event that fails to decode is reported to the host through the given router.
template <typename Params>
EventHandler MakeEventAdapter(const MessageRouter& router, std::string method,
                              std::function<void(const EventMessage<Params>&)> handler) {
  return [&router, method = std::move(method), handler = std::move(handler)](
             const std::string& /*id*/, const json& message) {
    EventMessage<Params> event;
    if (!FromJson(message, event)) {
      router.Send(ToJson(MakeFatalMessage("parse event failed " + method)));
      return;
    }
    handler(event);
  };
}

}  // namespace electron_morvane
