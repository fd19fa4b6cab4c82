// The library's log lines, sent to the host as "log" requests that get no answer.
#pragma once

#include "protocol/message_outlet.h"
#include "protocol/messages.h"
#include "sdk/sdk_wrapper.h"

namespace electron_morvane {

json ToJson(const SdkWrapper::LogParam& line);
// The same params written straight as text: log lines come by the thousand.
std::string JsonText(const SdkWrapper::LogParam& line);
// Always 0, whether the line was written or lost.
int forwardLog(const MessageOutlet& outlet, const SdkWrapper::LogParam& line);

}  // namespace electron_morvane
