// The library's HTTP requests, downloads and log lines through the real bridge: what the host
// receives, and what the library gets back from the host's answers.
#include <gtest/gtest.h>

#include <string>

#include "scripted_bridge.h"

namespace electron_morvane::testing {
namespace {

json OnInit(json fire) {
  fire["on"] = "Morvane_InitSDK";
  return fire;
}

json OnVersion(json fire) {
  fire["on"] = "Morvane_GetSDKVersion";
  fire["when"] = "before";
  return fire;
}

// Header pairs as the library's call log lists them: [name, value] in the order received.
json Pairs(std::initializer_list<std::pair<const char*, const char*>> pairs) {
  json list = json::array();
  for (const auto& [name, value] : pairs) list.push_back(json::array({name, value}));
  return list;
}

TEST(ReverseRequests, ShareOneIdCounterAcrossAllFourKinds) {
  // Fired one after another on the main thread while the host asks for the version.
  ScriptedBridge bridge(json{
      {"actions",
       {OnVersion({{"fire", "httpRequest"}, {"url", "http://h/a"}, {"sdkTaskId", 1}}),
        OnVersion({{"fire", "download"}, {"url", "http://h/f"}, {"path", "/tmp/f"},
                   {"sdkTaskId", -2}, {"sdkData", "18446744073709551615"}}),
        OnVersion({{"fire", "log"}, {"line", ""}}),
        OnVersion({{"fire", "cancelDownload"}, {"sdkTaskId", -2}}),
        OnVersion({{"fire", "httpRequest"}, {"url", "http://h/b"}, {"method", 1}})}}});
  bridge.Init();
  bridge.Send(Request("v", "getSdkVersion"));
  const std::string expected[] = {
      R"({"from":"client","id":"0","method":"httpRequest","params":{"body":"","headers":{},"method":"GET","sdkData":"0","sdkTaskId":1,"url":"http://h/a"},"to":"host","type":"request"})",
      R"({"from":"client","id":"1","method":"downloadFile","params":{"path":"/tmp/f","sdkData":"18446744073709551615","sdkTaskId":-2,"url":"http://h/f"},"to":"host","type":"request"})",
      R"({"from":"client","id":"2","method":"log","params":{"log":""},"to":"host","type":"request"})",
      R"({"from":"client","id":"3","method":"cancelDownloadFile","params":{"sdkTaskId":-2},"to":"host","type":"request"})",
      R"({"from":"client","id":"4","method":"httpRequest","params":{"body":"","headers":{},"method":"POST","sdkData":"0","sdkTaskId":0,"url":"http://h/b"},"to":"host","type":"request"})",
  };
  for (const std::string& line : expected) EXPECT_EQ(bridge.Host().ReadLine(), line);
  EXPECT_EQ(bridge.Host().ReadMessage().at("type"), "response");
}

TEST(ReverseRequests, HttpMethodCodesOtherThanOneAreGet) {
  json actions = json::array();
  for (int code : {0, 2, -1, 1}) {
    actions.push_back(OnVersion({{"fire", "httpRequest"}, {"method", code}, {"sdkTaskId", code}}));
  }
  ScriptedBridge bridge(json{{"actions", actions}});
  bridge.Init();
  bridge.Send(Request("v", "getSdkVersion"));
  for (const char* word : {"GET", "GET", "GET", "POST"}) {
    EXPECT_EQ(bridge.NextOf("httpRequest").at("params").at("method"), word);
  }
}

TEST(ReverseRequests, HttpBodiesAndHeadersGoOutWhole) {
  ScriptedBridge bridge(json{
      {"actions",
       {OnInit({{"fire", "httpRequest"},
                {"headers", Pairs({{"A", "1"}, {"a", "2"}, {"A", "3"}})},
                {"bodyHex", "6100620063ffc3"},
                {"sdkData", "12"}})}}});
  bridge.Init();
  EXPECT_EQ(bridge.NextOf("httpRequest").dump(-1, ' ', true),
            R"({"from":"client","id":"0","method":"httpRequest","params":{"body":"a\u0000b\u0000c\ufffd\ufffd","headers":{"A":"1","a":"2"},"method":"GET","sdkData":"12","sdkTaskId":0,"url":""},"to":"host","type":"request"})");
}

TEST(ReverseRequests, NothingIsSentBeforeInit) {
  ScriptedBridge bridge(json{{"actions", {OnVersion({{"fire", "log"}, {"line", "early"}})}}});
  bridge.Call(Request("v", "getSdkVersion"));
  EXPECT_TRUE(bridge.Quiet());
}

json HttpAnswer(const json& changes = json::object()) {
  json params = {{"sdkTaskId", 3},       {"result", 0},   {"httpStatusCode", 200},
                 {"errorMsg", ""},       {"headers", json::object()},
                 {"body", ""},           {"sdkData", "0"}};
  params.update(changes);
  return params;
}

struct HttpAnswerCase {
  const char* name;
  json params;
  json delivered;  // members of the library's httpResponse call
};

class HttpAnswers : public ::testing::TestWithParam<HttpAnswerCase> {};

TEST_P(HttpAnswers, ReachTheLibraryAsGiven) {
  ScriptedBridge bridge;
  bridge.Init();
  bridge.Send(HostEvent("any", "httpRequest", GetParam().params));
  const auto calls = bridge.WaitForCalls("httpResponse");
  ASSERT_EQ(calls.size(), 1u);
  for (const auto& [key, value] : GetParam().delivered.items()) {
    EXPECT_EQ(calls[0].at(key), value) << key << " in " << calls[0].dump();
  }
  EXPECT_TRUE(bridge.Quiet(50ms)) << "an answer gets no reply";
}

INSTANTIATE_TEST_SUITE_P(
    Bridge, HttpAnswers,
    ::testing::Values(
        HttpAnswerCase{"HeadersObjectInNameOrder",
                       HttpAnswer({{"headers", {{"b", "2"}, {"a", "1"}}}}),
                       {{"headersNull", false}, {"headerCount", 2},
                        {"headers", Pairs({{"a", "1"}, {"b", "2"}})}}},
        HttpAnswerCase{"HeadersArray", HttpAnswer({{"headers", {"a", "b"}}}),
                       {{"headers", Pairs({{"0", "a"}, {"1", "b"}})}}},
        HttpAnswerCase{"HeadersString", HttpAnswer({{"headers", "x"}}),
                       {{"headers", Pairs({{"", "x"}})}}},
        HttpAnswerCase{"HeadersNull", HttpAnswer({{"headers", nullptr}}),
                       {{"headersNull", true}, {"headerCount", 0}}},
        HttpAnswerCase{"HeadersEmpty", HttpAnswer(),
                       {{"headersNull", true}, {"headerCount", 0}}},
        HttpAnswerCase{"BodyWithNulBytes", HttpAnswer({{"body", std::string("a\0b\0", 4)}}),
                       {{"bodyLength", 4}, {"bodyHex", "61006200"}, {"bodyTerminated", true}}},
        HttpAnswerCase{"LargestSdkData", HttpAnswer({{"sdkData", "18446744073709551615"}}),
                       {{"sdkData", "18446744073709551615"}}},
        HttpAnswerCase{"SdkDataWithTrailingLetters", HttpAnswer({{"sdkData", "12345abc"}}),
                       {{"sdkData", "12345"}}},
        HttpAnswerCase{"FractionalTaskId", HttpAnswer({{"sdkTaskId", 7.9}}), {{"sdkTaskId", 7}}},
        HttpAnswerCase{"BooleanTaskId", HttpAnswer({{"sdkTaskId", true}}), {{"sdkTaskId", 1}}},
        HttpAnswerCase{"NetworkFailure",
                       HttpAnswer({{"result", -3001}, {"httpStatusCode", 0},
                                   {"errorMsg", "connection refused"}}),
                       {{"result", -3001}, {"httpStatusCode", 0},
                        {"errorMsg", "connection refused"}}},
        HttpAnswerCase{"LongErrorText", HttpAnswer({{"errorMsg", std::string(300, 'e')}}),
                       {{"errorMsg", std::string(255, 'e')}, {"errorMsgLength", 255}}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(DownloadAnswers, EveryProgressEventIsDeliveredAsItComes) {
  ScriptedBridge bridge;
  bridge.Init();
  const json events[] = {
      {{"sdkTaskId", -4}, {"progress", 42.9}, {"isFinish", false}, {"result", 0},
       {"httpStatusCode", 200}, {"errorMsg", ""}, {"sdkData", "5"}},
      {{"sdkTaskId", -4}, {"progress", 100}, {"isFinish", true}, {"result", 0},
       {"httpStatusCode", 200}, {"errorMsg", std::string(256, 'x')}, {"sdkData", "5"}},
      {{"sdkTaskId", -4}, {"progress", 100}, {"isFinish", true}, {"result", -3001},
       {"httpStatusCode", 0}, {"errorMsg", "again"}, {"sdkData", "5"}},
  };
  for (const json& params : events) bridge.Send(HostEvent("d", "downloadFile", params));
  const auto calls = bridge.WaitForCalls("downloadResponse", 3);
  ASSERT_EQ(calls.size(), 3u);
  EXPECT_EQ(calls[0].at("progress"), 42);
  EXPECT_EQ(calls[0].at("isFinish"), 0);
  EXPECT_EQ(calls[0].at("sdkTaskId"), -4);
  EXPECT_EQ(calls[1].at("isFinish"), 1);
  EXPECT_EQ(calls[1].at("errorMsgLength"), 255);
  EXPECT_EQ(calls[2].at("result"), -3001);
  EXPECT_EQ(calls[2].at("sdkData"), "5");
}

TEST(Answers, ArriveBeforeInitAreDroppedSilently) {
  ScriptedBridge bridge;
  bridge.Send(HostEvent("a", "httpRequest", HttpAnswer()));
  bridge.Send(HostEvent("b", "downloadFile",
                        {{"sdkTaskId", 1}, {"progress", 1}, {"isFinish", false}, {"result", 0},
                         {"httpStatusCode", 200}, {"errorMsg", ""}, {"sdkData", "1"}}));
  EXPECT_TRUE(bridge.Quiet());
  bridge.Call(Request("v", "getSdkVersion"));
  EXPECT_TRUE(bridge.CallsOf("httpResponse").empty());
  EXPECT_TRUE(bridge.CallsOf("downloadResponse").empty());
}

TEST(Answers, AreDroppedWhileTheLibraryHasNotFilledItsSlot) {
  ScriptedBridge bridge(json{{"init", {{"fillHttpResponse", false}}}});
  bridge.Init();
  bridge.Send(HostEvent("a", "httpRequest", HttpAnswer()));
  bridge.Send(HostEvent("b", "downloadFile",
                        {{"sdkTaskId", 1}, {"progress", 1}, {"isFinish", false}, {"result", 0},
                         {"httpStatusCode", 200}, {"errorMsg", ""}, {"sdkData", "1"}}));
  EXPECT_EQ(bridge.WaitForCalls("downloadResponse").size(), 1u);
  EXPECT_TRUE(bridge.CallsOf("httpResponse").empty());
}

}  // namespace
}  // namespace electron_morvane::testing
