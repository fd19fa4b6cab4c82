#include "operations/driver_jobs.h"

#include <iterator>
#include <utility>

#include "operations/response.h"
#include "protocol/message_lines.h"

namespace electron_morvane {

bool FromJson(const json& value, DisplayDeviceDriverParam& out) {
  DisplayDeviceDriverParam decoded;
  if (!ContainsAll(value, {"vendorId", "deviceId"}) ||
      !ReadText(value, "vendorId", decoded.vendorId) ||
      !ReadText(value, "deviceId", decoded.deviceId)) {
    return false;
  }
  out = std::move(decoded);
  return true;
}

json ToJson(const SdkWrapper::SdkDisplayDriverConfig& config) {
  return json{{"name", config.name},
              {"vendorId", config.vendorId},
              {"deviceId", config.deviceId},
              {"driverVersion", config.driverVersion},
              {"driverDate", config.driverDate},
              {"fileSize", config.fileSize},
              {"needUpdate", config.needUpdate},
              {"errorCode", config.errorCode},
              {"errorMsg", config.errorMsg}};
}

json ToJson(const SdkWrapper::SdkUpdateDriverStatus& status) {
  return json{{"vendorId", status.vendorId},
              {"deviceId", status.deviceId},
              {"state", status.state},
              {"stateString", updateStateName(status.state)},
              {"progress", status.progress},
              {"errorCode", status.errorCode},
              {"errorMsg", status.errorMsg}};
}

std::string updateStateName(std::uint32_t state) {
  static const char* const kNames[] = {
      "unknown", "download", "download-error", "download-success", "unzip", "unzip-error",
      "unzip-success", "install", "install-error", "install-success", "update-driver-finish"};
  return state < std::size(kNames) ? kNames[state] : "unknown";
}

void sendCheckResultEvent(const MessageOutlet& outlet, const DriverJobRequest& request,
                          const SdkWrapper::SdkDisplayDriverConfig& config) {
  outlet.SendLine(MessageLine(makeJobEvent(request, config)));
}

void sendUpdateStatusEvent(const MessageOutlet& outlet, const DriverJobRequest& request,
                           const SdkWrapper::SdkUpdateDriverStatus& status) {
  outlet.SendLine(MessageLine(makeJobEvent(request, status)));
}

ResponseMessage<NoData> handleCheckDisplayDeviceDriver(const DriverJobRequest& request,
                                                       const MessageOutlet& outlet) {
  auto response = makeResponse<NoData>(request);
  response.result.status = SdkWrapper::CheckDisplayDeviceDriver(
      request.params.vendorId, request.params.deviceId,
      [&outlet, request](const SdkWrapper::SdkDisplayDriverConfig& config) {
        sendCheckResultEvent(outlet, request, config);
      });
  return response;
}

ResponseMessage<NoData> handleCancelCheckDisplayDeviceDriver(const DriverJobRequest& request) {
  auto response = makeResponse<NoData>(request);
  response.result.status =
      SdkWrapper::CancelCheckDisplayDeviceDriver(request.params.vendorId, request.params.deviceId);
  return response;
}

ResponseMessage<NoData> handleUpdateDisplayDeviceDriver(const DriverJobRequest& request,
                                                        const MessageOutlet& outlet) {
  auto response = makeResponse<NoData>(request);
  response.result.status = SdkWrapper::UpdateDisplayDeviceDriver(
      request.params.vendorId, request.params.deviceId,
      [&outlet, request](const SdkWrapper::SdkUpdateDriverStatus& status) {
        sendUpdateStatusEvent(outlet, request, status);
      });
  return response;
}

ResponseMessage<NoData> handleCancelUpdateDisplayDeviceDriver(const DriverJobRequest& request) {
  auto response = makeResponse<NoData>(request);
  response.result.status =
      SdkWrapper::CancelUpdateDisplayDeviceDriver(request.params.vendorId, request.params.deviceId);
  return response;
}

}  // namespace electron_morvane
