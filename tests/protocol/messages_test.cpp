#include "protocol/messages.h"

#include <gtest/gtest.h>

#include <string>

#include "protocol/wire_format.h"

namespace electron_morvane {
namespace {

struct NameParam {
  std::string name;
};

bool FromJson(const json& value, NameParam& out) {
  if (!ContainsAll(value, {"name"})) return false;
  return ReadText(value, "name", out.name);
}

json ToJson(const NameParam& params) { return json{{"name", params.name}}; }

TEST(Serialization, WritesPureAsciiWithEscapes) {
  const struct {
    std::string text;
    std::string written;
  } cases[] = {
      {"caf\xc3\xa9", R"("caf\u00e9")"},
      {"a\xff" "b", R"("a\ufffdb")"},              // a lone invalid byte
      {"\xe2\x82", R"("\ufffd")"},                  // an incomplete sequence
      {"\xf0\x9f\x98\x80", R"("\ud83d\ude00")"},   // above U+FFFF: a surrogate pair
      {"line\nfeed\ttab\x01", R"("line\nfeed\ttab\u0001")"},
      {std::string("nul\0in", 6), R"("nul\u0000in")"},
  };
  for (const auto& c : cases) EXPECT_EQ(SerializeMessage(json(c.text)), c.written);
}

TEST(Serialization, WritesMembersInKeyOrderWithoutSpaces) {
  ResponseMessage<NoData> response;
  static_cast<Envelope&>(response) = Envelope{"response", "client", "host", "7", "getSdkVersion"};
  response.result.status = 0;
  EXPECT_EQ(SerializeMessage(ToJson(response)),
            R"({"from":"client","id":"7","method":"getSdkVersion","result":)"
            R"({"data":null,"status":0,"statusString":"ok"},"to":"host","type":"response"})");
}

TEST(Serialization, AResponseWithoutAStoredResultSaysUnknown) {
  ResponseMessage<std::string> response;
  response.result.data = "1.0";
  EXPECT_EQ(ToJson(response)["result"],
            json::parse(R"({"data":"1.0","status":-1005,"statusString":"unknown"})"));
}

TEST(Serialization, FatalAndErrorMessagesHaveTheirFixedKeys) {
  EXPECT_EQ(SerializeMessage(ToJson(makeFatalMessage("parse message failed"))),
            R"({"error":"parse message failed","from":"client","to":"host","type":"fatal"})");
  EXPECT_EQ(SerializeMessage(ToJson(makeErrorMessage("7", "init", "parse request failed"))),
            R"({"error":"parse request failed","from":"client","id":"7","method":"init",)"
            R"("to":"host","type":"error"})");
}

struct DecodeCase {
  const char* name;
  const char* message;
  bool decodes;
};

class RequestDecoding : public ::testing::TestWithParam<DecodeCase> {};

TEST_P(RequestDecoding, IsAllOrNothing) {
  const auto& c = GetParam();
  RequestMessage<NameParam> request;
  request.id = "untouched";
  const bool ok = FromJson(json::parse(c.message), request);
  EXPECT_EQ(ok, c.decodes);
  if (!ok) {
    EXPECT_EQ(request.id, "untouched");
    EXPECT_EQ(request.params.name, "");
  }
}

INSTANTIATE_TEST_SUITE_P(
    Messages, RequestDecoding,
    ::testing::Values(
        DecodeCase{"Complete",
                   R"({"type":"request","from":"host","to":"client","id":"7","method":"m","params":{"name":"x"}})",
                   true},
        DecodeCase{"ExtraMembers",
                   R"({"type":"request","from":"host","to":"client","id":"7","method":"m","params":{"name":"x","y":1},"z":2})",
                   true},
        DecodeCase{"MissingParams",
                   R"({"type":"request","from":"host","to":"client","id":"7","method":"m"})",
                   false},
        DecodeCase{"NumericId",
                   R"({"type":"request","from":"host","to":"client","id":7,"method":"m","params":{"name":"x"}})",
                   false},
        DecodeCase{"NullFrom",
                   R"({"type":"request","from":null,"to":"client","id":"7","method":"m","params":{"name":"x"}})",
                   false},
        DecodeCase{"ParamsFailToDecode",
                   R"({"type":"request","from":"host","to":"client","id":"7","method":"m","params":{"name":5}})",
                   false},
        DecodeCase{"ParamsNotAnObject",
                   R"({"type":"request","from":"host","to":"client","id":"7","method":"m","params":"x"})",
                   false},
        DecodeCase{"NotAnObject", R"(["type","request"])", false}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Messages, RequestsWithoutParamsIgnoreAnyParamsMember) {
  for (const char* message :
       {R"({"type":"request","from":"host","to":"client","id":"1","method":"getSdkVersion","params":42})",
        R"({"type":"request","from":"host","to":"client","id":"1","method":"getSdkVersion"})"}) {
    RequestMessage<NoParams> request;
    ASSERT_TRUE(FromJson(json::parse(message), request)) << message;
    EXPECT_EQ(request.id, "1");
    EXPECT_EQ(request.method, "getSdkVersion");
  }
}

TEST(Messages, EventsDecodeLikeRequestsAndCopyTheEnvelopeAsItIs) {
  EventMessage<NameParam> event;
  ASSERT_TRUE(FromJson(json::parse(R"({"type":"whatever","from":"a","to":"b","id":"","method":"m","params":{"name":"n"}})"),
                       event));
  EXPECT_EQ(event.type, "whatever");
  EXPECT_EQ(event.from, "a");
  EXPECT_EQ(event.to, "b");
  EXPECT_EQ(event.params.name, "n");
}

TEST(Messages, RequestsAndEventsWriteTheirParams) {
  RequestMessage<NameParam> request;
  static_cast<Envelope&>(request) = Envelope{"request", "client", "host", "0", "log"};
  request.params.name = "x";
  EXPECT_EQ(SerializeMessage(ToJson(request)),
            R"({"from":"client","id":"0","method":"log","params":{"name":"x"},"to":"host","type":"request"})");
}

}  // namespace
}  // namespace electron_morvane
