// Checks and updates of one adapter's driver: the requests that start and cancel them, and the
// events that report on them later from the library's threads.
#pragma once

#include <cstdint>
#include <string>

#include "protocol/message_outlet.h"
#include "protocol/messages.h"
#include "sdk/sdk_wrapper.h"

namespace electron_morvane {

struct DisplayDeviceDriverParam {
  std::string vendorId;
  std::string deviceId;
};

using DriverJobRequest = RequestMessage<DisplayDeviceDriverParam>;

bool FromJson(const json& value, DisplayDeviceDriverParam& out);
json ToJson(const SdkWrapper::SdkDisplayDriverConfig& config);
json ToJson(const SdkWrapper::SdkUpdateDriverStatus& status);
// The word for an update state: "download", "install-error", ...; "unknown" outside the table.
std::string updateStateName(std::uint32_t state);

// Send one event for the request that started the job.
void sendCheckResultEvent(const MessageOutlet& outlet, const DriverJobRequest& request,
                          const SdkWrapper::SdkDisplayDriverConfig& config);
void sendUpdateStatusEvent(const MessageOutlet& outlet, const DriverJobRequest& request,
                           const SdkWrapper::SdkUpdateDriverStatus& status);

// A job's events go out through the outlet, which must outlive the library's reports.
ResponseMessage<NoData> handleCheckDisplayDeviceDriver(const DriverJobRequest& request,
                                                       const MessageOutlet& outlet);
ResponseMessage<NoData> handleCancelCheckDisplayDeviceDriver(const DriverJobRequest& request);
ResponseMessage<NoData> handleUpdateDisplayDeviceDriver(const DriverJobRequest& request,
                                                        const MessageOutlet& outlet);
ResponseMessage<NoData> handleCancelUpdateDisplayDeviceDriver(const DriverJobRequest& request);

}  // namespace electron_morvane
