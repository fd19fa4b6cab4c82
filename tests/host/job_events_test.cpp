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
  EXPECT_EQ(one.at("id"), "second");
  EXPECT_EQ(one.at("params").at("vendorId"), "B");
  EXPECT_EQ(two.at("id"), "first");
  EXPECT_EQ(two.at("params").at("vendorId"), "A");
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
  EXPECT_EQ(bridge.Host().ReadMessage().at("type"), "event");
  EXPECT_EQ(bridge.Host().ReadMessage().at("type"), "response");
}

// Each report the library makes, and the params of the event the host receives for it.
struct UpdateReportCase {
  json step;
  const char* params;
};

// The word of every state, widths and signs are the encoder's (operations tests); here the library's
// reports reach the host in order, whole, as events of the request that started the job.
TEST(UpdateJob, ReportsReachTheHostInOrderAsEventsOfTheirRequest) {
  const UpdateReportCase cases[] = {
      {{{"state", 3}, {"progress", 30}},
       R"({"deviceId":"2484","errorCode":0,"errorMsg":"","progress":30,"state":3,"stateString":"download-success","vendorId":"10DE"})"},
      {{{"state", 4294967295u}, {"progress", -1}, {"errorCode", -2008}, {"errorMsg", "md5"}},
       R"({"deviceId":"2484","errorCode":-2008,"errorMsg":"md5","progress":-1,"state":4294967295,"stateString":"unknown","vendorId":"10DE"})"},
  };
  json steps = json::array();
  for (const UpdateReportCase& c : cases) steps.push_back(c.step);
  ScriptedBridge bridge(json{{"actions",
                          {OnCall("Morvane_UpdateDisplayDeviceDriver",
                                  {{"fire", "update"}, {"steps", steps}})}}});
  bridge.Call(Request("u", "updateDisplayDeviceDriver", kAdapter));
  for (const UpdateReportCase& c : cases) {
    SCOPED_TRACE(c.step.dump());
    EXPECT_EQ(bridge.NextOf("updateDisplayDeviceDriver").dump(-1, ' ', true),
              std::string(R"({"from":"client","id":"u","method":"updateDisplayDeviceDriver","params":)") +
                  c.params + R"(,"to":"host","type":"event"})");
  }
}

TEST(UpdateJob, KeepsReportingAfterACancel) {
  ScriptedBridge bridge(
      json{{"actions",
        {OnCall("Morvane_CancelUpdateDisplayDeviceDriver",
                {{"fire", "update"}, {"state", 2}, {"errorCode", -1003}, {"errorMsg", "cancelled"}})}}});
  bridge.Call(Request("u1", "updateDisplayDeviceDriver", kAdapter));
  const json cancel = bridge.Call(Request("c1", "cancelUpdateDisplayDeviceDriver", kAdapter));
  EXPECT_EQ(cancel.at("result").at("data"), nullptr);
  const json event = bridge.NextOf("updateDisplayDeviceDriver");
  EXPECT_EQ(event.at("id"), "u1");
  EXPECT_EQ(event.at("params").at("errorCode"), -1003);
  EXPECT_TRUE(bridge.Quiet()) << "a cancel sends no event of its own";
}

TEST(UpdateJob, EventsSwapTheRequestsParties) {
  ScriptedBridge bridge(json{{"actions",
                          {OnCall("Morvane_UpdateDisplayDeviceDriver",
                                  {{"fire", "update"}, {"state", 10}})}}});
  bridge.Send({{"type", "request"}, {"from", "ui"}, {"to", "bridge"}, {"id", "9"},
               {"method", "updateDisplayDeviceDriver"}, {"params", kAdapter}});
  const json event = bridge.NextOf("updateDisplayDeviceDriver");
  EXPECT_EQ(event.at("type"), "event");
  EXPECT_EQ(event.at("from"), "bridge");
  EXPECT_EQ(event.at("to"), "ui");
}

}  // namespace
}  // namespace electron_morvane::testing
