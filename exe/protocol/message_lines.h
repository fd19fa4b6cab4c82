// The one writer of outgoing lines: every message is written straight to its line, without first
// building it as a JSON object; the same text SerializeMessage(ToJson(message)) gives, members in
// key order, at a fraction of the cost. A params or data record that is cheap to write directly
// has its own JsonText overload; every other one goes through ToJson.
#pragma once

#include <string>
#include <string_view>

#include "protocol/messages.h"
#include "protocol/wire_format.h"

namespace electron_morvane {

template <typename Record>
std::string JsonText(const Record& record) {
  return SerializeMessage(ToJson(record));
}
inline std::string JsonText(const NoData&) { return "null"; }
inline std::string JsonText(const std::string& text) {
  std::string quoted;
  AppendQuoted(quoted, text);
  return quoted;
}

// {"from":..,"id":..,"method":..,"<member>":<value>,"to":..,"type":..}; member sorts between
// "method" and "to" ("params" or "result").
std::string EnvelopeLine(const Envelope& envelope, std::string_view member, std::string_view value);

template <typename Params>
std::string MessageLine(const RequestMessage<Params>& message) {
  return EnvelopeLine(message, "params", JsonText(message.params));
}

template <typename Params>
std::string MessageLine(const EventMessage<Params>& message) {
  return EnvelopeLine(message, "params", JsonText(message.params));
}

template <typename Data>
std::string MessageLine(const ResponseMessage<Data>& message) {
  std::string result = "{\"data\":";
  result += JsonText(message.result.data);
  result += ",\"status\":";
  result += std::to_string(message.result.status);
  result += ",\"statusString\":";
  AppendQuoted(result, StatusString(message.result.status));
  result += '}';
  return EnvelopeLine(message, "result", result);
}

// {"error":..,"from":..,"id":..,"method":..,"to":..,"type":"error"}
std::string MessageLine(const ErrorMessage& message);
// {"error":..,"from":..,"to":..,"type":"fatal"}
std::string MessageLine(const FatalMessage& message);
// The fatal message with this error text.
std::string FatalLine(std::string_view error);
// {"type":"hello","from":"client","to":"host","secret":..}: members in this order, not in key
// order, since the host compares the line as it is.
std::string HelloLine(std::string_view secret);

}  // namespace electron_morvane
