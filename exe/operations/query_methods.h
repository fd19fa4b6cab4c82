// The host's plain questions to the library: its version, the display adapters, and the folder
// drivers are downloaded into.
#pragma once

#include <string>
#include <vector>

#include "protocol/messages.h"
#include "sdk/sdk_wrapper.h"

namespace electron_morvane {

struct DownloadDirParam {
  std::string dir;
};

bool FromJson(const json& value, DownloadDirParam& out);
json ToJson(const SdkWrapper::SdkDisplayDevice& device);
json ToJson(const std::vector<SdkWrapper::SdkDisplayDevice>& devices);
// The word for the library's vendor number: "nvidia", "amd", "intel", "niche_brand", "unknown".
std::string vendorTypeName(int vendorType);

ResponseMessage<std::string> handleGetSdkVersion(const RequestMessage<NoParams>& request);
ResponseMessage<std::vector<SdkWrapper::SdkDisplayDevice>> handleGetDisplayDevice(
    const RequestMessage<NoParams>& request);
ResponseMessage<NoData> handleSetDriverDownloadDir(
    const RequestMessage<DownloadDirParam>& request);

}  // namespace electron_morvane
