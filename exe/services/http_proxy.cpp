#include "services/http_proxy.h"

#include <string>
#include <utility>

#include "services/reverse_request.h"

namespace electron_morvane {
namespace {

// Headers arrive as an object (name: value), an array (index: value), a single string (empty
// name) or null (none); every value must be a string.
bool ReadHeaders(const json& value, std::map<std::string, std::string>& out) {
  std::map<std::string, std::string> headers;
  for (const auto& entry : value.items()) {
    std::string text;
    if (!ReadText(entry.value(), text)) return false;
    headers.emplace(entry.key(), std::move(text));
  }
  out = std::move(headers);
  return true;
}

// Every member but the body, whose text rule (a string) it checks without copying it.
bool DecodeAllButBody(const json& value, HttpResponseParam& decoded) {
  return ContainsAll(value, {"sdkTaskId", "result", "httpStatusCode", "errorMsg", "headers",
                             "body", "sdkData"}) &&
         ReadInt32(value, "sdkTaskId", decoded.sdkTaskId) &&
         ReadInt32(value, "result", decoded.result) &&
         ReadInt32(value, "httpStatusCode", decoded.httpStatusCode) &&
         ReadText(value, "errorMsg", decoded.errorMsg) &&
         ReadHeaders(value.at("headers"), decoded.headers) && value.at("body").is_string() &&
         ReadDecimalUInt64(value, "sdkData", decoded.sdkData);
}

}  // namespace

json ToJson(const SdkWrapper::HttpRequestParam& request) {
  json headers = json::object();
  for (const auto& [name, value] : request.headers) headers[name] = value;
  return json{{"url", request.url},
              {"method", request.method == MORVANE_HTTP_POST ? "POST" : "GET"},
              {"headers", std::move(headers)},
              {"body", request.body},
              {"sdkTaskId", request.sdkTaskId},
              {"sdkData", std::to_string(request.sdkData)}};
}

bool FromJson(const json& value, HttpResponseParam& out) {
  HttpResponseParam decoded;
  if (!DecodeAllButBody(value, decoded)) return false;
  decoded.body = value.at("body").get_ref<const std::string&>();
  out = std::move(decoded);
  return true;
}

// The body is the one text that may be long (megabytes): it moves from the parsed message to
// the library.
bool FromJson(json&& value, HttpResponseParam& out) {
  HttpResponseParam decoded;
  if (!DecodeAllButBody(value, decoded)) return false;
  decoded.body = std::move(value.at("body").get_ref<std::string&>());
  out = std::move(decoded);
  return true;
}

void forwardHttpRequest(const MessageOutlet& outlet, const SdkWrapper::HttpRequestParam& request) {
  sendReverseRequest(outlet, "httpRequest", request);
}

void onHttpRequestEvent(const EventMessage<HttpResponseParam>& event) {
  SdkWrapper::OnHttpResponse(event.params);
}

}  // namespace electron_morvane
