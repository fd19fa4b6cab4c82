#include "operations/library_init.h"

#include <string_view>
#include <utility>

#include "operations/response.h"

namespace electron_morvane {
namespace {

// An optional text: absent leaves it empty, present must be a string (null included fails).
bool ReadOptionalText(const json& params, std::string_view key, std::string& out) {
  return params.find(key) == params.end() || ReadText(params, key, out);
}

// "logMode" is one name, a list of names, an object whose values are names, or null.
bool ReadLogMode(const json& params, std::int32_t& out) {
  out = 0;
  const auto logMode = params.find("logMode");
  if (logMode == params.end()) return true;
  for (const json& item : *logMode) {
    std::string name;
    if (!ReadText(item, name)) return false;
    out |= logLevelBits(name);
  }
  return true;
}

}  // namespace

std::int32_t logLevelBits(const std::string& name) {
  if (name == "error") return MORVANE_LOG_ERROR;
  if (name == "warning") return MORVANE_LOG_WARNING;
  if (name == "info") return MORVANE_LOG_INFO;
  if (name == "debug") return MORVANE_LOG_DEBUG;
  if (name == "all") return MORVANE_LOG_ALL;
  return 0;
}

bool FromJson(const json& value, SdkWrapper::SdkInitConfig& out) {
  if (!ContainsAll(value, {"appName", "appId", "deviceId", "clientVersion", "oversea"})) {
    return false;
  }
  SdkWrapper::SdkInitConfig decoded;
  if (!ReadText(value, "appName", decoded.appName) || !ReadText(value, "appId", decoded.appId) ||
      !ReadText(value, "deviceId", decoded.deviceId) ||
      !ReadText(value, "clientVersion", decoded.clientVersion) ||
      !ReadBool(value, "oversea", decoded.oversea) ||
      !ReadOptionalText(value, "sdkConfigUrl", decoded.sdkConfigUrl) ||
      !ReadOptionalText(value, "configDir", decoded.configDir) ||
      !ReadOptionalText(value, "tempDir", decoded.tempDir) ||
      !ReadLogMode(value, decoded.logMode)) {
    return false;
  }
  out = std::move(decoded);
  return true;
}

ResponseMessage<NoData> handleInit(const RequestMessage<SdkWrapper::SdkInitConfig>& request,
                                   const LibraryServices& services) {
  auto response = makeResponse<NoData>(request);
  SdkWrapper::SdkInitConfig config = request.params;
  config.logCallback = services.log;
  config.downloadCallback = services.download;
  config.cancelDownloadCallback = services.cancelDownload;
  config.httpRequestCallback = services.httpRequest;
  response.result.status = SdkWrapper::InitSDK(config);
  return response;
}

}  // namespace electron_morvane
