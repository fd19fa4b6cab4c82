// What the bridge costs the machine: next to nothing while idle, and a line too long for memory
// is dropped without ending it.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <unistd.h>

#include "scripted_bridge.h"

namespace electron_morvane::testing {
namespace {

// GCC and clang tell of a sanitizer build in different ways.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kSanitized = true;
#elif defined(__has_feature)
constexpr bool kSanitized = __has_feature(address_sanitizer) || __has_feature(thread_sanitizer);
#else
constexpr bool kSanitized = false;
#endif

// CPU time the process has used so far (user and system), in seconds.
double CpuSeconds(pid_t pid) {
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
  // Fields after the command name, which is in parentheses and may hold spaces.
  std::istringstream fields(text.substr(text.rfind(')') + 2));
  std::string field;
  unsigned long long userTicks = 0, systemTicks = 0;
  for (int index = 3; fields >> field; ++index) {
    if (index == 14) userTicks = std::stoull(field);
    if (index == 15) {
      systemTicks = std::stoull(field);
      break;
    }
  }
  return static_cast<double>(userTicks + systemTicks) / static_cast<double>(::sysconf(_SC_CLK_TCK));
}

// An idle bridge waits on the pipe between polls. Measured here at well under 1% of a core (a
// few milliseconds a second, also under the sanitizers); a poll that does not wait spins at a
// whole core. The bound sits far from both, so load on the machine cannot trip it.
TEST(Resources, AnIdleBridgeBarelyUsesTheProcessor) {
  if (RunsUnderWine()) GTEST_SKIP() << "the process is the relay under Wine, not the bridge";
  ScriptedBridge bridge;
  bridge.Init();
  const pid_t pid = bridge.Host().ChildPid();
  const double before = CpuSeconds(pid);
  std::this_thread::sleep_for(2s);
  const double used = CpuSeconds(pid) - before;
  EXPECT_LT(used, 0.2) << "CPU seconds used over 2 idle seconds";
}

// An idle bridge waits on the pipe itself, so a request after a long silence is answered at once,
// not at the end of the wait's one-second bound: on Linux the socket wakes it, on Windows (under
// Wine) a pending zero-byte read does.
TEST(Resources, ARequestAfterLongSilenceIsAnsweredAtOnce) {
  ScriptedBridge bridge;
  bridge.Init();
  std::this_thread::sleep_for(1500ms);
  const auto sent = std::chrono::steady_clock::now();
  const json answer = bridge.Call(Request("late", "getSdkVersion"));
  const auto waited = std::chrono::steady_clock::now() - sent;
  EXPECT_EQ(answer.at("result").at("status"), 0);
  EXPECT_LT(waited, 200ms);
}

// A native bridge under an address-space limit of 256 MiB.
class LimitedMemory : public ::testing::Test {
 protected:
  void SetUp() override {
    if (kSanitized) GTEST_SKIP() << "the sanitizers reserve more address space than any limit leaves";
    if (RunsUnderWine()) GTEST_SKIP() << "the limit is set on a native bridge";
    options.addressSpaceLimit = 256ull << 20;
  }

  BridgeOptions options;
};

// A line far larger than the bridge may hold cannot be read whole. It is dropped through its
// line feed, the host is told, and the next line is served.
TEST_F(LimitedMemory, ALineTooLongForMemoryIsDroppedAndTheBridgeGoesOn) {
  ScriptedBridge bridge(json::object(), options);

  const std::string chunk(1 << 20, 'x');
  std::thread writer([&] {
    bridge.Host().Write("{\"type\":\"request\",\"id\":\"");
    for (int i = 0; i < 400; ++i) bridge.Host().Write(chunk);
    bridge.Host().Write("\"}\n" + Request("after", "getSdkVersion").dump() + "\n");
  });
  const json dropped = bridge.Host().ReadMessage(60s);
  writer.join();
  EXPECT_EQ(dropped, json::parse(R"({"type":"fatal","from":"client","to":"host",)"
                                 R"("error":"parse message failed line dropped: not enough memory"})"));
  const json answer = bridge.Host().ReadMessage();
  EXPECT_EQ(answer.value("id", ""), "after");
  EXPECT_EQ(answer.at("result").at("status"), 0);
}

// Lines that fit in memory to be read but leave too little to be parsed, or answered with their
// whole echo, under the limit. Each is answered with a fatal message (its usual text where memory
// allows, the short one where it does not) and the next request is served.
struct HeavyLine {
  const char* name;
  std::string head;
  std::string tail;
};

class LinesHeavierThanMemory : public LimitedMemory,
                               public ::testing::WithParamInterface<HeavyLine> {};

TEST_P(LinesHeavierThanMemory, AreAnsweredAndTheBridgeGoesOn) {
  ScriptedBridge bridge(json::object(), options);

  const std::string body(48 << 20, 'x');
  bridge.Host().Write(GetParam().head + body + GetParam().tail + "\n" +
                      Request("after", "getSdkVersion").dump() + "\n");
  const json fatal = bridge.Host().ReadMessage(60s);
  EXPECT_EQ(fatal.value("type", ""), "fatal");
  EXPECT_EQ(fatal.value("error", "").rfind("parse message failed", 0), 0u) << fatal.dump().substr(0, 200);
  EXPECT_LT(fatal.dump().size(), 4096u);
  const json answer = bridge.Host().ReadMessage(60s);
  EXPECT_EQ(answer.value("id", ""), "after");
}

INSTANTIATE_TEST_SUITE_P(
    LimitedMemory, LinesHeavierThanMemory,
    ::testing::Values(HeavyLine{"ValidJson", R"({"type":"request","id":")", R"("})"},
                      HeavyLine{"Garbage", "", ""},
                      HeavyLine{"UnterminatedString", "\"", ""}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace electron_morvane::testing
