// The process exits while library threads are still calling back, with nobody closing the
// callbacks first: the wrapper's teardown must keep them away from what is being destroyed.
#include <cstdlib>
#include <string>

#include "scripted_sdk_fixture.h"

namespace electron_morvane {
namespace {

// Stands for the objects the installed callbacks use (router, pipe): created before the
// wrapper, so destroyed after it. Long enough to live on the heap, where a read after its
// destruction shows up under the address sanitizer.
const std::string& CallbackTarget() {
  static const std::string target(64, 't');
  return target;
}

TEST(SdkExitTest, ExitWhileLibraryThreadsCallBack) {
  scriptable_sdk::Reset();
  CallbackTarget();
  SdkWrapper::SdkInitConfig config;
  config.logCallback = [](const SdkWrapper::LogParam& param) {
    return static_cast<int>(CallbackTarget().size() + param.log.size());
  };
  config.httpRequestCallback = [](const SdkWrapper::HttpRequestParam& param) {
    if (CallbackTarget().compare(param.url) == 0) std::abort();
  };
  SdkWrapper::InitSDK(config);

  ASSERT_TRUE(scriptable_sdk::Fire(
      {{"fire", "log"}, {"line", "late"}, {"threads", 3}, {"count", 1000000}}));
  ASSERT_TRUE(scriptable_sdk::Fire({{"fire", "httpRequest"},
                                    {"url", "https://api.example/late"},
                                    {"threads", 2},
                                    {"count", 1000000}}));
  // Returning without waiting: the threads run on into the process's exit.
}

}  // namespace
}  // namespace electron_morvane
