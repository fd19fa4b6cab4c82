// Lines written straight as text must be the very lines the JSON serializer writes.
#include "protocol/message_lines.h"

#include <gtest/gtest.h>

#include <string>

namespace electron_morvane {
namespace {

const std::string kTexts[] = {
    "",
    "plain text 123",
    "quote \" and backslash \\",
    "line\nfeed, tab\t, nul" + std::string(1, '\0') + " and bell\x07",
    "delete \x7f",
    "caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x98\x80",  // two-, three- and four-byte UTF-8
    "broken \xc3 and \xff\xfe",                     // invalid UTF-8 becomes U+FFFD
};

TEST(MessageLines, QuotedTextIsWhatTheSerializerWrites) {
  for (const std::string& text : kTexts) {
    std::string quoted;
    AppendQuoted(quoted, text);
    EXPECT_EQ(quoted, SerializeMessage(json(text))) << text;
  }
}

TEST(MessageLines, EveryEnvelopeIsWhatTheSerializerWrites) {
  for (const std::string& text : kTexts) {
    RequestMessage<std::string> request;
    static_cast<Envelope&>(request) = Envelope{"request", "client", "host", text, text};
    request.params = text;
    EXPECT_EQ(MessageLine(request), SerializeMessage(ToJson(request))) << text;

    EventMessage<std::string> event;
    static_cast<Envelope&>(event) = Envelope{"event", text, "host", "7", "m"};
    event.params = text;
    EXPECT_EQ(MessageLine(event), SerializeMessage(ToJson(event))) << text;

    for (const ResultCode status : {0, -1003, -1005, 12345}) {
      ResponseMessage<std::string> response;
      static_cast<Envelope&>(response) = Envelope{"response", "client", "host", text, "m"};
      response.result.status = status;
      response.result.data = text;
      EXPECT_EQ(MessageLine(response), SerializeMessage(ToJson(response))) << text;

      ResponseMessage<NoData> empty;
      static_cast<Envelope&>(empty) = Envelope{"response", "client", "host", "1", text};
      empty.result.status = status;
      EXPECT_EQ(MessageLine(empty), SerializeMessage(ToJson(empty))) << text;
    }

    const ErrorMessage error = makeErrorMessage(text, text, text);
    EXPECT_EQ(MessageLine(error), SerializeMessage(ToJson(error))) << text;
    EXPECT_EQ(FatalLine(text), SerializeMessage(ToJson(makeFatalMessage(text)))) << text;
  }
}

// The hello line's members keep the order the host compares; the secret is written as every
// other text is, so any secret comes back whole to a host that parses the line.
TEST(MessageLines, HelloLineCarriesTheSecretInFixedMemberOrder) {
  EXPECT_EQ(HelloLine("0123456789abcdef"),
            R"({"type":"hello","from":"client","to":"host","secret":"0123456789abcdef"})");
  for (const std::string& text : kTexts) {
    std::string quoted;
    AppendQuoted(quoted, text);
    EXPECT_EQ(HelloLine(text),
              R"({"type":"hello","from":"client","to":"host","secret":)" + quoted + "}")
        << text;
  }
}

}  // namespace
}  // namespace electron_morvane
