// Initialising the library: the record it receives, its response slots, and replacing the
// configuration while the library's threads are calling back.
#include <atomic>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "scripted_sdk_fixture.h"

namespace electron_morvane {
namespace {

json LoggedInitRecord() {
  const auto calls = scriptable_sdk::CallsOf("Morvane_InitSDK");
  if (calls.empty()) return nullptr;
  EXPECT_EQ(calls.back()["reservedNull"], true);
  return calls.back()["record"];
}

TEST_F(ScriptedSdkTest, InitRecordCarriesEveryFieldOfTheConfiguration) {
  Script({{"results", {{"Morvane_InitSDK", -2005}}}});
  ServiceRecorder recorder;
  SdkWrapper::SdkInitConfig config = recorder.Config();
  config.appName = "Display Care";
  config.appId = "app-\xc3\xa9";
  config.deviceId = "machine-9";
  config.clientVersion = "4.5.6";
  config.oversea = true;
  config.sdkConfigUrl = "https://config.example/v1";
  config.configDir = "/var/lib/display-care";
  config.tempDir = "/tmp/display-care";
  config.logMode = MORVANE_LOG_ERROR | MORVANE_LOG_INFO;

  EXPECT_EQ(SdkWrapper::InitSDK(config), -2005);

  EXPECT_EQ(LoggedInitRecord(), json({{"size", 128},
                                      {"appName", "Display Care"},
                                      {"appId", "app-\xc3\xa9"},
                                      {"deviceId", "machine-9"},
                                      {"clientVersion", "4.5.6"},
                                      {"oversea", 1},
                                      {"logCallback", true},
                                      {"userData", true},
                                      {"downloadCallback", true},
                                      {"cancelDownloadCallback", true},
                                      {"httpRequestCallback", true},
                                      {"responseTable", true},
                                      {"sdkConfigUrl", "https://config.example/v1"},
                                      {"configDir", "/var/lib/display-care"},
                                      {"tempDir", "/tmp/display-care"},
                                      {"logMode", 5},
                                      {"reservedZero", true}}));
}

TEST_F(ScriptedSdkTest, DefaultConfigurationGivesEmptyTextsAndEveryLogLevel) {
  EXPECT_EQ(SdkWrapper::InitSDK(SdkWrapper::SdkInitConfig{}), 0);

  const json record = LoggedInitRecord();
  EXPECT_EQ(record["appName"], "");
  EXPECT_EQ(record["appId"], "");
  EXPECT_EQ(record["deviceId"], "");
  EXPECT_EQ(record["clientVersion"], "");
  EXPECT_EQ(record["oversea"], 0);
  EXPECT_EQ(record["logMode"], 15);
  EXPECT_EQ(record["sdkConfigUrl"], nullptr);
  EXPECT_EQ(record["configDir"], nullptr);
  EXPECT_EQ(record["tempDir"], nullptr);
  // The library is always given the bridge's callbacks, even with nothing installed behind them.
  EXPECT_EQ(record["logCallback"], true);
  EXPECT_EQ(record["httpRequestCallback"], true);
}

struct OptionalTextsCase {
  const char* name;
  std::string sdkConfigUrl, configDir, tempDir;
  json expectedUrl, expectedConfigDir, expectedTempDir;
};

void PrintTo(const OptionalTextsCase& c, std::ostream* out) { *out << c.name; }

class OptionalInitTextsTest : public ScriptedSdkTest,
                              public ::testing::WithParamInterface<OptionalTextsCase> {};

TEST_P(OptionalInitTextsTest, EmptyTextIsPassedAsNull) {
  const OptionalTextsCase& c = GetParam();
  SdkWrapper::SdkInitConfig config;
  config.sdkConfigUrl = c.sdkConfigUrl;
  config.configDir = c.configDir;
  config.tempDir = c.tempDir;

  SdkWrapper::InitSDK(config);

  const json record = LoggedInitRecord();
  EXPECT_EQ(record["sdkConfigUrl"], c.expectedUrl);
  EXPECT_EQ(record["configDir"], c.expectedConfigDir);
  EXPECT_EQ(record["tempDir"], c.expectedTempDir);
}

INSTANTIATE_TEST_SUITE_P(Texts, OptionalInitTextsTest,
                         ::testing::Values(OptionalTextsCase{"OnlyConfigDir", "", "/cfg", "",
                                                             nullptr, "/cfg", nullptr},
                                           OptionalTextsCase{"AllButConfigDir", "https://u", "",
                                                             "/t", "https://u", nullptr, "/t"}),
                         [](const auto& info) { return std::string(info.param.name); });

// Sends one answer of each kind and tells which of them reached the library.
std::pair<bool, bool> DeliverOneAnswerOfEach() {
  const std::size_t downloadsBefore = scriptable_sdk::CallsOf("downloadResponse").size();
  const std::size_t responsesBefore = scriptable_sdk::CallsOf("httpResponse").size();
  SdkWrapper::OnDownloadProgress(DownloadProgressParam{});
  SdkWrapper::OnHttpResponse(HttpResponseParam{});
  return {scriptable_sdk::CallsOf("downloadResponse").size() > downloadsBefore,
          scriptable_sdk::CallsOf("httpResponse").size() > responsesBefore};
}

struct SlotCase {
  const char* name;
  bool fillDownload;
  bool fillHttp;
};

void PrintTo(const SlotCase& c, std::ostream* out) { *out << c.name; }

class ResponseSlotTest : public ScriptedSdkTest, public ::testing::WithParamInterface<SlotCase> {};

TEST_P(ResponseSlotTest, AnswersReachOnlyTheSlotsTheLibraryFilled) {
  const SlotCase& c = GetParam();
  Script({{"init", {{"fillDownloadResponse", c.fillDownload}, {"fillHttpResponse", c.fillHttp}}}});
  SdkWrapper::InitSDK(SdkWrapper::SdkInitConfig{});

  EXPECT_EQ(DeliverOneAnswerOfEach(), std::make_pair(c.fillDownload, c.fillHttp));
}

INSTANTIATE_TEST_SUITE_P(Slots, ResponseSlotTest,
                         ::testing::Values(SlotCase{"Both", true, true},
                                           SlotCase{"DownloadOnly", true, false},
                                           SlotCase{"HttpOnly", false, true},
                                           SlotCase{"Neither", false, false}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(ScriptedSdkTest, EveryInitEmptiesTheSlotsBeforeTheLibraryRefillsThem) {
  SdkWrapper::InitSDK(SdkWrapper::SdkInitConfig{});
  ASSERT_EQ(DeliverOneAnswerOfEach(), std::make_pair(true, true));

  Script({{"init", {{"fillDownloadResponse", false}, {"fillHttpResponse", false}}}});
  SdkWrapper::InitSDK(SdkWrapper::SdkInitConfig{});
  EXPECT_EQ(DeliverOneAnswerOfEach(), std::make_pair(false, false));

  Script(json::object());
  SdkWrapper::InitSDK(SdkWrapper::SdkInitConfig{});
  EXPECT_EQ(DeliverOneAnswerOfEach(), std::make_pair(true, true));
}

// The library may read the texts of the record it was given until the next init has handed it
// new ones: a re-init keeps the previous configuration alive until the library has the new one.
TEST_F(ScriptedSdkTest, ReInitKeepsThePreviousTextsUntilTheLibraryHasTheNewOnes) {
  Script({{"init", {{"keepsAppName", true}}}});
  SdkWrapper::SdkInitConfig first;
  first.appName = "the first application, with a name too long for a short-string buffer";
  SdkWrapper::InitSDK(first);
  SdkWrapper::SdkInitConfig second;
  second.appName = "the second application, also with a long name";
  SdkWrapper::InitSDK(second);

  const auto calls = scriptable_sdk::CallsOf("Morvane_InitSDK");
  ASSERT_EQ(calls.size(), 2u);
  EXPECT_EQ(calls[1].value("previousAppName", std::string("(none)")), first.appName);
}

// Library threads log and ask for downloads without pause while the main thread keeps
// initialising again with new callbacks. Every call must land in exactly one set of callbacks;
// a call into a callback that is being replaced shows up under the sanitizers.
TEST_F(ScriptedSdkTest, ReInitWhileLibraryThreadsCallBack) {
  struct Tally {
    std::atomic<int> logs{0};
    std::atomic<int> downloads{0};
  };
  std::vector<std::shared_ptr<Tally>> tallies;
  const auto initWithNewCallbacks = [&tallies] {
    auto tally = std::make_shared<Tally>();
    tallies.push_back(tally);
    SdkWrapper::SdkInitConfig config;
    config.appName = "run " + std::to_string(tallies.size());
    config.logCallback = [tally](const SdkWrapper::LogParam& param) {
      if (param.log == "tick") ++tally->logs;
      return 0;
    };
    config.downloadCallback = [tally](const SdkWrapper::DownloadParam& param) {
      if (param.url == "https://files.example/d.zip") ++tally->downloads;
    };
    SdkWrapper::InitSDK(config);
  };
  const auto delivered = [&tallies] {
    int total = 0;
    for (const auto& tally : tallies) total += tally->logs + tally->downloads;
    return total;
  };
  constexpr int kLogs = 4 * 2000;
  constexpr int kDownloads = 2 * 2000;

  initWithNewCallbacks();
  ASSERT_TRUE(
      scriptable_sdk::Fire({{"fire", "log"}, {"line", "tick"}, {"threads", 4}, {"count", 2000}}));
  ASSERT_TRUE(scriptable_sdk::Fire({{"fire", "download"},
                                    {"url", "https://files.example/d.zip"},
                                    {"threads", 2},
                                    {"count", 2000}}));
  // Keep re-initialising until the threads are through; the cap only ends a run that lost calls.
  for (int round = 0; round < 20000 && (round < 50 || delivered() < kLogs + kDownloads); ++round) {
    initWithNewCallbacks();
  }
  scriptable_sdk::WaitForLibraryThreads();

  int logs = 0;
  int downloads = 0;
  for (const auto& tally : tallies) {
    logs += tally->logs;
    downloads += tally->downloads;
  }
  EXPECT_EQ(logs, kLogs);
  EXPECT_EQ(downloads, kDownloads);
}

}  // namespace
}  // namespace electron_morvane
