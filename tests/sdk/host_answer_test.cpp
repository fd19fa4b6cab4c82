// The host's answers to downloads and HTTP requests, handed to the library's response functions.
#include <cstdint>
#include <limits>
#include <map>
#include <ostream>
#include <string>

#include "scripted_sdk_fixture.h"

namespace electron_morvane {
namespace {

using namespace std::string_literals;

class HostAnswerTest : public ScriptedSdkTest {
 protected:
  void SetUp() override {
    ScriptedSdkTest::SetUp();
    SdkWrapper::InitSDK(SdkWrapper::SdkInitConfig{});
  }

  static json OnlyCallOf(const std::string& function) {
    const auto calls = scriptable_sdk::CallsOf(function);
    EXPECT_EQ(calls.size(), 1u) << function;
    return calls.empty() ? json() : calls.front();
  }
};

std::string Letters(std::size_t length) {
  std::string text;
  for (std::size_t i = 0; i < length; ++i) text.push_back(static_cast<char>('a' + i % 26));
  return text;
}

class ErrorTextTest : public HostAnswerTest, public ::testing::WithParamInterface<std::size_t> {};

TEST_P(ErrorTextTest, IsCutTo255Bytes) {
  const std::string text = Letters(GetParam());
  const std::string expected = text.substr(0, 255);
  DownloadProgressParam progress;
  progress.errorMsg = text;
  HttpResponseParam response;
  response.errorMsg = text;

  SdkWrapper::OnDownloadProgress(progress);
  SdkWrapper::OnHttpResponse(response);

  for (const char* function : {"downloadResponse", "httpResponse"}) {
    SCOPED_TRACE(function);
    const json call = OnlyCallOf(function);
    EXPECT_EQ(call["errorMsg"], expected);
    EXPECT_EQ(call["errorMsgLength"], expected.size());
  }
}

INSTANTIATE_TEST_SUITE_P(Lengths, ErrorTextTest, ::testing::Values(0, 254, 255, 256, 300));

TEST_F(HostAnswerTest, DownloadProgressArrivesWithEveryField) {
  DownloadProgressParam progress;
  progress.sdkTaskId = -9;
  progress.progress = 55;
  progress.isFinish = true;
  progress.result = -3001;
  progress.httpStatusCode = 404;
  progress.errorMsg = "not found";
  progress.sdkData = std::numeric_limits<std::uint64_t>::max();

  SdkWrapper::OnDownloadProgress(progress);

  const json call = OnlyCallOf("downloadResponse");
  EXPECT_EQ(call["sdkTaskId"], -9);
  EXPECT_EQ(call["progress"], 55);
  EXPECT_EQ(call["isFinish"], 1);
  EXPECT_EQ(call["result"], -3001);
  EXPECT_EQ(call["httpStatusCode"], 404);
  EXPECT_EQ(call["errorMsg"], "not found");
  EXPECT_EQ(call["sdkData"], "18446744073709551615");
}

struct HeadersCase {
  const char* name;
  std::map<std::string, std::string> headers;
  bool arrayNull;
  json pairs;
};

void PrintTo(const HeadersCase& c, std::ostream* out) { *out << c.name; }

class ResponseHeadersTest : public HostAnswerTest,
                            public ::testing::WithParamInterface<HeadersCase> {};

TEST_P(ResponseHeadersTest, ArriveInByteOrderOfNames) {
  const HeadersCase& c = GetParam();
  HttpResponseParam response;
  response.headers = c.headers;

  SdkWrapper::OnHttpResponse(response);

  const json call = OnlyCallOf("httpResponse");
  EXPECT_EQ(call["headersNull"], c.arrayNull);
  EXPECT_EQ(call["headerCount"], c.pairs.size());
  EXPECT_EQ(call["headers"], c.pairs);
}

INSTANTIATE_TEST_SUITE_P(Headers, ResponseHeadersTest,
                         ::testing::Values(HeadersCase{"None", {}, true, json::array()},
                                           HeadersCase{"Several",
                                                       {{"b", "2"}, {"a", "1"}, {"B", "3"}},
                                                       false,
                                                       json::array({json::array({"B", "3"}),
                                                                    json::array({"a", "1"}),
                                                                    json::array({"b", "2"})})}),
                         [](const auto& info) { return std::string(info.param.name); });

struct BodyCase {
  const char* name;
  std::string body;
  std::string hex;
};

void PrintTo(const BodyCase& c, std::ostream* out) { *out << c.name; }

class ResponseBodyTest : public HostAnswerTest, public ::testing::WithParamInterface<BodyCase> {};

TEST_P(ResponseBodyTest, ArrivesAtFullLengthFollowedByANul) {
  const BodyCase& c = GetParam();
  HttpResponseParam response;
  response.sdkTaskId = 12;
  response.result = 0;
  response.httpStatusCode = 200;
  response.body = c.body;
  response.sdkData = 77;

  SdkWrapper::OnHttpResponse(response);

  const json call = OnlyCallOf("httpResponse");
  EXPECT_EQ(call["bodyNull"], false);
  EXPECT_EQ(call["bodyLength"], c.body.size());
  EXPECT_EQ(call["bodyHex"], c.hex);
  EXPECT_EQ(call["bodyTerminated"], true);
  EXPECT_EQ(call["sdkTaskId"], 12);
  EXPECT_EQ(call["httpStatusCode"], 200);
  EXPECT_EQ(call["sdkData"], "77");
}

INSTANTIATE_TEST_SUITE_P(Bodies, ResponseBodyTest,
                         ::testing::Values(BodyCase{"Empty", "", ""},
                                           BodyCase{"WithNulBytes", "a\0b\0"s, "61006200"},
                                           BodyCase{"NotText", "\xff\xfe\x00\x80"s, "fffe0080"}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace electron_morvane
