#include "bridge_under_test.h"

#include <utility>

#include "bridge/method_table.h"
#include "scripted_libraries.h"
#include "sdk/sdk_wrapper.h"

namespace electron_morvane::fuzz {
namespace library = scriptable_sdk;

BridgeUnderTest::BridgeUnderTest() {
  RegisterMethodTable(router);
  router.SetSender([this](const std::string& line) {
    const std::lock_guard<std::mutex> lock(writtenMutex);
    written.push_back(line);
  });
}

void BridgeUnderTest::Restart(const scriptable_sdk::PreparedScenario& scenario) {
  // The wrapper keeps the callbacks and the response functions of the last init for the
  // process's life. After an input that called init, an init with none, against a library that
  // fills in no response functions, forgets them, so each input starts as a freshly started
  // bridge does (answers before init are dropped) and runs the same way however often it is
  // replayed.
  if (!library::CallsOf("Morvane_InitSDK").empty()) {
    library::LoadScenario(ForgettingScenario());
    SdkWrapper::InitSDK(SdkWrapper::SdkInitConfig{});
  }
  library::LoadScenario(scenario);
  TakeWritten();
}

std::vector<std::string> BridgeUnderTest::Dispatch(const std::string& line) {
  router.Dispatch(line);
  library::WaitForLibraryThreads();
  return TakeWritten();
}

std::vector<std::string> BridgeUnderTest::ReportPendingChecks() {
  std::string error;
  if (!library::Fire({{"fire", "pendingChecks"}}, &error)) {
    std::fprintf(stderr, "protocol_fuzzer: the library rejects a firing: %s\n", error.c_str());
    std::abort();
  }
  library::WaitForLibraryThreads();
  return TakeWritten();
}

std::vector<std::string> BridgeUnderTest::TakeWritten() {
  const std::lock_guard<std::mutex> lock(writtenMutex);
  return std::exchange(written, {});
}

}  // namespace electron_morvane::fuzz
