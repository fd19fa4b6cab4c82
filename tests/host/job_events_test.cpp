// Check and update jobs through the real bridge: the events the library's reports become.
#include <gtest/gtest.h>

#include <string>

#include "scripted_bridge.h"

namespace electron_morvane::testing {
namespace {

const json kAdapter = {{"vendorId", "10DE"}, {"deviceId", "2484"}};

json OnCall(const char* function, json fire) {
  fire["on"] = function;
  return fire;
}

TEST(CheckJob, ReportsOnceWithNineKeysAndTheRequestsIdAfterItsResponse) {
  ScriptedBridge bridge(
      json{{"actions",
        {OnCall("Morvane_CheckDisplayDeviceDriver",
                {{"fire", "check"}, {"delayMs", 50}, {"count", 2}, {"needUpdate", true},
                 {"errorCode", -2007}, {"errorMsg", "newer"},
                 {"info", {{"name", "Driver \xc3\xa9"}, {"driverVersion", "32.0.1"},
                           {"driverDate", "2024-02-03"}, {"fileSize", 4294967295u}}}})}}});
  bridge.Send(Request("7", "checkDisplayDeviceDriver", kAdapter));
  EXPECT_EQ(bridge.Host().ReadLine(),
            R"({"from":"client","id":"7","method":"checkDisplayDeviceDriver","result":{"data":null,"status":0,"statusString":"ok"},"to":"host","type":"response"})");
  EXPECT_EQ(bridge.Host().ReadLine(),
            R"({"from":"client","id":"7","method":"checkDisplayDeviceDriver","params":{"deviceId":"2484","driverDate":"2024-02-03","driverVersion":"32.0.1","errorCode":-2007,"errorMsg":"newer","fileSize":4294967295,"name":"Driver \u00e9","needUpdate":true,"vendorId":"10DE"},"to":"host","type":"event"})");
  // The library reported twice; the job was released after the first report.
  EXPECT_TRUE(bridge.Quiet(300ms));
}

TEST(CheckJob, EventsOfTwoChecksCarryTheirOwnIds) {
  ScriptedBridge bridge(json{{"actions",
                          {OnCall("Morvane_CheckDisplayDeviceDriver",
                                  {{"call", 2}, {"fire", "pendingChecks"}, {"order", "reverse"},
                                   {"delayMs", 20}})}}});
  bridge.Call(Request("first", "checkDisplayDeviceDriver", {{"vendorId", "A"}, {"deviceId", "1"}}));
  bridge.Call(Request("second", "checkDisplayDeviceDriver", {{"vendorId", "B"}, {"deviceId", "2"}}));
  const json one = bridge.NextOf("checkDisplayDeviceDriver");
  const json two = bridge.NextOf("checkDisplayDeviceDriver");
  EXPECT_EQ(one["id"], "second");
  EXPECT_EQ(one["params"]["vendorId"], "B");
  EXPECT_EQ(two["id"], "first");
  EXPECT_EQ(two["params"]["vendorId"], "A");
}

TEST(CheckJob, AReportWithoutUserDataIsIgnored) {
  ScriptedBridge bridge(json{{"actions",
                          {OnCall("Morvane_CheckDisplayDeviceDriver",
                                  {{"fire", "check"}, {"userData", "null"}})}}});
  bridge.Call(Request("1", "checkDisplayDeviceDriver", kAdapter));
  EXPECT_TRUE(bridge.Quiet());
}

TEST(CheckJob, AnEventTheLibrarySendsBeforeItsStartReturnsComesFirst) {
  ScriptedBridge bridge(json{{"actions",
                          {OnCall("Morvane_CheckDisplayDeviceDriver",
                                  {{"fire", "check"}, {"when", "before"}})}}});
  bridge.Send(Request("5", "checkDisplayDeviceDriver", kAdapter));
  EXPECT_EQ(bridge.Host().ReadMessage()["type"], "event");
  EXPECT_EQ(bridge.Host().ReadMessage()["type"], "response");
}

TEST(UpdateJob, ReportsEveryStateWithItsWordAndKeepsWidthAndSign) {
  json steps = json::array();
  for (int state = 0; state <= 12; ++state) {
    steps.push_back({{"state", state}, {"progress", state * 10}, {"errorCode", 0}});
  }
  steps.push_back({{"state", 2}, {"progress", -1}, {"errorCode", -2008}, {"errorMsg", "md5"}});
  steps.push_back({{"state", 4294967295u}, {"progress", 0}});
  ScriptedBridge bridge(json{{"actions",
                          {OnCall("Morvane_UpdateDisplayDeviceDriver",
                                  {{"fire", "update"}, {"steps", steps}})}}});
  bridge.Call(Request("u", "updateDisplayDeviceDriver", kAdapter));
  const char* const words[] = {"unknown", "download", "download-error", "download-success",
                               "unzip", "unzip-error", "unzip-success", "install",
                               "install-error", "install-success", "update-driver-finish",
                               "unknown", "unknown"};
  for (int state = 0; state <= 12; ++state) {
    const json event = bridge.NextOf("updateDisplayDeviceDriver");
    EXPECT_EQ(event["id"], "u");
    EXPECT_EQ(event["from"], "client");
    EXPECT_EQ(event["params"]["state"], state);
    EXPECT_EQ(event["params"]["stateString"], words[state]);
    EXPECT_EQ(event["params"]["progress"], state * 10);
    EXPECT_EQ(event["params"].size(), 7u);
  }
  EXPECT_EQ(bridge.NextOf("updateDisplayDeviceDriver").dump(-1, ' ', true),
            R"({"from":"client","id":"u","method":"updateDisplayDeviceDriver","params":{"deviceId":"2484","errorCode":-2008,"errorMsg":"md5","progress":-1,"state":2,"stateString":"download-error","vendorId":"10DE"},"to":"host","type":"event"})");
  const json last = bridge.NextOf("updateDisplayDeviceDriver");
  EXPECT_EQ(last["params"]["state"].get<std::uint64_t>(), 4294967295u);
  EXPECT_EQ(last["params"]["stateString"], "unknown");
}

TEST(UpdateJob, KeepsReportingAfterACancel) {
  ScriptedBridge bridge(
      json{{"actions",
        {OnCall("Morvane_CancelUpdateDisplayDeviceDriver",
                {{"fire", "update"}, {"state", 2}, {"errorCode", -1003}, {"errorMsg", "cancelled"}})}}});
  bridge.Call(Request("u1", "updateDisplayDeviceDriver", kAdapter));
  const json cancel = bridge.Call(Request("c1", "cancelUpdateDisplayDeviceDriver", kAdapter));
  EXPECT_EQ(cancel["result"]["data"], nullptr);
  const json event = bridge.NextOf("updateDisplayDeviceDriver");
  EXPECT_EQ(event["id"], "u1");
  EXPECT_EQ(event["params"]["errorCode"], -1003);
  EXPECT_TRUE(bridge.Quiet()) << "a cancel sends no event of its own";
}

TEST(UpdateJob, EventsSwapTheRequestsParties) {
  ScriptedBridge bridge(json{{"actions",
                          {OnCall("Morvane_UpdateDisplayDeviceDriver",
                                  {{"fire", "update"}, {"state", 10}})}}});
  bridge.Send({{"type", "request"}, {"from", "ui"}, {"to", "bridge"}, {"id", "9"},
               {"method", "updateDisplayDeviceDriver"}, {"params", kAdapter}});
  const json event = bridge.NextOf("updateDisplayDeviceDriver");
  EXPECT_EQ(event["type"], "event");
  EXPECT_EQ(event["from"], "bridge");
  EXPECT_EQ(event["to"], "ui");
}

}  // namespace
}  // namespace electron_morvane::testing
