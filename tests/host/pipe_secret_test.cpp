// The host's secret in MORVANE_PIPE_SECRET: the bridge presents it in its first line, a hello,
// and takes it out of its own environment before the library runs. Without one the wire is as
// it always was.
#include <gtest/gtest.h>

#include <optional>
#include <ostream>
#include <string>

#include "scripted_bridge.h"
#include "support/bridge_host.h"

namespace electron_morvane::testing {
namespace {

constexpr char kSecretVariable[] = "MORVANE_PIPE_SECRET";
constexpr char kHexSecret[] = "3f9c0a7e5b21d84c6e0f19a2b7c3d5e8f1a4b6c9d0e2f3a5b7c8d9e0f1a2b3c4";

struct SecretCase {
  const char* name;
  std::optional<std::string> secret;  // nullopt: the variable is unset
  std::optional<std::string> hello;   // the expected first line; nullopt: none
};

void PrintTo(const SecretCase& c, std::ostream* out) { *out << c.name; }

class PipeSecret : public ::testing::TestWithParam<SecretCase> {};

// The first line the host sees is the hello, or else the answer to its first request.
TEST_P(PipeSecret, IsPresentedInTheFirstLineOnlyWhenGiven) {
  const SecretCase& c = GetParam();
  BridgeOptions options;
  options.libraryFolder = MORVANE_SCRIPTABLE_DIR;
  if (c.secret) options.environment[kSecretVariable] = *c.secret;
  BridgeHost host(options);
  ASSERT_TRUE(host.Connected());
  if (c.hello) {
    EXPECT_EQ(host.ReadLine(), *c.hello);
  }
  host.Send(Request("1", "getSdkVersion"));
  const json response = host.ReadMessage();
  EXPECT_EQ(response.value("type", ""), "response") << response.dump();
  EXPECT_EQ(response.value("id", ""), "1") << response.dump();
  EXPECT_EQ(response["result"]["data"], "9.8.7-scripted") << response.dump();
}

INSTANTIATE_TEST_SUITE_P(
    Bridge, PipeSecret,
    ::testing::Values(
        SecretCase{"HexSecret", kHexSecret,
                   std::string(R"({"type":"hello","from":"client","to":"host","secret":")") +
                       kHexSecret + "\"}"},
        // Any text is taken, written as the bridge writes every JSON string.
        SecretCase{"TextToEscape", std::string("a\"b\\c\td"),
                   R"({"type":"hello","from":"client","to":"host","secret":"a\"b\\c\td"})"},
        SecretCase{"Unset", std::nullopt, std::nullopt},
        SecretCase{"Empty", std::string(), std::nullopt}),
    [](const auto& info) { return std::string(info.param.name); });

// Programs the library starts must not inherit the secret: by the first call into the library
// the variable is gone, while the variables beside it are still there.
TEST(PipeSecret, IsGoneFromTheEnvironmentBeforeTheLibraryIsCalled) {
  BridgeOptions options;
  options.environment[kSecretVariable] = kHexSecret;
  options.environment["MORVANE_TEST_NEIGHBOUR"] = "still here";
  const json logged = json::array({kSecretVariable, "MORVANE_TEST_NEIGHBOUR"});
  ScriptedBridge bridge({{"callLog", {{"environment", logged}}}}, options);
  const json response = bridge.Call(Request("1", "getSdkVersion"));
  EXPECT_EQ(response["result"]["status"], 0) << response.dump();
  const std::vector<json> calls = bridge.WaitForCalls("Morvane_GetSDKVersion");
  ASSERT_FALSE(calls.empty());
  const json& seen = calls.front()["environment"];
  EXPECT_EQ(seen["MORVANE_TEST_NEIGHBOUR"], "still here") << seen.dump();
  EXPECT_TRUE(seen.contains(kSecretVariable)) << seen.dump();
  EXPECT_EQ(seen[kSecretVariable], nullptr) << seen.dump();
}

}  // namespace
}  // namespace electron_morvane::testing
