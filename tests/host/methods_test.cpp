// Every request method through the real bridge: the exact response line, and the exact
// arguments the library received.
#include <gtest/gtest.h>

#include <string>

#include "scripted_bridge.h"

namespace electron_morvane::testing {
namespace {

const json kAdapter = {{"vendorId", "10DE"}, {"deviceId", "2484"}};

struct MethodCase {
  const char* name;
  json scenario;
  json request;
  std::string response;  // the exact line
  const char* libraryCall;
  json callArguments;  // members the library's call log entry must hold
};

class Methods : public ::testing::TestWithParam<MethodCase> {};

TEST_P(Methods, AnswerWithTheLibrarysStatusAndData) {
  const MethodCase& c = GetParam();
  ScriptedBridge bridge(c.scenario);
  bridge.Send(c.request);
  EXPECT_EQ(bridge.Host().ReadLine(), c.response);
  const auto calls = bridge.CallsOf(c.libraryCall);
  ASSERT_EQ(calls.size(), 1u) << c.libraryCall;
  for (const auto& [key, value] : c.callArguments.items()) {
    EXPECT_EQ(calls[0].at(key), value) << key << " in " << calls[0].dump();
  }
}

json Results(const char* function, int code) { return {{"results", {{function, code}}}}; }

std::string Response(const std::string& id, const std::string& method, const std::string& result,
                     const std::string& from = "client", const std::string& to = "host") {
  return R"({"from":")" + from + R"(","id":")" + id + R"(","method":")" + method +
         R"(","result":)" + result + R"(,"to":")" + to + R"(","type":"response"})";
}

INSTANTIATE_TEST_SUITE_P(
    Bridge, Methods,
    ::testing::Values(
        MethodCase{"Version", {{"version", "4.5.6-b"}}, Request("1", "getSdkVersion"),
                   Response("1", "getSdkVersion", R"({"data":"4.5.6-b","status":0,"statusString":"ok"})"),
                   "Morvane_GetSDKVersion", {{"bufferNull", false}, {"bufferZeroFilled", true}}},
        MethodCase{"VersionFailingWithParamsOfAnyType",
                   {{"version", "x"}, {"results", {{"Morvane_GetSDKVersion", -1006}}}},
                   Request("2", "getSdkVersion", 42),
                   Response("2", "getSdkVersion", R"({"data":"x","status":-1006,"statusString":"error_sdk_status"})"),
                   "Morvane_GetSDKVersion", json::object()},
        MethodCase{"NoAdapters", Results("Morvane_GetDisplayDevice", -2006),
                   Request("3", "getDisplayDevice"),
                   Response("3", "getDisplayDevice", R"({"data":[],"status":-2006,"statusString":"no_graphics_device"})"),
                   "Morvane_GetDisplayDevice", {{"devicesNull", true}, {"countIn", 0}}},
        MethodCase{"DownloadDir", json::object(),
                   Request("4", "setDriverDownloadDir", {{"dir", "/tmp/dr\xc3\xa9vers"}, {"x", 1}}),
                   Response("4", "setDriverDownloadDir", R"({"data":null,"status":0,"statusString":"ok"})"),
                   "Morvane_SetDriverDownloadDir", {{"dir", "/tmp/dr\xc3\xa9vers"}}},
        MethodCase{"EmptyDownloadDirRefused", Results("Morvane_SetDriverDownloadDir", -1000),
                   Request("5", "setDriverDownloadDir", {{"dir", ""}}),
                   Response("5", "setDriverDownloadDir", R"({"data":null,"status":-1000,"statusString":"invalid_parameter"})"),
                   "Morvane_SetDriverDownloadDir", {{"dir", ""}}},
        MethodCase{"CheckRefused", Results("Morvane_CheckDisplayDeviceDriver", -2015),
                   Request("6", "checkDisplayDeviceDriver", kAdapter),
                   Response("6", "checkDisplayDeviceDriver", R"({"data":null,"status":-2015,"statusString":"not_current_check_device"})"),
                   "Morvane_CheckDisplayDeviceDriver",
                   {{"vendorId", "10DE"}, {"deviceId", "2484"}, {"callbackSet", true}, {"userDataSet", true}}},
        MethodCase{"CancelCheck", Results("Morvane_CancelCheckDisplayDeviceDriver", -1004),
                   Request("7", "cancelCheckDisplayDeviceDriver", kAdapter),
                   Response("7", "cancelCheckDisplayDeviceDriver", R"({"data":null,"status":-1004,"statusString":"cannot_cancel"})"),
                   "Morvane_CancelCheckDisplayDeviceDriver", kAdapter},
        MethodCase{"Update", Results("Morvane_UpdateDisplayDeviceDriver", -2016),
                   Request("8", "updateDisplayDeviceDriver", {{"vendorId", ""}, {"deviceId", "\xe2\x82\xac"}}),
                   Response("8", "updateDisplayDeviceDriver", R"({"data":null,"status":-2016,"statusString":"another_device_updating"})"),
                   "Morvane_UpdateDisplayDeviceDriver",
                   {{"vendorId", ""}, {"deviceId", "\xe2\x82\xac"}, {"callbackSet", true}, {"userDataSet", true}}},
        MethodCase{"CancelUpdate", Results("Morvane_CancelUpdateDisplayDeviceDriver", 0),
                   Request("9", "cancelUpdateDisplayDeviceDriver", kAdapter),
                   Response("9", "cancelUpdateDisplayDeviceDriver", R"({"data":null,"status":0,"statusString":"ok"})"),
                   "Morvane_CancelUpdateDisplayDeviceDriver", kAdapter},
        MethodCase{"InitRefused", Results("Morvane_InitSDK", -2000),
                   Request("10", "init", InitParams()),
                   Response("10", "init", R"({"data":null,"status":-2000,"statusString":"business_no_sdk_config"})"),
                   "Morvane_InitSDK", {{"reservedNull", true}}},
        MethodCase{"UnknownCodeAndOtherParties", Results("Morvane_CancelCheckDisplayDeviceDriver", 7),
                   json{{"type", "request"}, {"from", "ui"}, {"to", "bridge"}, {"id", "x"},
                        {"method", "cancelCheckDisplayDeviceDriver"}, {"params", kAdapter}},
                   Response("x", "cancelCheckDisplayDeviceDriver", R"({"data":null,"status":7,"statusString":"unknown"})", "bridge", "ui"),
                   "Morvane_CancelCheckDisplayDeviceDriver", kAdapter}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Bridge, ListsTheAdaptersTheLibraryFills) {
  const json scenario = {
      {"displayDevices",
       {{"records",
         {{{"name", "Adapter One"}, {"driverVersion", "31.0.1"}, {"driverDate", "2023-01-02"},
           {"vendorId", "10DE"}, {"deviceId", "2484"}, {"enable", true}, {"problemCode", -2},
           {"vendorType", 1}},
          {{"name", "Adapter Two"}, {"vendorType", 4}},
          {{"name", std::string(300, 'n')}, {"vendorType", 5}}}},
        {"answers", {{{"result", -1001}, {"count", 2}}, {{"result", -1001}, {"count", 3}}}}}}};
  ScriptedBridge bridge(scenario);
  bridge.Send(Request("1", "getDisplayDevice"));
  const std::string truncatedName(256, 'n');
  EXPECT_EQ(bridge.Host().ReadLine(),
            R"({"from":"client","id":"1","method":"getDisplayDevice","result":{"data":[)"
            R"({"deviceId":"2484","driverDate":"2023-01-02","driverVersion":"31.0.1","enable":true,"name":"Adapter One","problemCode":-2,"vendorId":"10DE","vendorType":"nvidia"},)"
            R"({"deviceId":"","driverDate":"","driverVersion":"","enable":false,"name":"Adapter Two","problemCode":0,"vendorId":"","vendorType":"niche_brand"},)"
            R"({"deviceId":"","driverDate":"","driverVersion":"","enable":false,"name":")" +
                truncatedName +
                R"(","problemCode":0,"vendorId":"","vendorType":"unknown"}],"status":0,"statusString":"ok"},"to":"host","type":"response"})");
  const auto calls = bridge.CallsOf("Morvane_GetDisplayDevice");
  ASSERT_EQ(calls.size(), 3u);
  EXPECT_EQ(calls[1].at("countIn"), 2);
  EXPECT_EQ(calls[2].at("countIn"), 3);
  EXPECT_EQ(calls[2].at("recordsZeroFilled"), true);
}

TEST(Bridge, AnswersEveryMethodBeforeInitWithoutTouchingIt) {
  ScriptedBridge bridge;
  for (const char* method : {"getSdkVersion", "getDisplayDevice"}) {
    EXPECT_EQ(bridge.Call(Request(method, method)).at("result").at("status"), 0) << method;
  }
  for (const char* method : {"checkDisplayDeviceDriver", "cancelCheckDisplayDeviceDriver",
                             "updateDisplayDeviceDriver", "cancelUpdateDisplayDeviceDriver"}) {
    EXPECT_EQ(bridge.Call(Request(method, method, kAdapter)).at("result").at("status"), 0) << method;
  }
  EXPECT_TRUE(bridge.CallsOf("Morvane_InitSDK").empty());
}

}  // namespace
}  // namespace electron_morvane::testing
