#include "sdk/sdk_wrapper.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <cstring>
#include <thread>

#include "sdk/bounded_text.h"
#include "sdk/callback_gate.h"

namespace electron_morvane {
namespace {

// The response functions take errorMsg as a NUL-terminated text of at most 255 bytes; how the
// library reads it is not said. The bridge assumes the worst, a library that reads a fixed
// 256 bytes, and always passes a whole zero-filled buffer of that size.
using ErrorText = std::array<char, MORVANE_RESPONSE_ERROR_TEXT_MAX + 1>;

// At most 255 bytes of the host's text, then zero bytes to the buffer's end.
ErrorText ToErrorText(const std::string& text) {
  ErrorText buffer{};
  std::memcpy(buffer.data(), text.data(), std::min(text.size(), buffer.size() - 1));
  return buffer;
}

const char* TextOrNull(const std::string& text) { return text.empty() ? nullptr : text.c_str(); }

SdkWrapper::SdkDisplayDevice ToDisplayDevice(const SdkDisplayDeviceRecord& record) {
  SdkWrapper::SdkDisplayDevice device;
  device.name = TextFromArray(record.name);
  device.driverVersion = TextFromArray(record.driverVersion);
  device.driverDate = TextFromArray(record.driverDate);
  device.vendorId = TextFromArray(record.vendorId);
  device.deviceId = TextFromArray(record.deviceId);
  device.enable = record.enable != 0;
  device.problemCode = record.problemCode;
  device.vendorType = record.vendorType;
  return device;
}

// A library thread turned away at the exit waits this long before it goes back to the library:
// threads that call back nonstop would otherwise take every processor from the exit itself.
constexpr std::chrono::milliseconds kTurnedAwayPause{10};

// Runs a callback's work unless the process is shutting down. An exception must not unwind into
// the library's frames, so whatever escapes is dropped here.
template <typename Work>
void RunAdmitted(Work&& work) {
  const CallbackGate::Pass pass;
  if (!pass.Admitted()) {
    std::this_thread::sleep_for(kTurnedAwayPause);
    return;
  }
  try {
    work();
  } catch (...) {
  }
}

std::shared_ptr<const SdkWrapper::SdkInitConfig> CurrentConfig(
    const std::shared_ptr<const SdkWrapper::SdkInitConfig>& stored) {
  return std::atomic_load(&stored);
}

}  // namespace

SdkWrapper::SdkWrapper()
    : config(std::make_shared<const SdkInitConfig>()), initRecord{}, responseTable{} {}

// Library threads keep running at exit: none may still be inside a callback once the stored
// configuration is gone.
SdkWrapper::~SdkWrapper() { CallbackGate::Process().CloseAndDrain(); }

SdkWrapper& SdkWrapper::GetInstance() {
  static SdkWrapper instance;
  return instance;
}

ResultCode SdkWrapper::InitSDK(const SdkInitConfig& config) {
  SdkWrapper& self = GetInstance();
  auto stored = std::make_shared<const SdkInitConfig>(config);
  // The old texts stay readable until the library has taken the new record.
  const auto previous = std::atomic_exchange(&self.config, stored);

  SdkInitRecord& record = self.initRecord;
  record = SdkInitRecord{};
  record.size = sizeof(SdkInitRecord);
  record.appName = stored->appName.c_str();
  record.appId = stored->appId.c_str();
  record.deviceId = stored->deviceId.c_str();
  record.clientVersion = stored->clientVersion.c_str();
  record.oversea = stored->oversea ? 1 : 0;
  record.logCallback = &LogTrampoline;
  record.userData = &self;
  record.downloadCallback = &DownloadTrampoline;
  record.cancelDownloadCallback = &CancelDownloadTrampoline;
  record.httpRequestCallback = &HttpRequestTrampoline;
  self.responseTable = SdkResponseTable{};
  record.responseTable = &self.responseTable;
  record.sdkConfigUrl = TextOrNull(stored->sdkConfigUrl);
  record.configDir = TextOrNull(stored->configDir);
  record.tempDir = TextOrNull(stored->tempDir);
  record.logMode = stored->logMode;
  return Morvane_InitSDK(&record, nullptr);
}

ResultCode SdkWrapper::UninitSDK() { return Morvane_UninitSDK(); }

std::pair<ResultCode, std::string> SdkWrapper::GetSDKVersion() {
  char version[MORVANE_VERSION_BUFFER_SIZE] = {};
  const ResultCode result = Morvane_GetSDKVersion(version);
  return {result, TextFromArray(version)};
}

std::pair<ResultCode, std::vector<SdkWrapper::SdkDisplayDevice>> SdkWrapper::GetDisplayDevice() {
  std::vector<SdkDisplayDeviceRecord> records;
  std::uint32_t count = 0;
  ResultCode result = Morvane_GetDisplayDevice(nullptr, &count);
  for (int calls = 1;
       result == MORVANE_ARRAY_SIZE_NOT_ENOUGH && count != 0 && calls < kMaxDisplayDeviceCalls;
       ++calls) {
    records.assign(count, SdkDisplayDeviceRecord{});
    result = Morvane_GetDisplayDevice(records.data(), &count);
  }
  std::vector<SdkDisplayDevice> devices;
  devices.reserve(records.size());
  std::transform(records.begin(), records.end(), std::back_inserter(devices), ToDisplayDevice);
  return {result, std::move(devices)};
}

ResultCode SdkWrapper::SetDriverDownloadDir(const std::string& dir) {
  return Morvane_SetDriverDownloadDir(dir.c_str());
}

ResultCode SdkWrapper::CheckDisplayDeviceDriver(const std::string& vendorId,
                                                const std::string& deviceId,
                                                CheckCallback callback) {
  // Owned from here on by the library's one report for this job (CheckTrampoline).
  auto* job = new CheckCallback(std::move(callback));
  return Morvane_CheckDisplayDeviceDriver(vendorId.c_str(), deviceId.c_str(), &CheckTrampoline,
                                          job);
}

ResultCode SdkWrapper::CancelCheckDisplayDeviceDriver(const std::string& vendorId,
                                                      const std::string& deviceId) {
  return Morvane_CancelCheckDisplayDeviceDriver(vendorId.c_str(), deviceId.c_str());
}

ResultCode SdkWrapper::UpdateDisplayDeviceDriver(const std::string& vendorId,
                                                 const std::string& deviceId,
                                                 UpdateCallback callback) {
  // The library may report on an update at any later time, so this is never released.
  auto* job = new UpdateCallback(std::move(callback));
  return Morvane_UpdateDisplayDeviceDriver(vendorId.c_str(), deviceId.c_str(), &UpdateTrampoline,
                                           job);
}

ResultCode SdkWrapper::CancelUpdateDisplayDeviceDriver(const std::string& vendorId,
                                                       const std::string& deviceId) {
  return Morvane_CancelUpdateDisplayDeviceDriver(vendorId.c_str(), deviceId.c_str());
}

void SdkWrapper::OnDownloadProgress(const DownloadProgressParam& progress) {
  const SdkDownloadResponseFn respond = GetInstance().responseTable.downloadResponse;
  if (respond == nullptr) return;
  const ErrorText errorMsg = ToErrorText(progress.errorMsg);
  respond(progress.sdkTaskId, progress.progress, progress.isFinish ? 1 : 0, progress.result,
          progress.httpStatusCode, errorMsg.data(), progress.sdkData);
}

void SdkWrapper::OnHttpResponse(const HttpResponseParam& response) {
  const SdkHttpResponseFn respond = GetInstance().responseTable.httpResponse;
  if (respond == nullptr) return;
  const ErrorText errorMsg = ToErrorText(response.errorMsg);
  std::vector<SdkHeaderPair> headers;
  headers.reserve(response.headers.size());
  for (const auto& [name, value] : response.headers) {
    headers.push_back(SdkHeaderPair{name.c_str(), value.c_str()});
  }
  // c_str() also puts a NUL after the body's last counted byte.
  respond(response.sdkTaskId, response.result, response.httpStatusCode, errorMsg.data(),
          headers.empty() ? nullptr : headers.data(), static_cast<std::uint32_t>(headers.size()),
          response.body.c_str(), static_cast<std::uint32_t>(response.body.size()),
          response.sdkData);
}

std::int32_t SdkWrapper::LogTrampoline(const char* line) {
  RunAdmitted([&] {
    const auto config = CurrentConfig(GetInstance().config);
    if (!config->logCallback) return;
    config->logCallback(LogParam{TextOrEmpty(line)});
  });
  return 0;
}

void SdkWrapper::DownloadTrampoline(const char* url, const char* path, std::int32_t sdkTaskId,
                                    std::uint64_t sdkData) {
  RunAdmitted([&] {
    const auto config = CurrentConfig(GetInstance().config);
    if (!config->downloadCallback) return;
    config->downloadCallback(
        DownloadParam{TextOrEmpty(url), TextOrEmpty(path), sdkTaskId, sdkData});
  });
}

void SdkWrapper::CancelDownloadTrampoline(std::int32_t sdkTaskId) {
  RunAdmitted([&] {
    const auto config = CurrentConfig(GetInstance().config);
    if (!config->cancelDownloadCallback) return;
    config->cancelDownloadCallback(CancelDownloadParam{sdkTaskId});
  });
}

void SdkWrapper::HttpRequestTrampoline(const char* url, std::int32_t method,
                                       const SdkHeaderPair* headers, std::uint32_t headerCount,
                                       const char* body, std::uint32_t bodyLength,
                                       std::int32_t sdkTaskId, std::uint64_t sdkData) {
  RunAdmitted([&] {
    const auto config = CurrentConfig(GetInstance().config);
    if (!config->httpRequestCallback) return;
    HttpRequestParam request;
    request.url = TextOrEmpty(url);
    request.method = method;
    if (headers != nullptr) {
      for (std::uint32_t i = 0; i < headerCount; ++i) {
        // emplace keeps the first value of a repeated name.
        request.headers.emplace(TextOrEmpty(headers[i].name), TextOrEmpty(headers[i].value));
      }
    }
    if (body != nullptr && bodyLength != 0) request.body.assign(body, bodyLength);
    request.sdkTaskId = sdkTaskId;
    request.sdkData = sdkData;
    config->httpRequestCallback(request);
  });
}

void SdkWrapper::CheckTrampoline(const SdkDriverInfoRecord* info, std::uint8_t needUpdate,
                                 std::int32_t errorCode, const char* errorMsg, void* userData) {
  RunAdmitted([&] {
    if (userData == nullptr) return;
    // The job is released after its first report, whatever happens while reporting.
    const std::unique_ptr<CheckCallback> job(static_cast<CheckCallback*>(userData));
    SdkDisplayDriverConfig result;
    if (info != nullptr) {
      result.name = TextFromArray(info->name);
      result.vendorId = TextFromArray(info->vendorId);
      result.deviceId = TextFromArray(info->deviceId);
      result.driverVersion = TextFromArray(info->driverVersion);
      result.driverDate = TextFromArray(info->driverDate);
      result.fileSize = info->fileSize;
    }
    result.needUpdate = needUpdate != 0;
    result.errorCode = errorCode;
    result.errorMsg = TextOrEmpty(errorMsg);
    (*job)(result);
  });
}

void SdkWrapper::UpdateTrampoline(const char* vendorId, const char* deviceId, std::uint32_t state,
                                  const SdkUpdateStatusRecord* status, void* userData) {
  RunAdmitted([&] {
    if (userData == nullptr) return;
    SdkUpdateDriverStatus update;
    update.vendorId = TextOrEmpty(vendorId);
    update.deviceId = TextOrEmpty(deviceId);
    update.state = state;
    if (status != nullptr) {
      update.progress = status->progress;
      update.errorCode = status->errorCode;
      update.errorMsg = TextFromArray(status->errorMsg);
    }
    (*static_cast<const UpdateCallback*>(userData))(update);
  });
}

}  // namespace electron_morvane
