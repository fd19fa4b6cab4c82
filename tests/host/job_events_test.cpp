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

TEST(UpdateJob, ReportsEveryStateWithItsWordAndKeepsWidthAndSign) {
  const UpdateReportCase cases[] = {
      {{{"state", 0}, {"progress", 0}},
       R"({"deviceId":"2484","errorCode":0,"errorMsg":"","progress":0,"state":0,"stateString":"unknown","vendorId":"10DE"})"},
      {{{"state", 1}, {"progress", 10}},
       R"({"deviceId":"2484","errorCode":0,"errorMsg":"","progress":10,"state":1,"stateString":"download","vendorId":"10DE"})"},
      {{{"state", 2}, {"progress", 20}},
       R"({"deviceId":"2484","errorCode":0,"errorMsg":"","progress":20,"state":2,"stateString":"download-error","vendorId":"10DE"})"},
      {{{"state", 3}, {"progress", 30}},
       R"({"deviceId":"2484","errorCode":0,"errorMsg":"","progress":30,"state":3,"stateString":"download-success","vendorId":"10DE"})"},
      {{{"state", 4}, {"progress", 40}},
       R"({"deviceId":"2484","errorCode":0,"errorMsg":"","progress":40,"state":4,"stateString":"unzip","vendorId":"10DE"})"},
      {{{"state", 5}, {"progress", 50}},
       R"({"deviceId":"2484","errorCode":0,"errorMsg":"","progress":50,"state":5,"stateString":"unzip-error","vendorId":"10DE"})"},
      {{{"state", 6}, {"progress", 60}},
       R"({"deviceId":"2484","errorCode":0,"errorMsg":"","progress":60,"state":6,"stateString":"unzip-success","vendorId":"10DE"})"},
      {{{"state", 7}, {"progress", 70}},
       R"({"deviceId":"2484","errorCode":0,"errorMsg":"","progress":70,"state":7,"stateString":"install","vendorId":"10DE"})"},
      {{{"state", 8}, {"progress", 80}},
       R"({"deviceId":"2484","errorCode":0,"errorMsg":"","progress":80,"state":8,"stateString":"install-error","vendorId":"10DE"})"},
      {{{"state", 9}, {"progress", 90}},
       R"({"deviceId":"2484","errorCode":0,"errorMsg":"","progress":90,"state":9,"stateString":"install-success","vendorId":"10DE"})"},
      {{{"state", 10}, {"progress", 100}},
       R"({"deviceId":"2484","errorCode":0,"errorMsg":"","progress":100,"state":10,"stateString":"update-driver-finish","vendorId":"10DE"})"},
      {{{"state", 11}, {"progress", 110}},
       R"({"deviceId":"2484","errorCode":0,"errorMsg":"","progress":110,"state":11,"stateString":"unknown","vendorId":"10DE"})"},
      {{{"state", 12}, {"progress", 120}},
       R"({"deviceId":"2484","errorCode":0,"errorMsg":"","progress":120,"state":12,"stateString":"unknown","vendorId":"10DE"})"},
      {{{"state", 2}, {"progress", -1}, {"errorCode", -2008}, {"errorMsg", "md5"}},
       R"({"deviceId":"2484","errorCode":-2008,"errorMsg":"md5","progress":-1,"state":2,"stateString":"download-error","vendorId":"10DE"})"},
      {{{"state", 4294967295u}, {"progress", 0}},
       R"({"deviceId":"2484","errorCode":0,"errorMsg":"","progress":0,"state":4294967295,"stateString":"unknown","vendorId":"10DE"})"},
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
