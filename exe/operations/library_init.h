// The "init" request: configures and starts the library with the host's services installed.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "protocol/messages.h"
#include "sdk/sdk_wrapper.h"

namespace electron_morvane {

// Decodes the params of "init"; logMode starts from 0, not from the configuration's default.
bool FromJson(const json& value, SdkWrapper::SdkInitConfig& out);
// The log level bits of one name ("error" 1, "warning" 2, "info" 4, "debug" 8, "all" 15,
// "none" and anything else 0).
std::int32_t logLevelBits(const std::string& name);

// The library's four service callbacks, made by whoever wires the process; "init" installs them
// with the host's configuration.
struct LibraryServices {
  std::function<int(const SdkWrapper::LogParam&)> log;
  std::function<void(const SdkWrapper::DownloadParam&)> download;
  std::function<void(const SdkWrapper::CancelDownloadParam&)> cancelDownload;
  std::function<void(const SdkWrapper::HttpRequestParam&)> httpRequest;
};

ResponseMessage<NoData> handleInit(const RequestMessage<SdkWrapper::SdkInitConfig>& request,
                                   const LibraryServices& services);

}  // namespace electron_morvane
