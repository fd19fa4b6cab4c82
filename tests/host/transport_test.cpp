// The bridge process as the host sees it: how it connects, answers lines and exits.
#include <gtest/gtest.h>

#include <string>

#include "support/bridge_host.h"

namespace electron_morvane::testing {
namespace {

constexpr char kUnknownEvent[] =
    R"({"type":"event","from":"host","to":"client","id":"1","method":"nope","params":{}})";
constexpr char kUnknownEventReply[] =
    R"({"error":"unknown event nope","from":"client","to":"host","type":"fatal"})";

std::string UnknownEvent(const std::string& name) {
  return R"({"type":"event","from":"host","to":"client","id":"1","method":")" + name +
         R"(","params":{}})";
}

std::string UnknownEventReply(const std::string& name) {
  return R"({"error":"unknown event )" + name + R"(","from":"client","to":"host","type":"fatal"})";
}

struct ConnectFailureCase {
  const char* name;
  bool unsetVariable;
  std::string pipePath;  // relative paths are taken inside the host's folder
  int exitCode;
  int windowsExitCode;  // where Windows answers otherwise
};

class ConnectFailure : public ::testing::TestWithParam<ConnectFailureCase> {};

TEST_P(ConnectFailure, ExitsWithTheSystemCodeAndWritesNothing) {
  const ConnectFailureCase& c = GetParam();
  BridgeOptions options;
  options.expectConnection = false;
  options.unsetPipeVariable = c.unsetVariable;
  TempFolder elsewhere;
  if (!c.unsetVariable) {
    options.pipePath = c.pipePath.empty() || c.pipePath[0] == '/' ? c.pipePath
                                                                   : elsewhere.File(c.pipePath);
  }
  BridgeHost host(options);
  EXPECT_EQ(host.WaitExit(), RunsUnderWine() ? c.windowsExitCode : c.exitCode);
  EXPECT_FALSE(host.ConnectionAttempted());
}

INSTANTIATE_TEST_SUITE_P(
    Bridge, ConnectFailure,
    ::testing::Values(ConnectFailureCase{"UnsetVariable", true, "", 3, 3},
                      ConnectFailureCase{"EmptyPath", false, "", 3, 3},
                      ConnectFailureCase{"NoSocket", false, "absent.sock", 2, 2},
                      ConnectFailureCase{"MissingFolder", false, "no/such/folder.sock", 3, 3},
                      // A socket address holds 108 bytes; a pipe name of 200 is fine on Windows,
                      // where nobody serves it.
                      ConnectFailureCase{"PathTooLong", false, std::string(200, 'x'), 206, 2}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Bridge, ExitsWith109WhenTheHostClosesItsEnd) {
  BridgeHost host;
  ASSERT_TRUE(host.Connected());
  host.CloseHostEnd();
  EXPECT_EQ(host.WaitExit(), 109);
}

TEST(Bridge, DropsAnUnfinishedLineWhenTheHostClosesAndExitsWith109) {
  BridgeHost host;
  host.Write("abc");
  host.CloseHostEnd();
  EXPECT_EQ(host.WaitExit(), 109);
}

TEST(Bridge, AnswersTwoMessagesOfOneWriteInOrder) {
  BridgeHost host;
  host.Write(UnknownEvent("first") + "\n" + UnknownEvent("second") + "\n");
  EXPECT_EQ(host.ReadLine(), UnknownEventReply("first"));
  EXPECT_EQ(host.ReadLine(), UnknownEventReply("second"));
}

TEST(Bridge, AnswersALineOnceItsLineFeedArrives) {
  BridgeHost host;
  const std::string line = kUnknownEvent;
  host.Write(line.substr(0, 20));
  EXPECT_TRUE(host.Quiet(200ms));
  host.Write(line.substr(20));
  EXPECT_TRUE(host.Quiet(200ms));
  host.Write("\n");
  EXPECT_EQ(host.ReadLine(), kUnknownEventReply);
}

TEST(Bridge, SkipsALoneLineFeedSilently) {
  BridgeHost host;
  host.Write("\n");
  EXPECT_TRUE(host.Quiet());
  host.SendLine(kUnknownEvent);
  EXPECT_EQ(host.ReadLine(), kUnknownEventReply);
}

TEST(Bridge, AnswersACarriageReturnLineWithAFatalMessage) {
  BridgeHost host;
  host.Write("\r\n");
  const auto reply = host.ReadMessage();
  EXPECT_EQ(reply.at("type"), "fatal");
  EXPECT_EQ(reply.at("error").get<std::string>().rfind("parse message failed \r\n ", 0), 0u)
      << reply.dump();
}

TEST(Bridge, KeepsServingAfterBadLines) {
  BridgeHost host;
  host.Write("[1,2]\nnot json\n" + std::string(kUnknownEvent) + "\n");
  EXPECT_EQ(host.ReadLine(),
            R"({"error":"parse message failed","from":"client","to":"host","type":"fatal"})");
  EXPECT_EQ(host.ReadMessage().at("type"), "fatal");
  EXPECT_EQ(host.ReadLine(), kUnknownEventReply);
}

TEST(Bridge, ReadsALineOfOneMebibyte) {
  BridgeHost host;
  const std::string name(1 << 20, 'n');
  host.SendLine(UnknownEvent(name));
  EXPECT_EQ(host.ReadLine(), UnknownEventReply(name));
}

}  // namespace
}  // namespace electron_morvane::testing
