// A bridge whose library has not been initialised yet: nothing installed, no response slots.
// Nothing in this process may initialise the library.
#include "scripted_sdk_fixture.h"

namespace electron_morvane {
namespace {

TEST_F(ScriptedSdkTest, CallbacksBeforeInitDoNothing) {
  EXPECT_EQ(SdkWrapper::LogTrampoline("early line"), 0);
  SdkWrapper::DownloadTrampoline("https://files.example/a.zip", "/tmp/a.zip", 1, 2);
  SdkWrapper::CancelDownloadTrampoline(1);
  SdkWrapper::HttpRequestTrampoline("https://api.example/", 0, nullptr, 0, nullptr, 0, 1, 2);
  EXPECT_TRUE(scriptable_sdk::CallLog().empty());
}

TEST_F(ScriptedSdkTest, AnswersBeforeInitAreDropped) {
  DownloadProgressParam progress;
  progress.errorMsg = "early";
  HttpResponseParam response;
  response.headers = {{"a", "1"}};
  response.body = "early";

  SdkWrapper::OnDownloadProgress(progress);
  SdkWrapper::OnHttpResponse(response);

  EXPECT_TRUE(scriptable_sdk::CallLog().empty());
}

}  // namespace
}  // namespace electron_morvane
