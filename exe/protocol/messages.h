// The envelope records every message shares, and their JSON conversions. A params or data record
// plugs in through its own ToJson / FromJson overloads.
#pragma once

#include <string>
#include <type_traits>
#include <utility>

#include "protocol/json_rules.h"
#include "protocol/result_codes.h"

namespace electron_morvane {

// Params of requests that take none: a "params" member, if present, is ignored.
struct NoParams {};
inline bool FromJson(const json& /*value*/, NoParams& /*out*/) { return true; }

// Data of responses that carry none: written as null.
struct NoData {};
inline json ToJson(const NoData& /*data*/) { return nullptr; }
inline json ToJson(const std::string& text) { return text; }

struct Envelope {
  std::string type;
  std::string from;
  std::string to;
  std::string id;
  std::string method;
};

template <typename Params>
struct RequestMessage : Envelope {
  Params params{};
};

template <typename Params>
struct EventMessage : Envelope {
  Params params{};
};

template <typename Data>
struct ResponseResult {
  ResultCode status = kResultNotStored;
  Data data{};
};

template <typename Data>
struct ResponseMessage : Envelope {
  ResponseResult<Data> result;
};

struct ErrorMessage {
  std::string type = "error";
  std::string from = "client";
  std::string to = "host";
  std::string id;
  std::string method;
  std::string error;
};

struct FatalMessage {
  std::string type = "fatal";
  std::string from = "client";
  std::string to = "host";
  std::string error;
};

inline constexpr char kHostParty[] = "host";
inline constexpr char kClientParty[] = "client";

json EnvelopeToJson(const Envelope& envelope);
// Reads the five envelope texts of a message that has already passed ContainsAll.
bool EnvelopeFromJson(const json& value, Envelope& out);

json ToJson(const ErrorMessage& message);
json ToJson(const FatalMessage& message);
ErrorMessage makeErrorMessage(std::string id, std::string method, std::string error);
FatalMessage makeFatalMessage(std::string error);

namespace detail {

template <typename Message>
json EnvelopeWithParams(const Message& message) {
  json value = EnvelopeToJson(message);
  value["params"] = ToJson(message.params);
  return value;
}

}  // namespace detail

template <typename Params>
json ToJson(const RequestMessage<Params>& message) {
  return detail::EnvelopeWithParams(message);
}

template <typename Params>
json ToJson(const EventMessage<Params>& message) {
  return detail::EnvelopeWithParams(message);
}

template <typename Data>
json ToJson(const ResponseResult<Data>& result) {
  json value = json::object();
  value["status"] = result.status;
  value["statusString"] = StatusString(result.status);
  value["data"] = ToJson(result.data);
  return value;
}

template <typename Data>
json ToJson(const ResponseMessage<Data>& message) {
  json value = EnvelopeToJson(message);
  value["result"] = ToJson(message.result);
  return value;
}

namespace detail {

// Decoding shared by requests and events: all or nothing, and never throws. Given the message to
// take from (Value a json rvalue), params whose decoder can take their long texts out of it
// instead of copying them do so, once everything else has decoded.
template <typename Message, typename Params, typename Value>
bool DecodeMessage(Value&& value, Message& out) {
  constexpr bool kTakesParams = !std::is_same_v<Params, NoParams>;
  try {
    const bool complete =
        kTakesParams ? ContainsAll(value, {"type", "from", "to", "id", "method", "params"})
                     : ContainsAll(value, {"type", "from", "to", "id", "method"});
    if (!complete) return false;
    Message decoded;
    if (!EnvelopeFromJson(value, decoded)) return false;
    if constexpr (kTakesParams) {
      if constexpr (std::is_lvalue_reference_v<Value>) {
        if (!FromJson(value.at("params"), decoded.params)) return false;
      } else {
        if (!FromJson(std::move(value.at("params")), decoded.params)) return false;
      }
    }
    out = std::move(decoded);
    return true;
  } catch (...) {
    return false;
  }
}

}  // namespace detail

template <typename Params>
bool FromJson(const json& value, RequestMessage<Params>& out) {
  return detail::DecodeMessage<RequestMessage<Params>, Params>(value, out);
}

template <typename Params>
bool FromJson(const json& value, EventMessage<Params>& out) {
  return detail::DecodeMessage<EventMessage<Params>, Params>(value, out);
}

// Takes long texts out of the message instead of copying them; value is left valid but
// unspecified.
template <typename Params>
bool FromJson(json&& value, EventMessage<Params>& out) {
  return detail::DecodeMessage<EventMessage<Params>, Params>(std::move(value), out);
}

}  // namespace electron_morvane
