// Library threads sending while the host sends: every line whole, none lost; and callbacks that
// keep coming while the bridge exits.
#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>

#include "scripted_bridge.h"

namespace electron_morvane::testing {
namespace {

TEST(Concurrency, EveryLineArrivesWholeAndNoneIsLost) {
  constexpr int kLogThreads = 4, kLogsPerThread = 250;
  constexpr int kUpdateThreads = 3, kReportsPerThread = 100;
  constexpr int kRequests = 200;
  ScriptedBridge bridge(json{
      {"actions",
       {{{"on", "Morvane_InitSDK"}, {"fire", "log"}, {"line", std::string(500, 'l')},
         {"threads", kLogThreads}, {"count", kLogsPerThread}},
        {{"on", "Morvane_UpdateDisplayDeviceDriver"}, {"fire", "update"}, {"state", 1},
         {"progress", 50}, {"threads", kUpdateThreads}, {"count", kReportsPerThread}}}}});
  bridge.Send(Request("init", "init", InitParams()));
  bridge.Send(Request("update", "updateDisplayDeviceDriver",
                      {{"vendorId", "10DE"}, {"deviceId", "2484"}}));
  std::string burst;
  for (int i = 0; i < kRequests; ++i) burst += Request(std::to_string(i), "getSdkVersion").dump() + "\n";
  bridge.Host().Write(burst);

  std::map<std::string, int> counts;
  std::set<std::string> responseIds;
  std::set<std::string> logIds;
  const int expected = kLogThreads * kLogsPerThread + kUpdateThreads * kReportsPerThread +
                       kRequests + 2;
  for (int i = 0; i < expected; ++i) {
    const auto line = bridge.Host().ReadLine();
    ASSERT_TRUE(line.has_value()) << "lost lines after " << i;
    const json message = json::parse(*line, nullptr, false);
    ASSERT_FALSE(message.is_discarded()) << "broken line: " << line->substr(0, 200);
    const std::string kind = message.at("type").get<std::string>() + ":" + message.at("method").get<std::string>();
    ++counts[kind];
    if (kind == "response:getSdkVersion") responseIds.insert(message.at("id").get<std::string>());
    if (kind == "request:log") {
      EXPECT_EQ(message.at("params").at("log"), std::string(500, 'l'));
      logIds.insert(message.at("id").get<std::string>());
    }
  }
  EXPECT_EQ(counts["request:log"], kLogThreads * kLogsPerThread);
  EXPECT_EQ(counts["event:updateDisplayDeviceDriver"], kUpdateThreads * kReportsPerThread);
  EXPECT_EQ(counts["response:getSdkVersion"], kRequests);
  EXPECT_EQ(responseIds.size(), static_cast<std::size_t>(kRequests));
  EXPECT_EQ(logIds.size(), static_cast<std::size_t>(kLogThreads * kLogsPerThread))
      << "reverse request ids must be unique";
  EXPECT_TRUE(bridge.Quiet());
}

TEST(Concurrency, CallbacksDuringExitDoNotCrashTheBridge) {
  ScriptedBridge bridge(json{
      {"actions",
       {{{"on", "Morvane_InitSDK"}, {"fire", "log"}, {"line", "busy"}, {"threads", 4},
         {"count", 1000000}},
        {{"on", "Morvane_CheckDisplayDeviceDriver"}, {"fire", "check"}, {"delayMs", 200}}}}});
  bridge.Init();
  bridge.Send(Request("c", "checkDisplayDeviceDriver", {{"vendorId", "A"}, {"deviceId", "1"}}));
  // Let the library's threads get going, then hang up while they are still calling back.
  for (int i = 0; i < 100; ++i) ASSERT_TRUE(bridge.Host().ReadLine().has_value());
  bridge.Host().CloseHostEnd();
  EXPECT_EQ(bridge.Host().WaitExit(), 109);
}

}  // namespace
}  // namespace electron_morvane::testing
