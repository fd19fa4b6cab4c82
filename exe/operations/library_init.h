// The "init" request: configures and starts the library with the host's services installed.
#pragma once

#include <cstdint>
#include <string>

#include "protocol/messages.h"
#include "sdk/sdk_wrapper.h"

namespace electron_morvane {

// Decodes the params of "init"; logMode starts from 0, not from the configuration's default.
bool FromJson(const json& value, SdkWrapper::SdkInitConfig& out);
// The log level bits of one name ("error" 1, "warning" 2, "info" 4, "debug" 8, "all" 15,
// "none" and anything else 0).
std::int32_t logLevelBits(const std::string& name);

ResponseMessage<NoData> handleInit(const RequestMessage<SdkWrapper::SdkInitConfig>& request);

}  // namespace electron_morvane
