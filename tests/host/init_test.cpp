// "init" through the real bridge: what reaches the library's init record.
#include <gtest/gtest.h>

#include <string>

#include "scripted_bridge.h"

namespace electron_morvane::testing {
namespace {

// Every log-mode name and its bits are the decoder's (operations tests); here a mode other than
// the default reaches the library's record.
TEST(Init, TheLogModeReachesTheLibraryAsBits) {
  ScriptedBridge bridge;
  bridge.Init(InitParams({{"logMode", json::array({"error", "warning"})}}));
  const auto calls = bridge.CallsOf("Morvane_InitSDK");
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0].at("record").at("logMode"), 3);
}

TEST(Init, FillsEveryFieldOfTheRecord) {
  ScriptedBridge bridge;
  bridge.Init(InitParams({{"appName", "App \xc3\xa9"}, {"oversea", true},
                          {"sdkConfigUrl", "http://127.0.0.1/c.json"}, {"configDir", "/cfg"},
                          {"tempDir", "/tmp/t"}, {"logMode", "all"}, {"unknownKey", 1}}));
  const json record = bridge.CallsOf("Morvane_InitSDK").at(0).at("record");
  const json expected = {
      {"size", 128}, {"appName", "App \xc3\xa9"}, {"appId", "tests"}, {"deviceId", "pc-1"},
      {"clientVersion", "1.2.3"}, {"oversea", 1}, {"logCallback", true}, {"userData", true},
      {"downloadCallback", true}, {"cancelDownloadCallback", true},
      {"httpRequestCallback", true}, {"responseTable", true},
      {"sdkConfigUrl", "http://127.0.0.1/c.json"}, {"configDir", "/cfg"}, {"tempDir", "/tmp/t"},
      {"logMode", 15}, {"reservedZero", true}};
  for (const auto& [key, value] : expected.items()) {
    EXPECT_EQ(record.at(key), value) << key << " in " << record.dump();
  }
}

TEST(Init, GivesNoTextForEmptyOrAbsentOptionalTexts) {
  ScriptedBridge bridge;
  bridge.Init(InitParams({{"configDir", ""}, {"sdkConfigUrl", "u"}}));
  const json record = bridge.CallsOf("Morvane_InitSDK").at(0).at("record");
  EXPECT_EQ(record.at("configDir"), nullptr);
  EXPECT_EQ(record.at("tempDir"), nullptr);
  EXPECT_EQ(record.at("sdkConfigUrl"), "u");
  EXPECT_EQ(record.at("oversea"), 0);
}

TEST(Init, ASecondInitStartsTheLibraryAgainWithTheNewValues) {
  ScriptedBridge bridge;
  bridge.Init(InitParams({{"appId", "first"}}));
  bridge.Init(InitParams({{"appId", "second"}, {"logMode", "error"}}));
  const auto calls = bridge.CallsOf("Morvane_InitSDK");
  ASSERT_EQ(calls.size(), 2u);
  EXPECT_EQ(calls[1].at("record").at("appId"), "second");
  EXPECT_EQ(calls[1].at("record").at("logMode"), 1);
}

TEST(Init, LinesTheLibraryLogsWhileStartingAreForwarded) {
  ScriptedBridge bridge(json{{"actions",
                          {{{"on", "Morvane_InitSDK"}, {"when", "before"}, {"fire", "log"},
                            {"line", "starting"}}}}});
  bridge.Send(Request("1", "init", InitParams()));
  EXPECT_EQ(bridge.Host().ReadLine(),
            R"({"from":"client","id":"0","method":"log","params":{"log":"starting"},"to":"host","type":"request"})");
  EXPECT_EQ(bridge.Host().ReadMessage().at("method"), "init");
}

}  // namespace
}  // namespace electron_morvane::testing
