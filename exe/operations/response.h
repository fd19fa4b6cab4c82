#pragma once

#include <utility>

#include "protocol/messages.h"

namespace electron_morvane {

// Every reply to a request (its response, and the events of a job it started) goes back the
// way the request came: "from" and "to" swapped, "id" and "method" repeated.
template <typename Reply, typename RequestParams>
Reply addressReply(const char* type, const RequestMessage<RequestParams>& request) {
  Reply reply;
  static_cast<Envelope&>(reply) =
      Envelope{type, request.to, request.from, request.id, request.method};
  return reply;
}

// The response skeleton every request handler starts from, with a status that says no result
// has been stored yet.
template <typename Data, typename Params>
ResponseMessage<Data> makeResponse(const RequestMessage<Params>& request) {
  return addressReply<ResponseMessage<Data>>("response", request);
}

// An event that reports on a job a request started.
template <typename Params, typename RequestParams>
EventMessage<Params> makeJobEvent(const RequestMessage<RequestParams>& request, Params params) {
  auto event = addressReply<EventMessage<Params>>("event", request);
  event.params = std::move(params);
  return event;
}

}  // namespace electron_morvane
