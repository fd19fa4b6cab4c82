// The library's service callbacks (log, download, cancel download, HTTP request): what the
// installed functions receive.
#include <atomic>
#include <cstdint>
#include <limits>
#include <map>
#include <ostream>
#include <stdexcept>
#include <string>
#include <vector>

#include "scripted_sdk_fixture.h"

namespace electron_morvane {
namespace {

using Headers = std::map<std::string, std::string>;

constexpr std::uint64_t kLargestSdkData = std::numeric_limits<std::uint64_t>::max();

// An address that must never be read: with a count or length of 0 the bridge has no business
// behind it, and a read faults.
template <typename T>
const T* Poison() {
  return reinterpret_cast<const T*>(std::uintptr_t{1});
}

struct HttpRequestCase {
  const char* name;
  std::vector<std::pair<std::string, std::string>> pairs;
  bool poisonHeaders;
  std::uint32_t headerCount;
  std::string bodyBytes;
  bool poisonBody;
  std::uint32_t bodyLength;
  Headers expectedHeaders;
  std::string expectedBody;
};

void PrintTo(const HttpRequestCase& c, std::ostream* out) { *out << c.name; }

class HttpRequestTrampolineTest : public ScriptedSdkTest,
                                  public ::testing::WithParamInterface<HttpRequestCase> {};

TEST_P(HttpRequestTrampolineTest, CopiesCountedHeadersAndBody) {
  const HttpRequestCase& c = GetParam();
  ServiceRecorder recorder;
  SdkWrapper::InitSDK(recorder.Config());
  std::vector<SdkHeaderPair> pairs;
  for (const auto& [name, value] : c.pairs) pairs.push_back({name.c_str(), value.c_str()});
  const SdkHeaderPair* headers = c.poisonHeaders ? Poison<SdkHeaderPair>() : pairs.data();
  const char* body = c.poisonBody ? Poison<char>() : c.bodyBytes.data();

  SdkWrapper::HttpRequestTrampoline("https://api.example/check", MORVANE_HTTP_POST, headers,
                                    c.headerCount, body, c.bodyLength, -7, kLargestSdkData);

  const auto requests = recorder.Requests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].url, "https://api.example/check");
  EXPECT_EQ(requests[0].method, MORVANE_HTTP_POST);
  EXPECT_EQ(requests[0].headers, c.expectedHeaders);
  EXPECT_EQ(requests[0].body, c.expectedBody);
  EXPECT_EQ(requests[0].sdkTaskId, -7);
  EXPECT_EQ(requests[0].sdkData, kLargestSdkData);
}

using namespace std::string_literals;

INSTANTIATE_TEST_SUITE_P(
    Requests, HttpRequestTrampolineTest,
    ::testing::Values(
        HttpRequestCase{"FirstOfARepeatedNameCounts",
                        {{"A", "1"}, {"a", "2"}, {"A", "3"}},
                        false,
                        3,
                        "",
                        true,
                        0,
                        {{"A", "1"}, {"a", "2"}},
                        ""},
        HttpRequestCase{"OnlyCountedHeadersAreRead",
                        {{"x-one", "1"}, {"x-two", "2"}, {"x-three", "3"}},
                        false,
                        2,
                        "",
                        true,
                        0,
                        {{"x-one", "1"}, {"x-two", "2"}},
                        ""},
        HttpRequestCase{"BodyKeepsItsNulBytes", {}, true, 0, "ab\0cd"s, false, 5, {}, "ab\0cd"s},
        HttpRequestCase{"OnlyCountedBodyBytesAreRead", {}, true, 0, "abcdef", false, 3, {}, "abc"},
        HttpRequestCase{"NothingCountedNothingRead", {}, true, 0, "", true, 0, {}, ""}),
    [](const auto& info) { return std::string(info.param.name); });

// The library's own threads call through the function pointers of the init record.
TEST_F(ScriptedSdkTest, ServiceCallsFromLibraryThreadsReachTheInstalledFunctions) {
  ServiceRecorder recorder;
  SdkWrapper::InitSDK(recorder.Config());

  FireAndWait({{"fire", "log"}, {"line", "adapter scan done \xc3\xa9"}});
  FireAndWait({{"fire", "download"},
               {"url", "https://files.example/pkg.zip"},
               {"path", "/tmp/pkg.zip"},
               {"sdkTaskId", -3},
               {"sdkData", "18446744073709551615"}});
  FireAndWait({{"fire", "cancelDownload"}, {"sdkTaskId", 42}});
  FireAndWait({{"fire", "httpRequest"},
               {"url", "https://api.example/q"},
               {"method", 7},
               {"headers", json::array({json::array({"b", "2"}), json::array({"a", "1"})})},
               {"bodyHex", "00ff00"},
               {"sdkTaskId", 5},
               {"sdkData", "12345678901234567890"}});

  const auto logs = recorder.Logs();
  ASSERT_EQ(logs.size(), 1u);
  EXPECT_EQ(logs[0].log, "adapter scan done \xc3\xa9");

  const auto downloads = recorder.Downloads();
  ASSERT_EQ(downloads.size(), 1u);
  EXPECT_EQ(downloads[0].url, "https://files.example/pkg.zip");
  EXPECT_EQ(downloads[0].path, "/tmp/pkg.zip");
  EXPECT_EQ(downloads[0].sdkTaskId, -3);
  EXPECT_EQ(downloads[0].sdkData, kLargestSdkData);

  const auto cancels = recorder.Cancels();
  ASSERT_EQ(cancels.size(), 1u);
  EXPECT_EQ(cancels[0].sdkTaskId, 42);

  const auto requests = recorder.Requests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].method, 7);
  EXPECT_EQ(requests[0].headers, (Headers{{"a", "1"}, {"b", "2"}}));
  EXPECT_EQ(requests[0].body, "\x00\xff\x00"s);
  EXPECT_EQ(requests[0].sdkTaskId, 5);
  EXPECT_EQ(requests[0].sdkData, 12345678901234567890u);
}

TEST_F(ScriptedSdkTest, LogCallbackResultIsNotPassedOn) {
  int calls = 0;
  SdkWrapper::SdkInitConfig config;
  config.logCallback = [&calls](const SdkWrapper::LogParam&) { return ++calls, 7; };
  SdkWrapper::InitSDK(config);

  EXPECT_EQ(SdkWrapper::LogTrampoline("line"), 0);
  EXPECT_EQ(calls, 1);
}

// A configuration without functions: the callbacks do nothing and report nothing.
TEST_F(ScriptedSdkTest, CallbacksWithoutInstalledFunctionsDoNothing) {
  SdkWrapper::InitSDK(SdkWrapper::SdkInitConfig{});

  EXPECT_EQ(SdkWrapper::LogTrampoline("line"), 0);
  SdkWrapper::DownloadTrampoline("u", "p", 1, 2);
  SdkWrapper::CancelDownloadTrampoline(1);
  SdkWrapper::HttpRequestTrampoline("u", 0, nullptr, 0, nullptr, 0, 1, 2);
  // Installing functions again brings the callbacks back.
  ServiceRecorder recorder;
  SdkWrapper::InitSDK(recorder.Config());
  SdkWrapper::CancelDownloadTrampoline(9);
  ASSERT_EQ(recorder.Cancels().size(), 1u);
  EXPECT_EQ(recorder.Cancels()[0].sdkTaskId, 9);
}

// An exception must never unwind into the library's frames (its threads would end the process):
// whatever a callback throws is dropped at the door, and the library's thread goes on.
TEST_F(ScriptedSdkTest, WhatACallbackThrowsNeverReachesTheLibrary) {
  std::atomic<int> survived{0};
  SdkWrapper::SdkInitConfig config;
  config.logCallback = [&](const SdkWrapper::LogParam& param) -> int {
    if (param.log == "std") throw std::runtime_error("callback broke");
    if (param.log == "other") throw 42;
    ++survived;
    return 0;
  };
  ASSERT_EQ(SdkWrapper::InitSDK(config), 0);
  FireAndWait({{"fire", "log"}, {"line", "std"}});
  FireAndWait({{"fire", "log"}, {"line", "other"}});
  FireAndWait({{"fire", "log"}, {"line", "fine"}});
  EXPECT_EQ(survived, 1);

  bool checkReached = false;
  ASSERT_EQ(SdkWrapper::CheckDisplayDeviceDriver("10DE", "2204",
                                                 [&](const SdkWrapper::SdkDisplayDriverConfig&) {
                                                   checkReached = true;
                                                   throw std::runtime_error("job broke");
                                                 }),
            0);
  FireAndWait({{"fire", "check"}});
  EXPECT_TRUE(checkReached);
}

}  // namespace
}  // namespace electron_morvane
