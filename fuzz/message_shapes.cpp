#include "message_shapes.h"

#include <cstdint>
#include <initializer_list>
#include <iterator>
#include <string>
#include <string_view>

#include "written_line.h"

namespace electron_morvane::fuzz {
namespace {

using nlohmann::json;

class ShapeCheck {
 public:
  ShapeCheck(const json& message, const std::string& line) : message(message), line(line) {}

  // The rule's text is joined from its parts only when it is broken.
  template <typename... Parts>
  void Require(bool holds, const Parts&... rule) const {
    if (holds) return;
    std::string text;
    (text.append(std::string_view(rule)), ...);
    Violation(text, line);
  }

  // Exactly these members, no other.
  void Members(const json& object, std::initializer_list<const char*> keys,
               const char* what) const {
    Require(object.is_object() && object.size() == keys.size(), what, " has other members");
    for (const char* key : keys) Require(object.contains(key), what, " lacks \"", key, "\"");
  }

  void Text(const json& object, const char* key) const {
    Require(object.at(key).is_string(), "\"", key, "\" is not a string");
  }

  void Is(const json& object, const char* key, const char* expected) const {
    Require(object.at(key) == expected, "\"", key, "\" is not \"", expected, "\"");
  }

  // A signed member that keeps the library's 32-bit width.
  void Int32(const json& object, const char* key) const {
    const json& value = object.at(key);
    Require(value.is_number_integer() && value.get<std::int64_t>() >= INT32_MIN &&
                value.get<std::int64_t>() <= INT32_MAX,
            "\"", key, "\" is not a 32-bit integer");
  }

  // An unsigned member that keeps the library's 32-bit width.
  void UInt32(const json& object, const char* key) const {
    const json& value = object.at(key);
    Require(value.is_number_unsigned() && value.get<std::uint64_t>() <= UINT32_MAX,
            "\"", key, "\" is not an unsigned 32-bit integer");
  }

  // The library's 64-bit task value travels as decimal digits.
  void Decimal(const json& object, const char* key) const {
    Text(object, key);
    const std::string& text = object.at(key).get_ref<const std::string&>();
    bool digits = !text.empty() && text.size() <= 20 && (text == "0" || text[0] != '0');
    for (const char c : text) digits = digits && c >= '0' && c <= '9';
    Require(digits && (text.size() < 20 || text <= "18446744073709551615"),
            "\"", key, "\" is not the decimal text of a 64-bit value");
  }

  void Envelope(std::initializer_list<const char*> keys) const {
    Members(message, keys, "the message");
    for (const char* key : {"type", "from", "to", "id", "method"}) {
      if (message.contains(key)) Text(message, key);
    }
  }

  void FromBridge() const {
    Is(message, "from", "client");
    Is(message, "to", "host");
  }

  void ReverseRequest() const {
    Envelope({"type", "from", "to", "id", "method", "params"});
    FromBridge();
    Decimal(message, "id");
    const json& params = message.at("params");
    const std::string& method = message.at("method").get_ref<const std::string&>();
    if (method == "log") {
      Members(params, {"log"}, "log params");
      Text(params, "log");
    } else if (method == "downloadFile") {
      Members(params, {"url", "path", "sdkTaskId", "sdkData"}, "downloadFile params");
      Text(params, "url");
      Text(params, "path");
      Int32(params, "sdkTaskId");
      Decimal(params, "sdkData");
    } else if (method == "cancelDownloadFile") {
      Members(params, {"sdkTaskId"}, "cancelDownloadFile params");
      Int32(params, "sdkTaskId");
    } else if (method == "httpRequest") {
      Members(params, {"url", "method", "headers", "body", "sdkTaskId", "sdkData"},
              "httpRequest params");
      Text(params, "url");
      Require(params.at("method") == "GET" || params.at("method") == "POST",
              "an httpRequest's method is neither GET nor POST");
      Require(params.at("headers").is_object(), "httpRequest headers are not an object");
      for (const auto& header : params.at("headers")) {
        Require(header.is_string(), "an httpRequest header is not a string");
      }
      Text(params, "body");
      Int32(params, "sdkTaskId");
      Decimal(params, "sdkData");
    } else {
      Require(false, "a request from the bridge names a method it has no reason to send");
    }
  }

  void JobEvent() const {
    Envelope({"type", "from", "to", "id", "method", "params"});
    const json& params = message.at("params");
    const std::string& method = message.at("method").get_ref<const std::string&>();
    if (method == "checkDisplayDeviceDriver") {
      Members(params,
              {"name", "vendorId", "deviceId", "driverVersion", "driverDate", "fileSize",
               "needUpdate", "errorCode", "errorMsg"},
              "check event params");
      for (const char* key : {"name", "vendorId", "deviceId", "driverVersion", "driverDate",
                              "errorMsg"}) {
        Text(params, key);
      }
      UInt32(params, "fileSize");
      Require(params.at("needUpdate").is_boolean(), "\"needUpdate\" is not a boolean");
      Int32(params, "errorCode");
    } else if (method == "updateDisplayDeviceDriver") {
      Members(params,
              {"vendorId", "deviceId", "state", "stateString", "progress", "errorCode",
               "errorMsg"},
              "update event params");
      for (const char* key : {"vendorId", "deviceId", "errorMsg"}) Text(params, key);
      UInt32(params, "state");
      Int32(params, "progress");
      Int32(params, "errorCode");
      static const char* const kStates[] = {
          "unknown", "download", "download-error", "download-success", "unzip", "unzip-error",
          "unzip-success", "install", "install-error", "install-success", "update-driver-finish"};
      const auto state = params.at("state").get<std::uint64_t>();
      Require(params.at("stateString") == (state < std::size(kStates) ? kStates[state] : "unknown"),
              "\"stateString\" does not name \"state\"");
    } else {
      Require(false, "an event from the bridge names a method that starts no job");
    }
  }

  void Response() const {
    Envelope({"type", "from", "to", "id", "method", "result"});
    const json& result = message.at("result");
    Members(result, {"status", "statusString", "data"}, "a response's result");
    Int32(result, "status");
    Text(result, "statusString");
  }

 private:
  const json& message;
  const std::string& line;
};

}  // namespace

void CheckMessageShape(const json& message, const std::string& line) {
  const ShapeCheck check(message, line);
  check.Require(message.contains("type") && message.at("type").is_string(),
                "a written message has no \"type\" text");
  const std::string& type = message.at("type").get_ref<const std::string&>();
  if (type == "fatal") {
    check.Envelope({"type", "from", "to", "error"});
    check.FromBridge();
    check.Text(message, "error");
  } else if (type == "error") {
    check.Envelope({"type", "from", "to", "id", "method", "error"});
    check.FromBridge();
    check.Text(message, "error");
  } else if (type == "response") {
    check.Response();
  } else if (type == "request") {
    check.ReverseRequest();
  } else if (type == "event") {
    check.JobEvent();
  } else {
    check.Require(false, "a written message has an unknown \"type\"");
  }
}

}  // namespace electron_morvane::fuzz
