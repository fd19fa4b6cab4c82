#include "protocol/message_router.h"

#include <gtest/gtest.h>

#include <new>
#include <stdexcept>
#include <string>
#include <vector>

#include "protocol/messages.h"
#include "protocol/method_binder.h"

namespace electron_morvane {
namespace {

struct TextParam {
  std::string text;
};

bool FromJson(const json& value, TextParam& out) {
  if (!ContainsAll(value, {"text"})) return false;
  return ReadText(value, "text", out.text);
}

// A router with two test methods: the request "echo" and the event "note", plus handlers that
// throw.
class RouterTest : public ::testing::Test {
 protected:
  RouterTest() {
    router_.SetSender([this](const std::string& line) { sent_.push_back(line); });
    MethodBinder(router_)
        .Request<TextParam>("echo",
                            [this](const RequestMessage<TextParam>& request) {
                              ++requestCalls_;
                              ResponseMessage<std::string> response;
                              static_cast<Envelope&>(response) = Envelope{
                                  "response", request.to, request.from, request.id,
                                  request.method};
                              response.result.status = 0;
                              response.result.data = request.params.text;
                              return response;
                            })
        .Event<TextParam>("note", [this](const EventMessage<TextParam>& event) {
          notes_.push_back(event.params.text);
        });
    router_.RegisterRequest("throwStd", [](const std::string&, const json&) -> std::string {
      throw std::runtime_error("handler broke");
    });
    router_.RegisterRequest("throwOther",
                            [](const std::string&, const json&) -> std::string { throw 42; });
  }

  std::vector<std::string> DispatchAndCollect(const std::string& line) {
    sent_.clear();
    router_.Dispatch(line);
    return sent_;
  }

  MessageRouter router_;
  std::vector<std::string> sent_;
  std::vector<std::string> notes_;
  int requestCalls_ = 0;
};

TEST_F(RouterTest, AnswersARequestWithItsHandlersResponse) {
  EXPECT_EQ(
      DispatchAndCollect(
          R"({"type":"request","from":"host","to":"client","id":"7","method":"echo","params":{"text":"hi"}})"
          "\n"),
      std::vector<std::string>{
          R"({"from":"client","id":"7","method":"echo","result":{"data":"hi","status":0,"statusString":"ok"},"to":"host","type":"response"})"});
}

TEST_F(RouterTest, DeliversADecodedEventWithoutAnswering) {
  EXPECT_TRUE(DispatchAndCollect(
                  R"({"type":"event","from":"host","to":"client","id":"3","method":"note","params":{"text":"n"}})")
                  .empty());
  EXPECT_EQ(notes_, std::vector<std::string>{"n"});
}

struct FailureCase {
  const char* name;
  std::string line;
  std::vector<std::string> sent;
};

class RouterFailures : public RouterTest, public ::testing::WithParamInterface<FailureCase> {};

TEST_P(RouterFailures, AnswerExactly) {
  EXPECT_EQ(DispatchAndCollect(GetParam().line), GetParam().sent);
  EXPECT_EQ(requestCalls_, 0);
  EXPECT_TRUE(notes_.empty());
}

std::string Fatal(const std::string& errorJson) {
  return R"({"error":)" + errorJson + R"(,"from":"client","to":"host","type":"fatal"})";
}

INSTANTIATE_TEST_SUITE_P(
    Router, RouterFailures,
    ::testing::Values(
        FailureCase{"EmptyLine", "", {}},
        FailureCase{"NotJson",
                    "hello\n",
                    {Fatal(R"("parse message failed hello\n [json.exception.parse_error.101] parse error at line 1, column 1: syntax error while parsing value - invalid literal; last read: 'h'")")}},
        FailureCase{"TrailingGarbage",
                    "{} x\n",
                    {Fatal(R"("parse message failed {} x\n [json.exception.parse_error.101] parse error at line 1, column 4: syntax error while parsing value - invalid literal; last read: '{} x'; expected end of input")")}},
        FailureCase{"NotAnObject", "[1,2]\n", {Fatal(R"("parse message failed")")}},
        FailureCase{"TypeNotAString",
                    R"({"type":1})",
                    {Fatal(R"("parse message failed {\"type\":1} [json.exception.type_error.302] type must be string, but is number")")}},
        FailureCase{"TypeMissing",
                    R"({"id":"1"})",
                    {Fatal(R"("parse message failed {\"id\":\"1\"} [json.exception.out_of_range.403] key 'type' not found")")}},
        FailureCase{"RequestIdANumber",
                    R"({"type":"request","id":7,"method":"echo"})",
                    {Fatal(R"("parse message failed {\"type\":\"request\",\"id\":7,\"method\":\"echo\"} [json.exception.type_error.302] type must be string, but is number")")}},
        FailureCase{"EventWithoutMethod",
                    R"({"type":"event","id":"1"})",
                    {Fatal(R"("parse message failed {\"type\":\"event\",\"id\":\"1\"} [json.exception.out_of_range.403] key 'method' not found")")}},
        FailureCase{"OtherType", R"({"type":"response","id":"1","method":"echo"})", {}},
        FailureCase{"UnknownRequest",
                    R"({"type":"request","from":"host","to":"client","id":"1","method":"nothing","params":{}})",
                    {}},
        FailureCase{"CaseMatters",
                    R"({"type":"request","from":"host","to":"client","id":"1","method":"Echo","params":{"text":"x"}})",
                    {}},
        FailureCase{"RequestFailsToDecode",
                    R"({"type":"request","from":"host","to":"client","id":"9","method":"echo"})",
                    {R"({"error":"parse request failed","from":"client","id":"9","method":"echo","to":"host","type":"error"})"}},
        FailureCase{"UnknownEvent",
                    R"({"type":"event","from":"host","to":"client","id":"1","method":"nope","params":{}})",
                    {Fatal(R"("unknown event nope")")}},
        FailureCase{"EventFailsToDecode",
                    R"({"type":"event","from":"host","to":"client","id":"1","method":"note","params":{"text":1}})",
                    {Fatal(R"("parse event failed note")")}},
        FailureCase{"HandlerThrowsStdException",
                    R"({"type":"request","id":"1","method":"throwStd"})",
                    {Fatal(R"("parse message failed {\"type\":\"request\",\"id\":\"1\",\"method\":\"throwStd\"} handler broke")")}},
        FailureCase{"HandlerThrowsAnythingElse",
                    R"({"type":"request","id":"1","method":"throwOther"})",
                    {Fatal(R"("parse message failed {\"type\":\"request\",\"id\":\"1\",\"method\":\"throwOther\"} unknown exception")")}}),
    [](const auto& info) { return std::string(info.param.name); });

// A new router serves nothing: the bridge's methods come only from whoever wires the process.
TEST(Router, StartsEmpty) {
  MessageRouter router;
  std::vector<std::string> sent;
  router.SetSender([&](const std::string& line) { sent.push_back(line); });
  router.Dispatch(R"({"type":"request","from":"host","to":"client","id":"1","method":"getSdkVersion"})");
  router.Dispatch(
      R"({"type":"event","from":"host","to":"client","id":"2","method":"downloadFile","params":{}})");
  EXPECT_EQ(sent, std::vector<std::string>{Fatal(R"("unknown event downloadFile")")});
}

// What is sent before a sender is installed is dropped, not kept for the sender to come.
TEST(Router, DropsMessagesWhileNoSenderIsInstalled) {
  MessageRouter router;
  EXPECT_NO_THROW(router.SendLine(R"({"type":"event"})"));
  EXPECT_NO_THROW(router.Dispatch("not json\n"));
  std::vector<std::string> sent;
  router.SetSender([&](const std::string& line) { sent.push_back(line); });
  router.Dispatch("[1]");
  EXPECT_EQ(sent, std::vector<std::string>{Fatal(R"("parse message failed")")});
}

TEST(Router, DispatchNeverThrowsEvenWhenTheSenderDoes) {
  MessageRouter router;
  router.SetSender([](const std::string&) { throw std::runtime_error("pipe gone"); });
  EXPECT_NO_THROW(router.Dispatch("not json\n"));
  EXPECT_NO_THROW(router.Dispatch(R"({"type":"event","id":"1","method":"nope"})"));
}

// A line far beyond any message is echoed only in part: the whole echo would cost its memory
// several times over. Ordinary lines keep their whole echo (the table above).
TEST(Router, EchoesOnlyTheStartOfAnEnormousUnusableLine) {
  MessageRouter router;
  std::vector<std::string> sent;
  router.SetSender([&](const std::string& line) { sent.push_back(line); });
  const std::string line = "\"" + std::string(3 * 1024 * 1024, 'x');  // an unterminated string
  router.Dispatch(line);
  ASSERT_EQ(sent.size(), 1u);
  const json fatal = json::parse(sent[0]);
  const std::string error = fatal.at("error").get<std::string>();
  EXPECT_EQ(error.rfind("parse message failed \"" + std::string(1023, 'x') + "... (3145729 bytes) [json.exception", 0), 0u)
      << error.substr(0, 100);
  EXPECT_LT(sent[0].size(), 4096u);
}

// Memory can run out while the report of an unusable line is made (the echo of a huge line):
// the host still hears of the line in a short text, and the router goes on.
TEST(Router, ReportsALineItHasNoMemoryToEchoInAShortText) {
  MessageRouter router;
  std::vector<std::string> sent;
  router.SetSender([&](const std::string& line) {
    if (line.size() > 200) throw std::bad_alloc();
    sent.push_back(line);
  });
  EXPECT_NO_THROW(router.Dispatch("not json " + std::string(500, 'y')));
  EXPECT_EQ(sent, std::vector<std::string>{Fatal(R"("parse message failed line dropped: not enough memory")")});
}

}  // namespace
}  // namespace electron_morvane
