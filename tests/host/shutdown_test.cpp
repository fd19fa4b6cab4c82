// The bridge's exit always ends: library threads that keep calling back, and a callback blocked
// writing to a host that stopped reading, cannot hold it up.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "scripted_bridge.h"

namespace electron_morvane::testing {
namespace {

// Library threads that log without pause from the moment "init" returns.
json NonstopLogging(int threads) {
  return json{{"actions",
               {{{"on", "Morvane_InitSDK"},
                 {"fire", "log"},
                 {"line", "busy"},
                 {"threads", threads},
                 {"count", 1000000000}}}}};
}

// Callbacks turned away after the close must not keep the drain from ever seeing none inside.
TEST(Shutdown, ExitsPromptlyWhileThirtyTwoLibraryThreadsLogNonstop) {
  const int runs = RunsUnderWine() ? 3 : 20;
  for (int run = 0; run < runs; ++run) {
    ScriptedBridge bridge(NonstopLogging(32));
    bridge.Send(Request("init", "init", InitParams()));
    ASSERT_TRUE(bridge.Host().ReadLine().has_value()) << "run " << run;
    bridge.Host().CloseHostEnd();
    EXPECT_EQ(bridge.Host().WaitExit(5s), 109) << "run " << run;
  }
}

// The host stops reading and half-closes: the pipe ends for the bridge's reads while a library
// thread is blocked in a write that the host will never take.
TEST(Shutdown, ExitsWhileACallbackIsBlockedWritingToAHostThatStoppedReading) {
  if (RunsUnderWine()) GTEST_SKIP() << "the relay does not pass a half-close on";
  ScriptedBridge bridge(NonstopLogging(4));
  bridge.Init();
  // The host reads no more. Long enough for the socket's buffers to fill: every library thread
  // is then blocked, and the main loop idles.
  std::this_thread::sleep_for(500ms);
  bridge.Host().ShutdownHostWrites();
  EXPECT_EQ(bridge.Host().WaitExit(5s), 109);
}

}  // namespace
}  // namespace electron_morvane::testing
