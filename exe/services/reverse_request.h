// What every request from the bridge to the host shares: ids from one counter and the envelope.
#pragma once

#include <string>
#include <utility>

#include "protocol/message_lines.h"
#include "protocol/message_outlet.h"
#include "protocol/messages.h"

namespace electron_morvane {

// "0", "1", "2", ... across all reverse requests of the process; safe from any thread.
std::string nextRequestId();

template <typename Params>
RequestMessage<Params> makeReverseRequest(std::string method, Params params) {
  RequestMessage<Params> request;
  request.type = "request";
  request.from = kClientParty;
  request.to = kHostParty;
  request.id = nextRequestId();
  request.method = std::move(method);
  request.params = std::move(params);
  return request;
}

template <typename Params>
void sendReverseRequest(const MessageOutlet& outlet, std::string method, Params params) {
  outlet.SendLine(MessageLine(makeReverseRequest(std::move(method), std::move(params))));
}

}  // namespace electron_morvane
