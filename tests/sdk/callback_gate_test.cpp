// Shutting the library's callbacks out at exit. Closing is for good, so this process has a single
// test.
#include "sdk/callback_gate.h"

#include <atomic>
#include <chrono>
#include <future>
#include <thread>

#include "scripted_sdk_fixture.h"

namespace electron_morvane {
namespace {

TEST_F(ScriptedSdkTest, ClosingWaitsForCallbacksInsideThenShutsEveryCallbackOut) {
  std::promise<void> blockedInside;
  std::promise<void> release;
  std::shared_future<void> released = release.get_future().share();
  std::atomic<bool> blockedCallbackFinished{false};
  std::atomic<int> calls{0};
  SdkWrapper::SdkInitConfig config;
  config.logCallback = [&](const SdkWrapper::LogParam& param) {
    if (param.log == "block") {
      blockedInside.set_value();
      released.wait();
      blockedCallbackFinished = true;
    } else {
      ++calls;
    }
    return 0;
  };
  config.downloadCallback = [&](const SdkWrapper::DownloadParam&) { ++calls; };
  config.cancelDownloadCallback = [&](const SdkWrapper::CancelDownloadParam&) { ++calls; };
  config.httpRequestCallback = [&](const SdkWrapper::HttpRequestParam&) { ++calls; };
  SdkWrapper::InitSDK(config);

  // A library thread is inside a callback while the gate closes.
  ASSERT_TRUE(scriptable_sdk::Fire({{"fire", "log"}, {"line", "block"}}));
  blockedInside.get_future().wait();
  std::atomic<bool> finishedWhenClosed{false};
  std::thread closer([&] {
    CallbackGate::Process().CloseAndDrain();
    finishedWhenClosed = blockedCallbackFinished.load();
  });
  // Time for a closing that does not wait to return early; a correct one cannot return yet.
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  release.set_value();
  closer.join();
  scriptable_sdk::WaitForLibraryThreads();
  EXPECT_TRUE(finishedWhenClosed);

  // From now on every callback returns at once without reaching anything.
  EXPECT_EQ(SdkWrapper::LogTrampoline("late"), 0);
  SdkWrapper::DownloadTrampoline("u", "p", 1, 2);
  SdkWrapper::CancelDownloadTrampoline(1);
  SdkWrapper::HttpRequestTrampoline("u", 0, nullptr, 0, nullptr, 0, 1, 2);
  FireAndWait({{"fire", "log"}, {"line", "late"}, {"threads", 3}, {"count", 100}});
  EXPECT_EQ(calls, 0);

  bool checkReported = false;
  bool updateReported = false;
  SdkWrapper::CheckDisplayDeviceDriver(
      "10DE", "2204", [&](const SdkWrapper::SdkDisplayDriverConfig&) { checkReported = true; });
  SdkWrapper::UpdateDisplayDeviceDriver(
      "10DE", "2204", [&](const SdkWrapper::SdkUpdateDriverStatus&) { updateReported = true; });
  FireAndWait({{"fire", "check"}});
  FireAndWait({{"fire", "update"}, {"state", MORVANE_UPDATE_DOWNLOAD}});
  EXPECT_FALSE(checkReported);
  EXPECT_FALSE(updateReported);
}

// A callback stopped between counting itself in and looking at the gate: the first to get there
// waits until the test lets it go on, every later one passes straight through.
std::atomic<bool> seamTaken{false};
std::atomic<bool> seamReached{false};
std::atomic<bool> seamReleased{false};
void StopFirstCallbackAtSeam() {
  if (seamTaken.exchange(true)) return;
  seamReached = true;
  while (!seamReleased) std::this_thread::yield();
}

// The closer must not miss a callback that has counted itself in but not yet seen the gate
// closed, and that callback must then be turned away.
TEST(CallbackGate, ACallbackBetweenCountingAndLookingHoldsTheDrainAndIsTurnedAway) {
  CallbackGate gate;
  gate.SetSeamForTesting(&StopFirstCallbackAtSeam);
  std::atomic<bool> admitted{true};
  std::thread callback([&] {
    const CallbackGate::Pass pass(gate);
    admitted = pass.Admitted();
  });
  while (!seamReached) std::this_thread::yield();

  std::atomic<bool> drained{false};
  std::thread closer([&] {
    gate.CloseAndDrain();
    drained = true;
  });
  // Once a fresh callback is turned away the gate is closed.
  while (CallbackGate::Pass(gate).Admitted()) std::this_thread::yield();
  // Time for a drain that missed the stopped callback to return.
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_FALSE(drained) << "the drain returned while a counted callback was still deciding";
  seamReleased = true;
  callback.join();
  closer.join();
  EXPECT_FALSE(admitted);
  EXPECT_TRUE(drained);
}

}  // namespace
}  // namespace electron_morvane
