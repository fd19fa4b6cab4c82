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

TEST(Encoding, VendorNumbersBecomeWords) {
  const std::pair<int, const char*> table[] = {{1, "nvidia"},      {2, "amd"},     {3, "intel"},
                                               {4, "niche_brand"}, {0, "unknown"}, {5, "unknown"},
                                               {-1, "unknown"}};
  for (const auto& [number, word] : table) EXPECT_EQ(vendorTypeName(number), word) << number;
}

TEST(Encoding, UpdateStatesBecomeWords) {
  const char* const names[] = {"unknown", "download", "download-error", "download-success",
                               "unzip", "unzip-error", "unzip-success", "install",
                               "install-error", "install-success", "update-driver-finish"};
  for (std::uint32_t state = 0; state < 11; ++state) EXPECT_EQ(updateStateName(state), names[state]);
  EXPECT_EQ(updateStateName(11), "unknown");
  EXPECT_EQ(updateStateName(12), "unknown");
  EXPECT_EQ(updateStateName(4294967295u), "unknown");
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

TEST(Encoding, UpdateStatusKeepsUnknownStatesAndNegativeProgress) {
  SdkWrapper::SdkUpdateDriverStatus status;
  status.state = 12;
  status.progress = -1;
  status.errorCode = -2008;
  EXPECT_EQ(SerializeMessage(ToJson(status)),
            R"({"deviceId":"","errorCode":-2008,"errorMsg":"","progress":-1,"state":12,)"
            R"("stateString":"unknown","vendorId":""})");
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
