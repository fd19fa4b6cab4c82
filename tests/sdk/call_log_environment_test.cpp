// A scenario's callLog.environment: every call log entry shows those variables as the library
// sees them at the call, so a test can tell what a program the library starts would inherit.
#include <cstdlib>
#include <string>

#include "scripted_sdk_fixture.h"

namespace electron_morvane {
namespace {

constexpr char kSet[] = "MORVANE_SCRIPTABLE_TEST_SET";
constexpr char kUnset[] = "MORVANE_SCRIPTABLE_TEST_UNSET";

TEST_F(ScriptedSdkTest, CallLogShowsTheVariablesAsTheyAreAtEachCall) {
  ::setenv(kSet, "first", 1);
  ::unsetenv(kUnset);
  Script({{"callLog", {{"environment", json::array({kSet, kUnset})}}}});
  SdkWrapper::GetSDKVersion();
  ::setenv(kSet, "second", 1);
  SdkWrapper::GetSDKVersion();
  ::unsetenv(kSet);

  const auto calls = scriptable_sdk::CallsOf("Morvane_GetSDKVersion");
  ASSERT_EQ(calls.size(), 2u);
  EXPECT_EQ(calls[0]["environment"], json({{kSet, "first"}, {kUnset, nullptr}}));
  EXPECT_EQ(calls[1]["environment"], json({{kSet, "second"}, {kUnset, nullptr}}));
}

TEST_F(ScriptedSdkTest, CallLogEnvironmentTakesOnlyVariableNames) {
  for (const json& names : {json::array({1}), json::array({""}), json("one")}) {
    std::string error;
    EXPECT_FALSE(scriptable_sdk::LoadScenario({{"callLog", {{"environment", names}}}}, &error))
        << names.dump();
    EXPECT_NE(error.find("environment"), std::string::npos) << error;
  }
}

}  // namespace
}  // namespace electron_morvane
