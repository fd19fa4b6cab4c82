#include "bridge/method_table.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "protocol/message_router.h"
#include "scriptable_control.h"

namespace electron_morvane {
namespace {

// The table on a router of the test's own, whose sender collects what it is given from any
// thread; the scriptable library plays the driver library in this process.
class MethodTableTest : public ::testing::Test {
 protected:
  MethodTableTest() {
    scriptable_sdk::Reset();
    RegisterMethodTable(router);
    router.SetSender([this](const std::string& line) {
      const std::lock_guard<std::mutex> lock(mutex);
      sent.push_back(line);
    });
  }
  // The library keeps the callbacks init installed; none may outlive this router.
  ~MethodTableTest() override { scriptable_sdk::Reset(); }

  std::vector<std::string> Dispatch(const std::string& line) {
    Taken();
    router.Dispatch(line);
    return Taken();
  }

  std::vector<std::string> Taken() {
    const std::lock_guard<std::mutex> lock(mutex);
    return std::exchange(sent, {});
  }

  MessageRouter router;
  std::mutex mutex;
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

// Job events and the library's reverse requests leave through the router the table was bound
// to, from the library's threads; nothing process-wide carries them.
TEST_F(MethodTableTest, LibraryThreadsSendThroughTheBoundRouter) {
  std::string error;
  ASSERT_TRUE(scriptable_sdk::LoadScenario(
      {{"actions",
        {{{"on", "Morvane_InitSDK"}, {"fire", "log"}, {"line", "ready"}},
         {{"on", "Morvane_CheckDisplayDeviceDriver"},
          {"fire", "check"},
          {"needUpdate", true},
          {"info", {{"driverVersion", "2.0"}}}}}}},
      &error))
      << error;

  // An event may overtake the response of its request: compare in sorted order.
  const auto exchange = [this](const std::string& line) {
    auto lines = Dispatch(line);
    scriptable_sdk::WaitForLibraryThreads();
    for (auto& late : Taken()) lines.push_back(std::move(late));
    std::sort(lines.begin(), lines.end());
    return lines;
  };

  EXPECT_EQ(
      exchange(
          R"({"type":"request","from":"host","to":"client","id":"1","method":"init","params":{"appName":"a","appId":"b","deviceId":"c","clientVersion":"1","oversea":false}})"),
      (std::vector<std::string>{
          R"({"from":"client","id":"0","method":"log","params":{"log":"ready"},"to":"host","type":"request"})",
          R"({"from":"client","id":"1","method":"init","result":{"data":null,"status":0,"statusString":"ok"},"to":"host","type":"response"})"}));
  EXPECT_EQ(
      exchange(
          R"({"type":"request","from":"host","to":"client","id":"2","method":"checkDisplayDeviceDriver","params":{"vendorId":"10DE","deviceId":"2204"}})"),
      (std::vector<std::string>{
          R"({"from":"client","id":"2","method":"checkDisplayDeviceDriver","params":{"deviceId":"2204","driverDate":"","driverVersion":"2.0","errorCode":0,"errorMsg":"","fileSize":0,"name":"","needUpdate":true,"vendorId":"10DE"},"to":"host","type":"event"})",
          R"({"from":"client","id":"2","method":"checkDisplayDeviceDriver","result":{"data":null,"status":0,"statusString":"ok"},"to":"host","type":"response"})"}));
}

}  // namespace
}  // namespace electron_morvane
