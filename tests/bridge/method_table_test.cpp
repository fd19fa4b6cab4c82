#include "bridge/method_table.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "protocol/message_router.h"

namespace electron_morvane {
namespace {

class MethodTableTest : public ::testing::Test {
 protected:
  MethodTableTest() {
    RegisterMethodTable(router);
    router.SetSender([this](const std::string& line) { sent.push_back(line); });
  }

  std::vector<std::string> Dispatch(const std::string& line) {
    sent.clear();
    router.Dispatch(line);
    return sent;
  }

  MessageRouter router;
  std::vector<std::string> sent;
};

// A request whose params do not decode is answered with an error that names the method the host
// asked for, whatever row of the table served it.
TEST_F(MethodTableTest, DecodeErrorsNameTheRoutedRequest) {
  for (const char* method :
       {"init", "checkDisplayDeviceDriver", "cancelCheckDisplayDeviceDriver",
        "updateDisplayDeviceDriver", "cancelUpdateDisplayDeviceDriver", "setDriverDownloadDir"}) {
    const std::string name = method;
    EXPECT_EQ(Dispatch(R"({"type":"request","from":"host","to":"client","id":"5","method":")" +
                       name + R"(","params":{}})"),
              std::vector<std::string>{R"({"error":"parse request failed","from":"client","id":"5","method":")" +
                                       name + R"(","to":"host","type":"error"})"});
  }
}

TEST_F(MethodTableTest, DecodeErrorsNameTheRoutedEvent) {
  for (const char* method : {"downloadFile", "httpRequest"}) {
    const std::string name = method;
    EXPECT_EQ(Dispatch(R"({"type":"event","from":"host","to":"client","id":"1","method":")" +
                       name + R"(","params":{}})"),
              std::vector<std::string>{R"({"error":"parse event failed )" + name +
                                       R"(","from":"client","to":"host","type":"fatal"})"});
  }
}

// Nothing beyond the table is served: an unknown request gets no answer, an unknown event is
// named, and the two events are not requests.
TEST_F(MethodTableTest, ServesOnlyItsRows) {
  EXPECT_TRUE(
      Dispatch(R"({"type":"request","from":"host","to":"client","id":"1","method":"log","params":{}})")
          .empty());
  EXPECT_TRUE(Dispatch(R"({"type":"request","from":"host","to":"client","id":"1","method":"downloadFile","params":{}})")
                  .empty());
  EXPECT_EQ(Dispatch(R"({"type":"event","from":"host","to":"client","id":"1","method":"init","params":{}})"),
            std::vector<std::string>{
                R"({"error":"unknown event init","from":"client","to":"host","type":"fatal"})"});
}

TEST_F(MethodTableTest, RequestsWithoutParamsAreAnsweredByTheLibrary) {
  const auto sentLines = Dispatch(
      R"({"type":"request","from":"host","to":"client","id":"2","method":"getSdkVersion"})");
  ASSERT_EQ(sentLines.size(), 1u);
  EXPECT_EQ(sentLines[0],
            R"({"from":"client","id":"2","method":"getSdkVersion","result":{"data":"9.8.7-scripted","status":0,"statusString":"ok"},"to":"host","type":"response"})");
}

}  // namespace
}  // namespace electron_morvane
