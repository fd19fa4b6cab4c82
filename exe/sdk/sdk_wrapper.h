// SdkWrapper: the one object that calls the driver library. It keeps the library's
// configuration, turns the library's plain callbacks into typed std::function calls, carries
// per-job callbacks through the library's userData and feeds the host's answers back in.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "common/result_code.h"
#include "sdk/host_answers.h"
#include "sdk/morvane_sdk.h"

namespace electron_morvane {

class SdkWrapper {
 public:
  struct LogParam {
    std::string log;
  };

  struct DownloadParam {
    std::string url;
    std::string path;
    std::int32_t sdkTaskId = 0;
    std::uint64_t sdkData = 0;
  };

  struct CancelDownloadParam {
    std::int32_t sdkTaskId = 0;
  };

  struct HttpRequestParam {
    std::string url;
    std::int32_t method = MORVANE_HTTP_GET;
    std::map<std::string, std::string> headers;  // byte-wise order of names
    std::string body;                            // exactly the library's bytes, NULs included
    std::int32_t sdkTaskId = 0;
    std::uint64_t sdkData = 0;
  };

  struct SdkInitConfig {
    std::string appName;
    std::string appId;
    std::string deviceId;
    std::string clientVersion;
    bool oversea = false;
    std::function<int(const LogParam&)> logCallback;
    std::function<void(const DownloadParam&)> downloadCallback;
    std::function<void(const CancelDownloadParam&)> cancelDownloadCallback;
    std::function<void(const HttpRequestParam&)> httpRequestCallback;
    std::string sdkConfigUrl;  // empty: the library gets no text
    std::string configDir;     // empty: the library gets no text
    std::string tempDir;       // empty: the library gets no text
    std::int32_t logMode = MORVANE_LOG_ALL;
  };

  struct SdkDisplayDriverConfig {
    std::string name;
    std::string vendorId;
    std::string deviceId;
    std::string driverVersion;
    std::string driverDate;
    std::uint32_t fileSize = 0;
    bool needUpdate = false;
    std::int32_t errorCode = 0;
    std::string errorMsg;
  };

  struct SdkUpdateDriverStatus {
    std::string vendorId;
    std::string deviceId;
    std::uint32_t state = MORVANE_UPDATE_UNKNOWN;
    std::int32_t progress = 0;
    std::int32_t errorCode = 0;
    std::string errorMsg;
  };

  struct SdkDisplayDevice {
    std::string name;
    std::string driverVersion;
    std::string driverDate;
    std::string vendorId;
    std::string deviceId;
    bool enable = false;
    std::int32_t problemCode = 0;
    std::int32_t vendorType = 0;
  };

  using CheckCallback = std::function<void(const SdkDisplayDriverConfig&)>;
  using UpdateCallback = std::function<void(const SdkUpdateDriverStatus&)>;

  // The library may ask for a bigger device array this many times in one listing, no more.
  static constexpr int kMaxDisplayDeviceCalls = 64;

  static SdkWrapper& GetInstance();

  static ResultCode InitSDK(const SdkInitConfig& config);
  static ResultCode UninitSDK();
  static std::pair<ResultCode, std::string> GetSDKVersion();
  static std::pair<ResultCode, std::vector<SdkDisplayDevice>> GetDisplayDevice();
  static ResultCode SetDriverDownloadDir(const std::string& dir);
  // The callback must not be empty; it runs once, on a library thread.
  static ResultCode CheckDisplayDeviceDriver(const std::string& vendorId,
                                             const std::string& deviceId, CheckCallback callback);
  static ResultCode CancelCheckDisplayDeviceDriver(const std::string& vendorId,
                                                   const std::string& deviceId);
  // The callback must not be empty; it runs on library threads for as long as the process lives.
  static ResultCode UpdateDisplayDeviceDriver(const std::string& vendorId,
                                              const std::string& deviceId, UpdateCallback callback);
  static ResultCode CancelUpdateDisplayDeviceDriver(const std::string& vendorId,
                                                    const std::string& deviceId);
  static void OnDownloadProgress(const DownloadProgressParam& progress);
  static void OnHttpResponse(const HttpResponseParam& response);

  // The library's entry points into the bridge; they run on the library's threads.
  static std::int32_t LogTrampoline(const char* line);
  static void DownloadTrampoline(const char* url, const char* path, std::int32_t sdkTaskId,
                                 std::uint64_t sdkData);
  static void CancelDownloadTrampoline(std::int32_t sdkTaskId);
  static void HttpRequestTrampoline(const char* url, std::int32_t method,
                                    const SdkHeaderPair* headers, std::uint32_t headerCount,
                                    const char* body, std::uint32_t bodyLength,
                                    std::int32_t sdkTaskId, std::uint64_t sdkData);
  static void CheckTrampoline(const SdkDriverInfoRecord* info, std::uint8_t needUpdate,
                              std::int32_t errorCode, const char* errorMsg, void* userData);
  static void UpdateTrampoline(const char* vendorId, const char* deviceId, std::uint32_t state,
                               const SdkUpdateStatusRecord* status, void* userData);

  SdkWrapper(const SdkWrapper&) = delete;
  SdkWrapper& operator=(const SdkWrapper&) = delete;

 private:
  SdkWrapper();
  ~SdkWrapper();

  // Never changed once stored: a re-init stores a new one, so a library thread that is calling
  // one of its callbacks keeps the old one alive until it returns.
  std::shared_ptr<const SdkInitConfig> config;
  SdkInitRecord initRecord;
  SdkResponseTable responseTable;
};

}  // namespace electron_morvane
