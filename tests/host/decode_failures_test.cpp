// Requests and events that fail to decode: answered with the exact error or fatal line, and the
// library never hears of them.
#include <gtest/gtest.h>

#include <string>

#include "scripted_bridge.h"

namespace electron_morvane::testing {
namespace {

struct BadRequestCase {
  const char* name;
  json request;
  const char* libraryCall;
};

class BadRequests : public ::testing::TestWithParam<BadRequestCase> {};

TEST_P(BadRequests, AreAnsweredWithParseRequestFailed) {
  const BadRequestCase& c = GetParam();
  ScriptedBridge bridge;
  bridge.Send(c.request);
  const std::string method = c.request.at("method");
  const std::string id = c.request.at("id");
  EXPECT_EQ(bridge.Host().ReadLine(), R"({"error":"parse request failed","from":"client","id":")" +
                                          id + R"(","method":")" + method +
                                          R"(","to":"host","type":"error"})");
  // A later request shows the library was reachable all along, and never saw the bad one.
  const bool versionUnderTest = std::string(c.libraryCall) == "Morvane_GetSDKVersion";
  bridge.Call(Request("after", versionUnderTest ? "getDisplayDevice" : "getSdkVersion"));
  EXPECT_TRUE(bridge.CallsOf(c.libraryCall).empty()) << c.libraryCall;
}

json Adapter(const json& vendorId, const json& deviceId) {
  return {{"vendorId", vendorId}, {"deviceId", deviceId}};
}

json With(json params, const char* key, json value) {
  params[key] = std::move(value);
  return params;
}

json WithoutKey(json message, const char* key) {
  message.erase(key);
  return message;
}

INSTANTIATE_TEST_SUITE_P(
    Bridge, BadRequests,
    ::testing::Values(
        BadRequestCase{"InitWithoutParams", Request("1", "init"), "Morvane_InitSDK"},
        BadRequestCase{"InitOverseaOne", Request("2", "init", InitParams({{"oversea", 1}})),
                       "Morvane_InitSDK"},
        BadRequestCase{"InitNullConfigDir", Request("3", "init", InitParams({{"configDir", nullptr}})),
                       "Morvane_InitSDK"},
        BadRequestCase{"InitLogModeNumber", Request("4", "init", InitParams({{"logMode", 5}})),
                       "Morvane_InitSDK"},
        BadRequestCase{"InitLogModeMixed",
                       Request("5", "init", InitParams({{"logMode", json::array({"info", 3})}})),
                       "Morvane_InitSDK"},
        BadRequestCase{"InitWithoutClientVersion",
                       Request("6", "init", WithoutKey(InitParams(), "clientVersion")),
                       "Morvane_InitSDK"},
        BadRequestCase{"DirNumber", Request("7", "setDriverDownloadDir", {{"dir", 5}}),
                       "Morvane_SetDriverDownloadDir"},
        BadRequestCase{"DirNull", Request("8", "setDriverDownloadDir", {{"dir", nullptr}}),
                       "Morvane_SetDriverDownloadDir"},
        BadRequestCase{"DirMissing", Request("9", "setDriverDownloadDir", json::object()),
                       "Morvane_SetDriverDownloadDir"},
        BadRequestCase{"CheckWithoutParams", Request("10", "checkDisplayDeviceDriver"),
                       "Morvane_CheckDisplayDeviceDriver"},
        BadRequestCase{"CheckVendorNumber",
                       Request("11", "checkDisplayDeviceDriver", Adapter(4318, "2484")),
                       "Morvane_CheckDisplayDeviceDriver"},
        BadRequestCase{"CancelCheckWithoutDevice",
                       Request("12", "cancelCheckDisplayDeviceDriver", {{"vendorId", "10DE"}}),
                       "Morvane_CancelCheckDisplayDeviceDriver"},
        BadRequestCase{"UpdateParamsArray",
                       Request("13", "updateDisplayDeviceDriver", json::array({"10DE", "2484"})),
                       "Morvane_UpdateDisplayDeviceDriver"},
        BadRequestCase{"CancelUpdateNullDevice",
                       Request("14", "cancelUpdateDisplayDeviceDriver", Adapter("10DE", nullptr)),
                       "Morvane_CancelUpdateDisplayDeviceDriver"},
        BadRequestCase{"VersionWithoutFrom", WithoutKey(Request("15", "getSdkVersion"), "from"),
                       "Morvane_GetSDKVersion"},
        BadRequestCase{"DevicesWithNumericTo",
                       With(Request("16", "getDisplayDevice"), "to", 1),
                       "Morvane_GetDisplayDevice"}),
    [](const auto& info) { return std::string(info.param.name); });

json HttpAnswer() {
  return {{"sdkTaskId", 1}, {"result", 0},   {"httpStatusCode", 200}, {"errorMsg", ""},
          {"headers", json::object()}, {"body", ""}, {"sdkData", "1"}};
}

json DownloadProgress() {
  return {{"sdkTaskId", 1}, {"progress", 5}, {"isFinish", false}, {"result", 0},
          {"httpStatusCode", 200}, {"errorMsg", ""}, {"sdkData", "1"}};
}

struct BadEventCase {
  const char* name;
  const char* method;
  json params;
};

class BadEvents : public ::testing::TestWithParam<BadEventCase> {};

TEST_P(BadEvents, AreAnsweredWithParseEventFailedAndNeverDelivered) {
  const BadEventCase& c = GetParam();
  ScriptedBridge bridge;
  bridge.Init();
  bridge.Send(HostEvent("1", c.method, c.params));
  EXPECT_EQ(bridge.Host().ReadLine(), std::string(R"({"error":"parse event failed )") + c.method +
                                          R"(","from":"client","to":"host","type":"fatal"})");
  // A good answer afterwards still reaches the library: only the bad one was dropped.
  const json good = std::string(c.method) == "httpRequest" ? HttpAnswer() : DownloadProgress();
  bridge.Send(HostEvent("2", c.method, good));
  const char* response = std::string(c.method) == "httpRequest" ? "httpResponse" : "downloadResponse";
  EXPECT_EQ(bridge.WaitForCalls(response).size(), 1u);
}

INSTANTIATE_TEST_SUITE_P(
    Bridge, BadEvents,
    ::testing::Values(
        BadEventCase{"HttpWithoutBody", "httpRequest", WithoutKey(HttpAnswer(), "body")},
        BadEventCase{"HttpNumericSdkData", "httpRequest", With(HttpAnswer(), "sdkData", 12345)},
        BadEventCase{"HttpEmptySdkData", "httpRequest", With(HttpAnswer(), "sdkData", "")},
        BadEventCase{"HttpLettersSdkData", "httpRequest", With(HttpAnswer(), "sdkData", "abc")},
        BadEventCase{"HttpSdkDataTwoToThe64", "httpRequest",
                     With(HttpAnswer(), "sdkData", "18446744073709551616")},
        BadEventCase{"HttpTaskIdAsText", "httpRequest", With(HttpAnswer(), "sdkTaskId", "7")},
        BadEventCase{"HttpHeaderNumber", "httpRequest",
                     With(HttpAnswer(), "headers", {{"a", 1}})},
        BadEventCase{"HttpParamsNotAnObject", "httpRequest", json::array()},
        BadEventCase{"DownloadFinishOne", "downloadFile", With(DownloadProgress(), "isFinish", 1)},
        BadEventCase{"DownloadWithoutStatus", "downloadFile",
                     WithoutKey(DownloadProgress(), "httpStatusCode")},
        BadEventCase{"DownloadNullMessage", "downloadFile",
                     With(DownloadProgress(), "errorMsg", nullptr)}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Bridge, AnswersAnEventWithoutParamsAsUndecodable) {
  ScriptedBridge bridge;
  bridge.SendLine(R"({"type":"event","from":"host","to":"client","id":"1","method":"downloadFile"})");
  EXPECT_EQ(bridge.Host().ReadLine(),
            R"({"error":"parse event failed downloadFile","from":"client","to":"host","type":"fatal"})");
}

TEST(Bridge, IgnoresResponsesFromTheHost) {
  ScriptedBridge bridge;
  bridge.SendLine(R"({"type":"response","from":"host","to":"client","id":"0","method":"httpRequest","result":{}})");
  EXPECT_TRUE(bridge.Quiet());
}

}  // namespace
}  // namespace electron_morvane::testing
