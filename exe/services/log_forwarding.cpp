#include "services/log_forwarding.h"

#include "services/reverse_request.h"

namespace electron_morvane {

json ToJson(const SdkWrapper::LogParam& line) { return json{{"log", line.log}}; }

int forwardLog(const MessageOutlet& outlet, const SdkWrapper::LogParam& line) {
  sendReverseRequest(outlet, "log", line);
  return 0;
}

}  // namespace electron_morvane
