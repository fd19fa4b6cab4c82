// The driver library's C interface as the bridge binds it: nine exported functions, the records
// that cross the boundary with their byte layouts, and the callback and response function types.
// Any library put in the driver library's place must honour this contract.
#pragma once

#include <stddef.h>
#include <stdint.h>

#if defined(_WIN32)
#if defined(MORVANE_SDK_BUILDING)
#define MORVANE_SDK_API __declspec(dllexport)
#else
#define MORVANE_SDK_API __declspec(dllimport)
#endif
#else
#define MORVANE_SDK_API __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

// Log level bits of SdkInitRecord::logMode.
enum {
  MORVANE_LOG_ERROR = 1,
  MORVANE_LOG_WARNING = 2,
  MORVANE_LOG_INFO = 4,
  MORVANE_LOG_DEBUG = 8,
  MORVANE_LOG_ALL = 15
};

// HTTP method codes of SdkHttpRequestCallback; any other value is treated as GET.
enum { MORVANE_HTTP_GET = 0, MORVANE_HTTP_POST = 1 };

// Update state codes (the state argument of SdkUpdateCallback).
enum {
  MORVANE_UPDATE_UNKNOWN = 0,
  MORVANE_UPDATE_DOWNLOAD = 1,
  MORVANE_UPDATE_DOWNLOAD_ERROR = 2,
  MORVANE_UPDATE_DOWNLOAD_SUCCESS = 3,
  MORVANE_UPDATE_UNZIP = 4,
  MORVANE_UPDATE_UNZIP_ERROR = 5,
  MORVANE_UPDATE_UNZIP_SUCCESS = 6,
  MORVANE_UPDATE_INSTALL = 7,
  MORVANE_UPDATE_INSTALL_ERROR = 8,
  MORVANE_UPDATE_INSTALL_SUCCESS = 9,
  MORVANE_UPDATE_FINISH = 10
};

// Result codes the bridge acts on or that both sides commonly use.
enum { MORVANE_OK = 0, MORVANE_ARRAY_SIZE_NOT_ENOUGH = -1001 };

// Sizes the contract fixes.
enum {
  MORVANE_VERSION_BUFFER_SIZE = 32,      // the buffer Morvane_GetSDKVersion writes into
  MORVANE_STATUS_ERROR_TEXT_SIZE = 256,  // SdkUpdateStatusRecord::errorMsg
  MORVANE_RESPONSE_ERROR_TEXT_MAX = 255  // the longest errorMsg a response function takes
};

typedef struct SdkHeaderPair {
  const char* name;
  const char* value;
} SdkHeaderPair;

typedef int32_t (*SdkDownloadResponseFn)(int32_t sdkTaskId, int32_t progress, uint8_t isFinish,
                                         int32_t result, int32_t httpStatusCode,
                                         const char* errorMsg, uint64_t sdkData);
typedef int32_t (*SdkHttpResponseFn)(int32_t sdkTaskId, int32_t result, int32_t httpStatusCode,
                                     const char* errorMsg, const SdkHeaderPair* headers,
                                     uint32_t headerCount, const char* body, uint32_t bodyLength,
                                     uint64_t sdkData);

// Filled by the library during Morvane_InitSDK.
typedef struct SdkResponseTable {
  SdkDownloadResponseFn downloadResponse;
  SdkHttpResponseFn httpResponse;
} SdkResponseTable;

typedef int32_t (*SdkLogCallback)(const char* line);
typedef void (*SdkDownloadCallback)(const char* url, const char* path, int32_t sdkTaskId,
                                    uint64_t sdkData);
typedef void (*SdkCancelDownloadCallback)(int32_t sdkTaskId);
typedef void (*SdkHttpRequestCallback)(const char* url, int32_t method,
                                       const SdkHeaderPair* headers, uint32_t headerCount,
                                       const char* body, uint32_t bodyLength, int32_t sdkTaskId,
                                       uint64_t sdkData);

typedef struct SdkInitRecord {
  uint32_t size;  // always sizeof(SdkInitRecord), 128
  uint32_t reserved0;
  const char* appName;
  const char* appId;
  const char* deviceId;
  const char* clientVersion;
  uint8_t oversea;
  uint8_t reserved1[7];
  SdkLogCallback logCallback;
  void* userData;
  SdkDownloadCallback downloadCallback;
  SdkCancelDownloadCallback cancelDownloadCallback;
  SdkHttpRequestCallback httpRequestCallback;
  SdkResponseTable* responseTable;
  const char* sdkConfigUrl;  // null when not given
  const char* configDir;     // null when not given
  const char* tempDir;       // null when not given
  int32_t logMode;
  uint32_t reserved2;
} SdkInitRecord;

typedef struct SdkDisplayDeviceRecord {
  char name[256];
  char driverVersion[32];
  char driverDate[32];
  char vendorId[8];
  char deviceId[8];
  uint8_t enable;
  uint8_t padding[3];
  int32_t problemCode;
  int32_t vendorType;
} SdkDisplayDeviceRecord;

typedef struct SdkDriverInfoRecord {
  char name[256];
  char vendorId[8];
  char deviceId[8];
  char driverVersion[32];
  char driverDate[32];
  uint32_t fileSize;
} SdkDriverInfoRecord;

typedef struct SdkUpdateStatusRecord {
  int32_t progress;
  int32_t errorCode;
  char errorMsg[MORVANE_STATUS_ERROR_TEXT_SIZE];
} SdkUpdateStatusRecord;

typedef void (*SdkCheckCallback)(const SdkDriverInfoRecord* info, uint8_t needUpdate,
                                 int32_t errorCode, const char* errorMsg, void* userData);
typedef void (*SdkUpdateCallback)(const char* vendorId, const char* deviceId, uint32_t state,
                                  const SdkUpdateStatusRecord* status, void* userData);

MORVANE_SDK_API int32_t Morvane_InitSDK(const SdkInitRecord* record, void* reserved);
MORVANE_SDK_API int32_t Morvane_UninitSDK(void);
// version points at a zero-filled buffer of MORVANE_VERSION_BUFFER_SIZE bytes.
MORVANE_SDK_API int32_t Morvane_GetSDKVersion(char* version);
// On entry *count is the array's length in records; on -1001 it holds the count needed.
MORVANE_SDK_API int32_t Morvane_GetDisplayDevice(SdkDisplayDeviceRecord* devices, uint32_t* count);
MORVANE_SDK_API int32_t Morvane_CheckDisplayDeviceDriver(const char* vendorId, const char* deviceId,
                                                         SdkCheckCallback callback, void* userData);
MORVANE_SDK_API int32_t Morvane_CancelCheckDisplayDeviceDriver(const char* vendorId,
                                                               const char* deviceId);
MORVANE_SDK_API int32_t Morvane_UpdateDisplayDeviceDriver(const char* vendorId,
                                                          const char* deviceId,
                                                          SdkUpdateCallback callback,
                                                          void* userData);
MORVANE_SDK_API int32_t Morvane_CancelUpdateDisplayDeviceDriver(const char* vendorId,
                                                                const char* deviceId);
MORVANE_SDK_API int32_t Morvane_SetDriverDownloadDir(const char* dir);

#ifdef __cplusplus
}  // extern "C"
#endif
