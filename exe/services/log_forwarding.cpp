#include "services/log_forwarding.h"

#include "protocol/wire_format.h"
#include "services/reverse_request.h"

namespace electron_morvane {

json ToJson(const SdkWrapper::LogParam& line) { return json{{"log", line.log}}; }

std::string JsonText(const SdkWrapper::LogParam& line) {
  std::string text = "{\"log\":";
  AppendQuoted(text, line.log);
  text += '}';
  return text;
}

int forwardLog(const MessageOutlet& outlet, const SdkWrapper::LogParam& line) {
  sendReverseRequest(outlet, "log", line);
  return 0;
}

}  // namespace electron_morvane
