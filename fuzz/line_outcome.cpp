#include "line_outcome.h"

#include <set>
#include <utility>

#include "written_line.h"

namespace electron_morvane::fuzz {
namespace {

using nlohmann::json;

const std::set<std::string>& TableRequests() {
  static const std::set<std::string> methods = {
      "init", "getSdkVersion", "getDisplayDevice", "setDriverDownloadDir",
      "checkDisplayDeviceDriver", "cancelCheckDisplayDeviceDriver",
      "updateDisplayDeviceDriver", "cancelUpdateDisplayDeviceDriver"};
  return methods;
}

bool IsTableEvent(const std::string& method) {
  return method == "downloadFile" || method == "httpRequest";
}

bool HasText(const json& object, const char* key) {
  return object.is_object() && object.contains(key) && object.at(key).is_string();
}

// The params rules simple enough to restate: the two adapter texts, the folder text. Init's
// optional members and log levels are left to the bridge (kMay).
ExpectedAnswer::Decoding DecodingOf(const json& request, const std::string& method) {
  using Decoding = ExpectedAnswer::Decoding;
  if (!HasText(request, "from") || !HasText(request, "to")) return Decoding::kCannot;
  if (method == "getSdkVersion" || method == "getDisplayDevice") return Decoding::kMust;
  if (!request.contains("params")) return Decoding::kCannot;
  const json& params = request.at("params");
  if (method == "setDriverDownloadDir") {
    return HasText(params, "dir") ? Decoding::kMust : Decoding::kCannot;
  }
  if (method == "init") return params.is_object() ? Decoding::kMay : Decoding::kCannot;
  return HasText(params, "vendorId") && HasText(params, "deviceId") ? Decoding::kMust
                                                                    : Decoding::kCannot;
}

ExpectedAnswer Fatal(std::string text, bool isPrefix) {
  ExpectedAnswer expected;
  expected.kind = ExpectedAnswer::Kind::kFatal;
  expected.fatalText = std::move(text);
  expected.fatalIsPrefix = isPrefix;
  return expected;
}

}  // namespace

bool IsRouterAnswer(const json& message) {
  const std::string& type = TextMember(message, "type");
  return type == "response" || type == "error" || type == "fatal";
}

ExpectedAnswer ExpectAnswer(const std::string& line) {
  if (line.empty()) return {};
  json message = json::parse(line, nullptr, /*allow_exceptions=*/false);
  // The fatal text repeats the line, whose invalid UTF-8 the bridge writes as U+FFFD: only the
  // start is known.
  if (message.is_discarded()) return Fatal("parse message failed ", true);
  if (!message.is_object()) return Fatal("parse message failed", false);
  if (!HasText(message, "type")) return Fatal("parse message failed ", true);
  const std::string& type = message.at("type").get_ref<const std::string&>();
  if (type != "request" && type != "event") return {};
  if (!HasText(message, "id") || !HasText(message, "method")) {
    return Fatal("parse message failed ", true);
  }
  const std::string& method = message.at("method").get_ref<const std::string&>();
  ExpectedAnswer expected;
  if (type == "request") {
    if (TableRequests().count(method) == 0) return {};
    expected.kind = ExpectedAnswer::Kind::kAnswer;
    expected.decoding = DecodingOf(message, method);
  } else {
    if (!IsTableEvent(method)) return Fatal("unknown event " + method, false);
    expected.kind = ExpectedAnswer::Kind::kEventHandled;
  }
  expected.request = std::move(message);
  return expected;
}

void CheckAnswer(const ExpectedAnswer& expected, const std::string& received,
                 const Messages& written, const std::vector<std::string>& lines) {
  Messages answers;
  for (const json* message : written) {
    if (IsRouterAnswer(*message)) answers.push_back(message);
  }
  const auto violation = [&](const std::string& rule) {
    Violation(rule, ExchangeReport(received, lines));
  };
  using Kind = ExpectedAnswer::Kind;
  switch (expected.kind) {
    case Kind::kNothing:
      if (!written.empty()) violation("a line that asks for no answer was answered");
      return;
    case Kind::kFatal: {
      if (written.size() != 1 || answers.size() != 1 ||
          TextMember(*written[0], "type") != "fatal") {
        violation("a line that must be answered by one fatal was not");
      }
      const std::string& text = TextMember(*written[0], "error");
      const bool matches = expected.fatalIsPrefix
                               ? text.compare(0, expected.fatalText.size(), expected.fatalText) == 0
                               : text == expected.fatalText;
      if (!matches) violation("a fatal does not say \"" + expected.fatalText + "\"");
      return;
    }
    case Kind::kEventHandled: {
      if (answers.empty()) return;
      const std::string& method = TextMember(expected.request, "method");
      if (answers.size() != 1 || TextMember(*answers[0], "type") != "fatal" ||
          TextMember(*answers[0], "error") != "parse event failed " + method) {
        violation("a known event was answered other than by \"parse event failed\"");
      }
      return;
    }
    case Kind::kAnswer:
      break;
  }
  if (answers.size() != 1) violation("a request of the table was not answered exactly once");
  const json& answer = *answers[0];
  const json& request = expected.request;
  if (answer.at("id") != request.at("id") || answer.at("method") != request.at("method")) {
    violation("an answer does not carry its request's id and method");
  }
  const std::string& type = TextMember(answer, "type");
  if (type == "error") {
    if (TextMember(answer, "error") != "parse request failed") {
      violation("a request's error is not \"parse request failed\"");
    }
    if (expected.decoding == ExpectedAnswer::Decoding::kMust) {
      violation("a request that decodes was refused");
    }
    return;
  }
  if (type != "response") violation("a request was answered by a fatal");
  if (expected.decoding == ExpectedAnswer::Decoding::kCannot) {
    violation("a request that cannot decode was served");
  }
  if (answer.at("from") != request.at("to") || answer.at("to") != request.at("from")) {
    violation("a response does not swap its request's \"from\" and \"to\"");
  }
}

}  // namespace electron_morvane::fuzz
