// How the params of the host's requests and events decode: all or nothing, by the reading rules.
#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>

#include "operations/driver_jobs.h"
#include "operations/library_init.h"
#include "operations/query_methods.h"
#include "services/download_proxy.h"
#include "services/http_proxy.h"

namespace electron_morvane {
namespace {

json InitParams(const std::string& extra = "") {
  return json::parse(R"({"appName":"app","appId":"id","deviceId":"dev","clientVersion":"1.0",)"
                     R"("oversea":false)" +
                     (extra.empty() ? "" : "," + extra) + "}");
}

struct LogModeCase {
  const char* logMode;  // nullptr: no "logMode" key
  std::optional<std::int32_t> bits;
};

class InitLogMode : public ::testing::TestWithParam<LogModeCase> {};

TEST_P(InitLogMode, OrsTheBitsOfEveryName) {
  const auto& c = GetParam();
  SdkWrapper::SdkInitConfig config;
  const json params =
      c.logMode ? InitParams(std::string(R"("logMode":)") + c.logMode) : InitParams();
  ASSERT_EQ(FromJson(params, config), c.bits.has_value()) << params.dump();
  if (c.bits) {
    EXPECT_EQ(config.logMode, *c.bits) << params.dump();
  }
}

INSTANTIATE_TEST_SUITE_P(
    Init, InitLogMode,
    ::testing::Values(LogModeCase{R"("debug")", 8}, LogModeCase{R"(["error","warning"])", 3},
                      LogModeCase{R"(["all","none"])", 15}, LogModeCase{R"(["info","info"])", 4},
                      LogModeCase{"[]", 0}, LogModeCase{"null", 0}, LogModeCase{nullptr, 0},
                      LogModeCase{R"("DEBUG")", 0}, LogModeCase{R"("Debug")", 0},
                      LogModeCase{R"({"a":"error","b":"debug"})", 9},
                      LogModeCase{"5", std::nullopt}, LogModeCase{R"(["info",3])", std::nullopt},
                      LogModeCase{R"([null])", std::nullopt}));

struct InitCase {
  const char* name;
  json params;
  bool decodes;
};

class InitParamsDecoding : public ::testing::TestWithParam<InitCase> {};

TEST_P(InitParamsDecoding, AcceptsOrRefusesTheWholeRequest) {
  SdkWrapper::SdkInitConfig config;
  config.appName = "untouched";
  EXPECT_EQ(FromJson(GetParam().params, config), GetParam().decodes);
  if (!GetParam().decodes) {
    EXPECT_EQ(config.appName, "untouched");
  }
}

json Without(json params, const char* key) {
  params.erase(key);
  return params;
}

json With(json params, const char* key, json value) {
  params[key] = std::move(value);
  return params;
}

INSTANTIATE_TEST_SUITE_P(
    Init, InitParamsDecoding,
    ::testing::Values(
        InitCase{"Minimal", InitParams(), true},
        InitCase{"AllOptionalTexts",
                 InitParams(R"("sdkConfigUrl":"u","configDir":"c","tempDir":"t")"), true},
        InitCase{"EmptyOptionalText", InitParams(R"("configDir":"")"), true},
        InitCase{"UnknownKeys", InitParams(R"("colour":"blue")"), true},
        InitCase{"NullOptionalText", InitParams(R"("configDir":null)"), false},
        InitCase{"NumericOptionalText", InitParams(R"("tempDir":1)"), false},
        InitCase{"OverseaOne", With(InitParams(), "oversea", 1),
                 false},
        InitCase{"OverseaText", With(InitParams(), "oversea", "true"),
                 false},
        InitCase{"NoClientVersion", Without(InitParams(), "clientVersion"), false},
        InitCase{"NoAppName", Without(InitParams(), "appName"), false},
        InitCase{"NumericAppId", With(InitParams(), "appId", 7), false},
        InitCase{"ParamsNotAnObject", json::array({"appName"}), false}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Init, KeepsTheOptionalTextsItWasGiven) {
  SdkWrapper::SdkInitConfig config;
  ASSERT_TRUE(FromJson(
      InitParams(R"("sdkConfigUrl":"http://x/c.json","configDir":"","oversea2":true)"), config));
  EXPECT_EQ(config.sdkConfigUrl, "http://x/c.json");
  EXPECT_EQ(config.configDir, "");
  EXPECT_EQ(config.tempDir, "");
  EXPECT_EQ(config.deviceId, "dev");
  EXPECT_FALSE(config.oversea);
}

json HttpAnswer(const std::string& headers = "{}", const std::string& sdkData = R"("1")") {
  return json::parse(R"({"sdkTaskId":3,"result":0,"httpStatusCode":200,"errorMsg":"",)"
                     R"("headers":)" + headers + R"(,"body":"b","sdkData":)" + sdkData + "}");
}

struct HeadersCase {
  const char* headers;
  std::optional<std::map<std::string, std::string>> decoded;
};

class HttpAnswerHeaders : public ::testing::TestWithParam<HeadersCase> {};

TEST_P(HttpAnswerHeaders, WalkObjectsArraysStringsAndNull) {
  HttpResponseParam answer;
  ASSERT_EQ(FromJson(HttpAnswer(GetParam().headers), answer), GetParam().decoded.has_value());
  if (GetParam().decoded) {
    EXPECT_EQ(answer.headers, *GetParam().decoded);
  }
}

INSTANTIATE_TEST_SUITE_P(
    HttpAnswer, HttpAnswerHeaders,
    ::testing::Values(
        HeadersCase{R"({"b":"2","a":"1"})", std::map<std::string, std::string>{{"a", "1"}, {"b", "2"}}},
        HeadersCase{"{}", std::map<std::string, std::string>{}},
        HeadersCase{"null", std::map<std::string, std::string>{}},
        HeadersCase{R"(["a","b"])", std::map<std::string, std::string>{{"0", "a"}, {"1", "b"}}},
        HeadersCase{R"("x")", std::map<std::string, std::string>{{"", "x"}}},
        HeadersCase{R"({"a":1})", std::nullopt}, HeadersCase{R"({"a":null})", std::nullopt},
        HeadersCase{R"([["a"]])", std::nullopt}, HeadersCase{"true", std::nullopt},
        HeadersCase{"5", std::nullopt}));

struct SdkDataCase {
  const char* sdkData;
  std::optional<std::uint64_t> value;
};

class HttpAnswerSdkData : public ::testing::TestWithParam<SdkDataCase> {};

TEST_P(HttpAnswerSdkData, FollowsTheDecimalRule) {
  HttpResponseParam answer;
  ASSERT_EQ(FromJson(HttpAnswer("{}", GetParam().sdkData), answer), GetParam().value.has_value());
  if (GetParam().value) {
    EXPECT_EQ(answer.sdkData, *GetParam().value);
  }
}

INSTANTIATE_TEST_SUITE_P(
    HttpAnswer, HttpAnswerSdkData,
    ::testing::Values(SdkDataCase{R"("18446744073709551615")", UINT64_MAX},
                      SdkDataCase{R"("12345abc")", 12345}, SdkDataCase{"12345", std::nullopt},
                      SdkDataCase{R"("")", std::nullopt}, SdkDataCase{R"("abc")", std::nullopt},
                      SdkDataCase{R"("18446744073709551616")", std::nullopt}));

TEST(HttpAnswer, NeedsAllSevenKeysAndIgnoresOthers) {
  HttpResponseParam answer;
  for (const char* key :
       {"sdkTaskId", "result", "httpStatusCode", "errorMsg", "headers", "body", "sdkData"}) {
    json partial = HttpAnswer();
    partial.erase(key);
    EXPECT_FALSE(FromJson(partial, answer)) << key;
  }
  json extra = HttpAnswer();
  extra["more"] = 1;
  ASSERT_TRUE(FromJson(extra, answer));
  EXPECT_EQ(answer.sdkTaskId, 3);
  EXPECT_EQ(answer.body, "b");
}

TEST(HttpAnswer, ReadsIntegersByTheIntegerRule) {
  HttpResponseParam answer;
  json value = HttpAnswer();
  value["sdkTaskId"] = 7.9;
  value["result"] = true;
  value["httpStatusCode"] = 4294967296LL + 404;
  ASSERT_TRUE(FromJson(value, answer));
  EXPECT_EQ(answer.sdkTaskId, 7);
  EXPECT_EQ(answer.result, 1);
  EXPECT_EQ(answer.httpStatusCode, 404);
  value["sdkTaskId"] = "7";
  EXPECT_FALSE(FromJson(value, answer));
}

json DownloadEvent() {
  return json::parse(R"({"sdkTaskId":-4,"progress":42.9,"isFinish":true,"result":-3001,)"
                     R"("httpStatusCode":0,"errorMsg":"gone","sdkData":"9"})");
}

TEST(DownloadProgress, DecodesAllSevenKeys) {
  DownloadProgressParam progress;
  ASSERT_TRUE(FromJson(DownloadEvent(), progress));
  EXPECT_EQ(progress.sdkTaskId, -4);
  EXPECT_EQ(progress.progress, 42);
  EXPECT_TRUE(progress.isFinish);
  EXPECT_EQ(progress.result, -3001);
  EXPECT_EQ(progress.errorMsg, "gone");
  EXPECT_EQ(progress.sdkData, 9u);
}

TEST(DownloadProgress, RefusesAnythingButTrueOrFalseForIsFinishAndMissingKeys) {
  DownloadProgressParam progress;
  json numericFinish = DownloadEvent();
  numericFinish["isFinish"] = 1;
  EXPECT_FALSE(FromJson(numericFinish, progress));
  for (const char* key :
       {"sdkTaskId", "progress", "isFinish", "result", "httpStatusCode", "errorMsg", "sdkData"}) {
    json partial = DownloadEvent();
    partial.erase(key);
    EXPECT_FALSE(FromJson(partial, progress)) << key;
  }
}

TEST(DriverParams, NeedBothIdsAsText) {
  DisplayDeviceDriverParam param;
  EXPECT_TRUE(FromJson(json::parse(R"({"vendorId":"10DE","deviceId":"2484","x":1})"), param));
  EXPECT_EQ(param.vendorId, "10DE");
  EXPECT_FALSE(FromJson(json::parse(R"({"vendorId":4318,"deviceId":"2484"})"), param));
  EXPECT_FALSE(FromJson(json::parse(R"({"vendorId":"10DE"})"), param));
  EXPECT_FALSE(FromJson(json::parse("null"), param));
}

TEST(DownloadDir, NeedsADirText) {
  DownloadDirParam param;
  EXPECT_TRUE(FromJson(json::parse(R"({"dir":""})"), param));
  for (const char* refused : {R"({"dir":5})", R"({"dir":null})", "{}", R"("dir")"}) {
    EXPECT_FALSE(FromJson(json::parse(refused), param)) << refused;
  }
}

}  // namespace
}  // namespace electron_morvane
