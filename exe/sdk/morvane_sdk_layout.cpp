// Compile-time proof that the records have the byte layout the driver library expects
// (64-bit, natural alignment, little-endian).
#include "sdk/morvane_sdk.h"

static_assert(sizeof(void*) == 8, "the driver library is 64-bit code");

static_assert(sizeof(SdkHeaderPair) == 16, "SdkHeaderPair size");
static_assert(offsetof(SdkHeaderPair, name) == 0, "SdkHeaderPair.name");
static_assert(offsetof(SdkHeaderPair, value) == 8, "SdkHeaderPair.value");

static_assert(sizeof(SdkResponseTable) == 16, "SdkResponseTable size");
static_assert(offsetof(SdkResponseTable, downloadResponse) == 0, "downloadResponse slot");
static_assert(offsetof(SdkResponseTable, httpResponse) == 8, "httpResponse slot");

static_assert(sizeof(SdkInitRecord) == 128, "SdkInitRecord size");
static_assert(offsetof(SdkInitRecord, size) == 0, "SdkInitRecord.size");
static_assert(offsetof(SdkInitRecord, appName) == 8, "SdkInitRecord.appName");
static_assert(offsetof(SdkInitRecord, appId) == 16, "SdkInitRecord.appId");
static_assert(offsetof(SdkInitRecord, deviceId) == 24, "SdkInitRecord.deviceId");
static_assert(offsetof(SdkInitRecord, clientVersion) == 32, "SdkInitRecord.clientVersion");
static_assert(offsetof(SdkInitRecord, oversea) == 40, "SdkInitRecord.oversea");
static_assert(offsetof(SdkInitRecord, logCallback) == 48, "SdkInitRecord.logCallback");
static_assert(offsetof(SdkInitRecord, userData) == 56, "SdkInitRecord.userData");
static_assert(offsetof(SdkInitRecord, downloadCallback) == 64, "SdkInitRecord.downloadCallback");
static_assert(offsetof(SdkInitRecord, cancelDownloadCallback) == 72,
              "SdkInitRecord.cancelDownloadCallback");
static_assert(offsetof(SdkInitRecord, httpRequestCallback) == 80,
              "SdkInitRecord.httpRequestCallback");
static_assert(offsetof(SdkInitRecord, responseTable) == 88, "SdkInitRecord.responseTable");
static_assert(offsetof(SdkInitRecord, sdkConfigUrl) == 96, "SdkInitRecord.sdkConfigUrl");
static_assert(offsetof(SdkInitRecord, configDir) == 104, "SdkInitRecord.configDir");
static_assert(offsetof(SdkInitRecord, tempDir) == 112, "SdkInitRecord.tempDir");
static_assert(offsetof(SdkInitRecord, logMode) == 120, "SdkInitRecord.logMode");

static_assert(sizeof(SdkDisplayDeviceRecord) == 348, "SdkDisplayDeviceRecord size");
static_assert(offsetof(SdkDisplayDeviceRecord, name) == 0, "SdkDisplayDeviceRecord.name");
static_assert(offsetof(SdkDisplayDeviceRecord, driverVersion) == 256,
              "SdkDisplayDeviceRecord.driverVersion");
static_assert(offsetof(SdkDisplayDeviceRecord, driverDate) == 288,
              "SdkDisplayDeviceRecord.driverDate");
static_assert(offsetof(SdkDisplayDeviceRecord, vendorId) == 320, "SdkDisplayDeviceRecord.vendorId");
static_assert(offsetof(SdkDisplayDeviceRecord, deviceId) == 328, "SdkDisplayDeviceRecord.deviceId");
static_assert(offsetof(SdkDisplayDeviceRecord, enable) == 336, "SdkDisplayDeviceRecord.enable");
static_assert(offsetof(SdkDisplayDeviceRecord, problemCode) == 340,
              "SdkDisplayDeviceRecord.problemCode");
static_assert(offsetof(SdkDisplayDeviceRecord, vendorType) == 344,
              "SdkDisplayDeviceRecord.vendorType");

static_assert(offsetof(SdkDriverInfoRecord, name) == 0, "SdkDriverInfoRecord.name");
static_assert(offsetof(SdkDriverInfoRecord, vendorId) == 256, "SdkDriverInfoRecord.vendorId");
static_assert(offsetof(SdkDriverInfoRecord, deviceId) == 264, "SdkDriverInfoRecord.deviceId");
static_assert(offsetof(SdkDriverInfoRecord, driverVersion) == 272,
              "SdkDriverInfoRecord.driverVersion");
static_assert(offsetof(SdkDriverInfoRecord, driverDate) == 304, "SdkDriverInfoRecord.driverDate");
static_assert(offsetof(SdkDriverInfoRecord, fileSize) == 336, "SdkDriverInfoRecord.fileSize");

static_assert(offsetof(SdkUpdateStatusRecord, progress) == 0, "SdkUpdateStatusRecord.progress");
static_assert(offsetof(SdkUpdateStatusRecord, errorCode) == 4, "SdkUpdateStatusRecord.errorCode");
static_assert(offsetof(SdkUpdateStatusRecord, errorMsg) == 8, "SdkUpdateStatusRecord.errorMsg");
