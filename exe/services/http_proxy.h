// The library's HTTP exchanges, made by the host: "httpRequest" out, "httpRequest" events back.
#pragma once

#include "protocol/message_outlet.h"
#include "protocol/messages.h"
#include "sdk/host_answers.h"
#include "sdk/sdk_wrapper.h"

namespace electron_morvane {

json ToJson(const SdkWrapper::HttpRequestParam& request);
bool FromJson(const json& value, HttpResponseParam& out);
// The same, taking the body out of value instead of copying it (on success only).
bool FromJson(json&& value, HttpResponseParam& out);

void forwardHttpRequest(const MessageOutlet& outlet, const SdkWrapper::HttpRequestParam& request);
void onHttpRequestEvent(const EventMessage<HttpResponseParam>& event);

}  // namespace electron_morvane
