// The nine functions of the driver library's C interface, answering as the scenario says and
// logging every call with its arguments.
#include <algorithm>
#include <cstring>

#include "byte_text.h"
#include "library_state.h"
#include "response_functions.h"
#include "scripted_call.h"
#include "sdk/morvane_sdk.h"

namespace electron_morvane::scriptable_sdk {
namespace {

bool AllZero(const void* bytes, std::size_t length) {
  const auto* begin = static_cast<const unsigned char*>(bytes);
  return std::all_of(begin, begin + length, [](unsigned char byte) { return byte == 0; });
}

nlohmann::json DescribeInitRecord(const SdkInitRecord& record) {
  const bool reservedZero = record.reserved0 == 0 && record.reserved2 == 0 &&
                            AllZero(record.reserved1, sizeof record.reserved1);
  return {
      {"size", record.size},
      {"appName", TextOrNull(record.appName)},
      {"appId", TextOrNull(record.appId)},
      {"deviceId", TextOrNull(record.deviceId)},
      {"clientVersion", TextOrNull(record.clientVersion)},
      {"oversea", record.oversea},
      {"logCallback", record.logCallback != nullptr},
      {"userData", record.userData != nullptr},
      {"downloadCallback", record.downloadCallback != nullptr},
      {"cancelDownloadCallback", record.cancelDownloadCallback != nullptr},
      {"httpRequestCallback", record.httpRequestCallback != nullptr},
      {"responseTable", record.responseTable != nullptr},
      {"sdkConfigUrl", TextOrNull(record.sdkConfigUrl)},
      {"configDir", TextOrNull(record.configDir)},
      {"tempDir", TextOrNull(record.tempDir)},
      {"logMode", record.logMode},
      {"reservedZero", reservedZero},
  };
}

void InstallFromRecord(const SdkInitRecord& record, const Scenario& scenario) {
  LibraryState::Get().InstallCallbacks(
      InstalledCallbacks{record.logCallback, record.downloadCallback, record.cancelDownloadCallback,
                         record.httpRequestCallback});
  if (record.responseTable == nullptr) return;
  if (scenario.fillDownloadResponse) {
    record.responseTable->downloadResponse = &LoggedDownloadResponse;
  }
  if (scenario.fillHttpResponse) record.responseTable->httpResponse = &LoggedHttpResponse;
}

// The answer to one Morvane_GetDisplayDevice call with an array of `length` records.
DeviceAnswer AnswerForDevices(const DisplayDevicesScript& script, std::uint64_t callNumber,
                              std::uint32_t length, std::int32_t scriptedResult) {
  const auto available = static_cast<std::uint32_t>(script.records.size());
  if (script.alwaysTooSmall) return DeviceAnswer{MORVANE_ARRAY_SIZE_NOT_ENOUGH, length + 1, 0};
  DeviceAnswer answer;
  if (callNumber <= script.answers.size()) {
    answer = script.answers[callNumber - 1];
  } else if (length < available) {
    answer.result = MORVANE_ARRAY_SIZE_NOT_ENOUGH;
  } else {
    answer.result = scriptedResult;
  }
  const bool tooSmall = answer.result == MORVANE_ARRAY_SIZE_NOT_ENOUGH;
  answer.fill = std::min({answer.fill.value_or(tooSmall ? 0 : length), length, available});
  if (!answer.count) answer.count = tooSmall ? available : *answer.fill;
  return answer;
}

}  // namespace
}  // namespace electron_morvane::scriptable_sdk

using electron_morvane::scriptable_sdk::LibraryState;
using electron_morvane::scriptable_sdk::ScriptedCall;
using electron_morvane::scriptable_sdk::TextOrNull;

extern "C" {

MORVANE_SDK_API int32_t Morvane_InitSDK(const SdkInitRecord* record, void* reserved) {
  using namespace electron_morvane::scriptable_sdk;
  ScriptedCall call("Morvane_InitSDK");
  call.Entry()["record"] =
      record == nullptr ? nlohmann::json(nullptr) : DescribeInitRecord(*record);
  call.Entry()["reservedNull"] = reserved == nullptr;
  const std::shared_ptr<const Scenario> current = LibraryState::Get().CurrentScenario();
  const Scenario& scenario = *current;
  static const char* keptAppName = nullptr;
  if (!scenario.keepsAppName) keptAppName = nullptr;
  if (keptAppName != nullptr) call.Entry()["previousAppName"] = std::string(keptAppName);
  if (scenario.keepsAppName) keptAppName = record == nullptr ? nullptr : record->appName;
  if (record != nullptr) InstallFromRecord(*record, scenario);
  call.FireBeforeReturn();
  return call.Finish(call.ScriptedResult());
}

MORVANE_SDK_API int32_t Morvane_UninitSDK(void) {
  ScriptedCall call("Morvane_UninitSDK");
  LibraryState::Get().InstallCallbacks({});
  call.FireBeforeReturn();
  return call.Finish(call.ScriptedResult());
}

MORVANE_SDK_API int32_t Morvane_GetSDKVersion(char* version) {
  using namespace electron_morvane::scriptable_sdk;
  ScriptedCall call("Morvane_GetSDKVersion");
  call.Entry()["bufferNull"] = version == nullptr;
  if (version != nullptr) {
    call.Entry()["bufferZeroFilled"] = AllZero(version, MORVANE_VERSION_BUFFER_SIZE);
    FillArray(version, MORVANE_VERSION_BUFFER_SIZE, LibraryState::Get().CurrentScenario()->version);
  }
  call.FireBeforeReturn();
  return call.Finish(call.ScriptedResult());
}

MORVANE_SDK_API int32_t Morvane_GetDisplayDevice(SdkDisplayDeviceRecord* devices, uint32_t* count) {
  using namespace electron_morvane::scriptable_sdk;
  ScriptedCall call("Morvane_GetDisplayDevice");
  auto& entry = call.Entry();
  entry["devicesNull"] = devices == nullptr;
  entry["countNull"] = count == nullptr;
  const uint32_t length = count == nullptr ? 0 : *count;
  entry["countIn"] = length;
  const uint32_t usable = devices == nullptr ? 0 : length;
  if (devices != nullptr) {
    entry["recordsZeroFilled"] = AllZero(devices, sizeof(SdkDisplayDeviceRecord) * length);
  }
  const std::shared_ptr<const Scenario> scenario = LibraryState::Get().CurrentScenario();
  const DisplayDevicesScript& script = scenario->displayDevices;
  const DeviceAnswer answer =
      AnswerForDevices(script, call.Number(), usable, call.ScriptedResult());
  std::copy_n(script.records.begin(), *answer.fill, devices);
  if (count != nullptr) *count = *answer.count;
  entry["countOut"] = *answer.count;
  entry["filled"] = *answer.fill;
  call.FireBeforeReturn();
  return call.Finish(answer.result);
}

MORVANE_SDK_API int32_t Morvane_CheckDisplayDeviceDriver(const char* vendorId, const char* deviceId,
                                                         SdkCheckCallback callback,
                                                         void* userData) {
  using namespace electron_morvane::scriptable_sdk;
  ScriptedCall call("Morvane_CheckDisplayDeviceDriver");
  call.Entry()["vendorId"] = TextOrNull(vendorId);
  call.Entry()["deviceId"] = TextOrNull(deviceId);
  call.Entry()["callbackSet"] = callback != nullptr;
  call.Entry()["userDataSet"] = userData != nullptr;
  const CheckJob job{vendorId ? vendorId : "", deviceId ? deviceId : "", callback, userData};
  LibraryState::Get().AddCheckJob(job);
  call.Trigger() = TriggeringCall{userData, nullptr, job.vendorId, job.deviceId};
  call.FireBeforeReturn();
  return call.Finish(call.ScriptedResult());
}

MORVANE_SDK_API int32_t Morvane_CancelCheckDisplayDeviceDriver(const char* vendorId,
                                                               const char* deviceId) {
  using namespace electron_morvane::scriptable_sdk;
  ScriptedCall call("Morvane_CancelCheckDisplayDeviceDriver");
  call.Entry()["vendorId"] = TextOrNull(vendorId);
  call.Entry()["deviceId"] = TextOrNull(deviceId);
  call.Trigger() =
      TriggeringCall{nullptr, nullptr, vendorId ? vendorId : "", deviceId ? deviceId : ""};
  call.FireBeforeReturn();
  return call.Finish(call.ScriptedResult());
}

MORVANE_SDK_API int32_t Morvane_UpdateDisplayDeviceDriver(const char* vendorId,
                                                          const char* deviceId,
                                                          SdkUpdateCallback callback,
                                                          void* userData) {
  using namespace electron_morvane::scriptable_sdk;
  ScriptedCall call("Morvane_UpdateDisplayDeviceDriver");
  call.Entry()["vendorId"] = TextOrNull(vendorId);
  call.Entry()["deviceId"] = TextOrNull(deviceId);
  call.Entry()["callbackSet"] = callback != nullptr;
  call.Entry()["userDataSet"] = userData != nullptr;
  const UpdateJob job{vendorId ? vendorId : "", deviceId ? deviceId : "", callback, userData};
  LibraryState::Get().AddUpdateJob(job);
  call.Trigger() = TriggeringCall{nullptr, userData, job.vendorId, job.deviceId};
  call.FireBeforeReturn();
  return call.Finish(call.ScriptedResult());
}

MORVANE_SDK_API int32_t Morvane_CancelUpdateDisplayDeviceDriver(const char* vendorId,
                                                                const char* deviceId) {
  using namespace electron_morvane::scriptable_sdk;
  ScriptedCall call("Morvane_CancelUpdateDisplayDeviceDriver");
  call.Entry()["vendorId"] = TextOrNull(vendorId);
  call.Entry()["deviceId"] = TextOrNull(deviceId);
  call.Trigger() =
      TriggeringCall{nullptr, nullptr, vendorId ? vendorId : "", deviceId ? deviceId : ""};
  call.FireBeforeReturn();
  return call.Finish(call.ScriptedResult());
}

MORVANE_SDK_API int32_t Morvane_SetDriverDownloadDir(const char* dir) {
  ScriptedCall call("Morvane_SetDriverDownloadDir");
  call.Entry()["dir"] = TextOrNull(dir);
  call.FireBeforeReturn();
  return call.Finish(call.ScriptedResult());
}

}  // extern "C"
