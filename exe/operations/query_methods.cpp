#include "operations/query_methods.h"

#include <utility>

#include "operations/response.h"

namespace electron_morvane {

bool FromJson(const json& value, DownloadDirParam& out) {
  DownloadDirParam decoded;
  if (!ContainsAll(value, {"dir"}) || !ReadText(value, "dir", decoded.dir)) return false;
  out = std::move(decoded);
  return true;
}

std::string vendorTypeName(int vendorType) {
  switch (vendorType) {
    case 1:
      return "nvidia";
    case 2:
      return "amd";
    case 3:
      return "intel";
    case 4:
      return "niche_brand";
    default:
      return "unknown";
  }
}

json ToJson(const SdkWrapper::SdkDisplayDevice& device) {
  return json{{"name", device.name},
              {"driverVersion", device.driverVersion},
              {"driverDate", device.driverDate},
              {"vendorId", device.vendorId},
              {"deviceId", device.deviceId},
              {"enable", device.enable},
              {"problemCode", device.problemCode},
              {"vendorType", vendorTypeName(device.vendorType)}};
}

json ToJson(const std::vector<SdkWrapper::SdkDisplayDevice>& devices) {
  json list = json::array();
  for (const auto& device : devices) list.push_back(ToJson(device));
  return list;
}

ResponseMessage<std::string> handleGetSdkVersion(const RequestMessage<NoParams>& request) {
  auto response = makeResponse<std::string>(request);
  auto [status, version] = SdkWrapper::GetSDKVersion();
  response.result.status = status;
  response.result.data = std::move(version);
  return response;
}

ResponseMessage<std::vector<SdkWrapper::SdkDisplayDevice>> handleGetDisplayDevice(
    const RequestMessage<NoParams>& request) {
  auto response = makeResponse<std::vector<SdkWrapper::SdkDisplayDevice>>(request);
  auto [status, devices] = SdkWrapper::GetDisplayDevice();
  response.result.status = status;
  response.result.data = std::move(devices);
  return response;
}

ResponseMessage<NoData> handleSetDriverDownloadDir(
    const RequestMessage<DownloadDirParam>& request) {
  auto response = makeResponse<NoData>(request);
  response.result.status = SdkWrapper::SetDriverDownloadDir(request.params.dir);
  return response;
}

}  // namespace electron_morvane
