// A scenario prepared once is loaded as often as the fuzzer needs, each load as fresh as a
// scenario parsed anew.
#include <string>

#include "scripted_sdk_fixture.h"

namespace electron_morvane {
namespace {

TEST_F(ScriptedSdkTest, APreparedScenarioServesEveryLoadAfresh) {
  std::string error;
  const scriptable_sdk::PreparedScenario prepared = scriptable_sdk::PrepareScenario(
      {{"version", "prepared"}, {"results", {{"Morvane_GetSDKVersion", -2000}}}}, &error);
  ASSERT_NE(prepared, nullptr) << error;
  for (int load = 1; load <= 2; ++load) {
    SCOPED_TRACE("load " + std::to_string(load));
    scriptable_sdk::LoadScenario(prepared);
    EXPECT_EQ(SdkWrapper::GetSDKVersion(), std::make_pair(-2000, std::string("prepared")));
    EXPECT_EQ(scriptable_sdk::CallsOf("Morvane_GetSDKVersion").size(), 1u);
    scriptable_sdk::Reset();
    EXPECT_EQ(SdkWrapper::GetSDKVersion().first, 0);
  }
}

TEST_F(ScriptedSdkTest, AMalformedScenarioIsNotPreparedAndSaysWhy) {
  std::string error;
  EXPECT_EQ(scriptable_sdk::PrepareScenario({{"results", {{"Morvane_NoSuchCall", 1}}}}, &error),
            nullptr);
  EXPECT_NE(error.find("results"), std::string::npos) << error;
}

}  // namespace
}  // namespace electron_morvane
