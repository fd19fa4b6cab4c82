#pragma once

#include "protocol/messages.h"

namespace electron_morvane {

// The response skeleton every request handler starts from: "from" and "to" swapped, "id" and
// "method" repeated, and a status that says no result has been stored yet.
template <typename Data, typename Params>
ResponseMessage<Data> makeResponse(const RequestMessage<Params>& request) {
  ResponseMessage<Data> response;
  response.type = "response";
  response.from = request.to;
  response.to = request.from;
  response.id = request.id;
  response.method = request.method;
  return response;
}

// The envelope of an event that reports on a job a request started: addressed like the
// request's response.
template <typename Params, typename RequestParams>
EventMessage<Params> makeJobEvent(const RequestMessage<RequestParams>& request, Params params) {
  EventMessage<Params> event;
  event.type = "event";
  event.from = request.to;
  event.to = request.from;
  event.id = request.id;
  event.method = request.method;
  event.params = std::move(params);
  return event;
}

}  // namespace electron_morvane
