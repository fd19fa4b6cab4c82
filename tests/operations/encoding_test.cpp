// What the bridge writes for the library's records: keys, JSON types, widths and signs.
#include <gtest/gtest.h>

#include <string>

#include "operations/driver_jobs.h"
#include "operations/query_methods.h"
#include "protocol/wire_format.h"
#include "services/download_proxy.h"
#include "services/http_proxy.h"
#include "services/log_forwarding.h"

namespace electron_morvane {
namespace {

TEST(Encoding, DisplayDeviceHasEightKeysAndAVendorWord) {
  SdkWrapper::SdkDisplayDevice device;
  device.problemCode = -2;
  device.vendorType = 4;
  EXPECT_EQ(SerializeMessage(ToJson(device)),
            R"({"deviceId":"","driverDate":"","driverVersion":"","enable":false,"name":"",)"
            R"("problemCode":-2,"vendorId":"","vendorType":"niche_brand"})");
  EXPECT_EQ(ToJson(std::vector<SdkWrapper::SdkDisplayDevice>{}), json::array());
}

TEST(Encoding, DisplayDeviceNamesItsVendorAndCallsOtherNumbersUnknown) {
  const struct {
    std::int32_t vendorType;
    const char* device;
  } cases[] = {
      {1, R"({"deviceId":"","driverDate":"","driverVersion":"","enable":false,"name":"","problemCode":0,"vendorId":"","vendorType":"nvidia"})"},
      {2, R"({"deviceId":"","driverDate":"","driverVersion":"","enable":false,"name":"","problemCode":0,"vendorId":"","vendorType":"amd"})"},
      {3, R"({"deviceId":"","driverDate":"","driverVersion":"","enable":false,"name":"","problemCode":0,"vendorId":"","vendorType":"intel"})"},
      {4, R"({"deviceId":"","driverDate":"","driverVersion":"","enable":false,"name":"","problemCode":0,"vendorId":"","vendorType":"niche_brand"})"},
      {0, R"({"deviceId":"","driverDate":"","driverVersion":"","enable":false,"name":"","problemCode":0,"vendorId":"","vendorType":"unknown"})"},
      {5, R"({"deviceId":"","driverDate":"","driverVersion":"","enable":false,"name":"","problemCode":0,"vendorId":"","vendorType":"unknown"})"},
      {-1, R"({"deviceId":"","driverDate":"","driverVersion":"","enable":false,"name":"","problemCode":0,"vendorId":"","vendorType":"unknown"})"},
  };
  for (const auto& c : cases) {
    SdkWrapper::SdkDisplayDevice device;
    device.vendorType = c.vendorType;
    EXPECT_EQ(SerializeMessage(ToJson(device)), c.device) << c.vendorType;
  }
}

TEST(Encoding, UpdateStatusNamesEveryStateAndCallsTheRestUnknown) {
  const struct {
    std::uint32_t state;
    const char* params;
  } cases[] = {
      {0, R"({"deviceId":"","errorCode":0,"errorMsg":"","progress":0,"state":0,"stateString":"unknown","vendorId":""})"},
      {1, R"({"deviceId":"","errorCode":0,"errorMsg":"","progress":0,"state":1,"stateString":"download","vendorId":""})"},
      {2, R"({"deviceId":"","errorCode":0,"errorMsg":"","progress":0,"state":2,"stateString":"download-error","vendorId":""})"},
      {3, R"({"deviceId":"","errorCode":0,"errorMsg":"","progress":0,"state":3,"stateString":"download-success","vendorId":""})"},
      {4, R"({"deviceId":"","errorCode":0,"errorMsg":"","progress":0,"state":4,"stateString":"unzip","vendorId":""})"},
      {5, R"({"deviceId":"","errorCode":0,"errorMsg":"","progress":0,"state":5,"stateString":"unzip-error","vendorId":""})"},
      {6, R"({"deviceId":"","errorCode":0,"errorMsg":"","progress":0,"state":6,"stateString":"unzip-success","vendorId":""})"},
      {7, R"({"deviceId":"","errorCode":0,"errorMsg":"","progress":0,"state":7,"stateString":"install","vendorId":""})"},
      {8, R"({"deviceId":"","errorCode":0,"errorMsg":"","progress":0,"state":8,"stateString":"install-error","vendorId":""})"},
      {9, R"({"deviceId":"","errorCode":0,"errorMsg":"","progress":0,"state":9,"stateString":"install-success","vendorId":""})"},
      {10, R"({"deviceId":"","errorCode":0,"errorMsg":"","progress":0,"state":10,"stateString":"update-driver-finish","vendorId":""})"},
      {11, R"({"deviceId":"","errorCode":0,"errorMsg":"","progress":0,"state":11,"stateString":"unknown","vendorId":""})"},
      {12, R"({"deviceId":"","errorCode":0,"errorMsg":"","progress":0,"state":12,"stateString":"unknown","vendorId":""})"},
      {4294967295u, R"({"deviceId":"","errorCode":0,"errorMsg":"","progress":0,"state":4294967295,"stateString":"unknown","vendorId":""})"},
  };
  for (const auto& c : cases) {
    SdkWrapper::SdkUpdateDriverStatus status;
    status.state = c.state;
    EXPECT_EQ(SerializeMessage(ToJson(status)), c.params) << c.state;
  }
}

TEST(Encoding, CheckResultKeepsUnsignedSizesAndSignedCodes) {
  SdkWrapper::SdkDisplayDriverConfig config;
  config.fileSize = 4294967295u;
  config.errorCode = -2007;
  config.needUpdate = true;
  EXPECT_EQ(SerializeMessage(ToJson(config)),
            R"({"deviceId":"","driverDate":"","driverVersion":"","errorCode":-2007,"errorMsg":"",)"
            R"("fileSize":4294967295,"name":"","needUpdate":true,"vendorId":""})");
}

TEST(Encoding, UpdateStatusKeepsItsTextsAndSignedProgressAndCode) {
  SdkWrapper::SdkUpdateDriverStatus status;
  status.vendorId = "10DE";
  status.deviceId = "2484";
  status.state = 2;
  status.progress = -1;
  status.errorCode = -2008;
  status.errorMsg = "md5";
  EXPECT_EQ(SerializeMessage(ToJson(status)),
            R"({"deviceId":"2484","errorCode":-2008,"errorMsg":"md5","progress":-1,"state":2,)"
            R"("stateString":"download-error","vendorId":"10DE"})");
}

TEST(Encoding, HttpRequestMethodHeadersBodyAndTaskValues) {
  SdkWrapper::HttpRequestParam request;
  request.url = "http://h/";
  request.body = std::string("a\0b\xff", 4);
  request.sdkTaskId = -7;
  request.sdkData = UINT64_MAX;
  const std::pair<std::int32_t, const char*> methods[] = {{0, "GET"}, {1, "POST"}, {2, "GET"},
                                                          {-1, "GET"}};
  for (const auto& [code, word] : methods) {
    request.method = code;
    EXPECT_EQ(ToJson(request)["method"], word) << code;
  }
  EXPECT_EQ(SerializeMessage(ToJson(request)),
            R"({"body":"a\u0000b\ufffd","headers":{},"method":"GET","sdkData":"18446744073709551615",)"
            R"("sdkTaskId":-7,"url":"http://h/"})");
}

TEST(Encoding, DownloadCancelAndLogParams) {
  SdkWrapper::DownloadParam download{"u", "p", -3, 0};
  EXPECT_EQ(SerializeMessage(ToJson(download)),
            R"({"path":"p","sdkData":"0","sdkTaskId":-3,"url":"u"})");
  EXPECT_EQ(SerializeMessage(ToJson(SdkWrapper::CancelDownloadParam{-3})), R"({"sdkTaskId":-3})");
  EXPECT_EQ(SerializeMessage(ToJson(SdkWrapper::LogParam{""})), R"({"log":""})");
}

}  // namespace
}  // namespace electron_morvane
