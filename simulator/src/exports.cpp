// The exported C functions. Each hands its work to the Simulator; no exception crosses the
// boundary.
#include <cstring>
#include <exception>
#include <string>

#include "result_codes.h"
#include "sdk/morvane_sdk.h"
#include "simulator.h"

namespace electron_morvane::sim {

namespace {

constexpr char kSdkVersion[] = "1.0.0-sim";
static_assert(sizeof(kSdkVersion) <= MORVANE_VERSION_BUFFER_SIZE,
              "the version must fit its buffer");

template <typename Call>
int32_t Guarded(Call call) {
  try {
    return call();
  } catch (const std::exception&) {
    return kErrorSdkStatus;
  }
}

std::string TextOf(const char* text, uint32_t maxLength) {
  if (text == nullptr) return {};
  std::size_t length = 0;
  while (length < maxLength && text[length] != '\0') ++length;
  return std::string(text, length);
}

int32_t HttpResponse(int32_t sdkTaskId, int32_t result, int32_t httpStatusCode,
                     const char* errorMsg, const SdkHeaderPair* /*headers*/,
                     uint32_t /*headerCount*/, const char* body, uint32_t bodyLength,
                     uint64_t sdkData) {
  return Guarded([&] {
    HttpAnswer answer;
    answer.result = result;
    answer.httpStatusCode = httpStatusCode;
    answer.errorMsg = TextOf(errorMsg, MORVANE_RESPONSE_ERROR_TEXT_MAX);
    if (body != nullptr && bodyLength > 0) answer.body.assign(body, bodyLength);
    Simulator::Instance().link().OnHttpResponse(sdkTaskId, sdkData, std::move(answer));
    return kOk;
  });
}

int32_t DownloadResponse(int32_t sdkTaskId, int32_t progress, uint8_t isFinish, int32_t result,
                         int32_t httpStatusCode, const char* errorMsg, uint64_t sdkData) {
  return Guarded([&] {
    DownloadEvent event;
    event.progress = progress;
    event.isFinish = isFinish != 0;
    event.result = result;
    event.httpStatusCode = httpStatusCode;
    event.errorMsg = TextOf(errorMsg, MORVANE_RESPONSE_ERROR_TEXT_MAX);
    Simulator::Instance().link().OnDownloadResponse(sdkTaskId, sdkData, std::move(event));
    return kOk;
  });
}

// Crashes, or never returns, when the machine puts that fault in the export of this name.
void CallFault(const char* exportName) {
  Guarded([exportName] {
    Simulator::Instance().ActOnCallFault(exportName);
    return kOk;
  });
}

}  // namespace

}  // namespace electron_morvane::sim

using electron_morvane::sim::CallFault;
using electron_morvane::sim::Guarded;
using electron_morvane::sim::Simulator;

// Each export meets the fault the machine puts in it (found by __func__) before its work; init
// once it has read the machine file.
extern "C" {

MORVANE_SDK_API int32_t Morvane_InitSDK(const SdkInitRecord* record, void* /*reserved*/) {
  const int32_t result = Guarded([&] {
    const SdkResponseTable responses{&electron_morvane::sim::DownloadResponse,
                                     &electron_morvane::sim::HttpResponse};
    return Simulator::Instance().Init(record, responses);
  });
  CallFault(__func__);
  return result;
}

MORVANE_SDK_API int32_t Morvane_UninitSDK(void) {
  CallFault(__func__);
  return Guarded([] { return Simulator::Instance().Uninit(); });
}

MORVANE_SDK_API int32_t Morvane_GetSDKVersion(char* version) {
  CallFault(__func__);
  if (version == nullptr) return electron_morvane::sim::kInvalidParameter;
  std::memcpy(version, electron_morvane::sim::kSdkVersion,
              sizeof(electron_morvane::sim::kSdkVersion));
  return electron_morvane::sim::kOk;
}

MORVANE_SDK_API int32_t Morvane_GetDisplayDevice(SdkDisplayDeviceRecord* devices, uint32_t* count) {
  CallFault(__func__);
  return Guarded([&] { return Simulator::Instance().GetDisplayDevices(devices, count); });
}

MORVANE_SDK_API int32_t Morvane_CheckDisplayDeviceDriver(const char* vendorId, const char* deviceId,
                                                         SdkCheckCallback callback,
                                                         void* userData) {
  CallFault(__func__);
  return Guarded(
      [&] { return Simulator::Instance().StartCheck(vendorId, deviceId, callback, userData); });
}

MORVANE_SDK_API int32_t Morvane_CancelCheckDisplayDeviceDriver(const char* vendorId,
                                                               const char* deviceId) {
  CallFault(__func__);
  return Guarded([&] { return Simulator::Instance().CancelCheck(vendorId, deviceId); });
}

MORVANE_SDK_API int32_t Morvane_UpdateDisplayDeviceDriver(const char* vendorId,
                                                          const char* deviceId,
                                                          SdkUpdateCallback callback,
                                                          void* userData) {
  CallFault(__func__);
  return Guarded(
      [&] { return Simulator::Instance().StartUpdate(vendorId, deviceId, callback, userData); });
}

MORVANE_SDK_API int32_t Morvane_CancelUpdateDisplayDeviceDriver(const char* vendorId,
                                                                const char* deviceId) {
  CallFault(__func__);
  return Guarded([&] { return Simulator::Instance().CancelUpdate(vendorId, deviceId); });
}

MORVANE_SDK_API int32_t Morvane_SetDriverDownloadDir(const char* dir) {
  CallFault(__func__);
  return Guarded([&] { return Simulator::Instance().SetDownloadDir(dir); });
}

}  // extern "C"
