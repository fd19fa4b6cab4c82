// A machine that puts a crash or a hang in an exported function: that function, called with
// arguments it accepts, dies of an invalid memory access or never returns. Each case runs in a
// child process of its own; a watchdog in it ends a call that blocks, so no case can hang.
#include <signal.h>

#include <chrono>
#include <cstdlib>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "sim_fixture.h"

namespace electron_morvane::sim_test {
namespace {

using namespace std::chrono_literals;

// How the child process ends when it does not die of the fault.
constexpr int kInitFailed = 3;
constexpr int kReturned = 4;
constexpr int kStillInCall = 5;

void GetSdkVersion() {
  char version[MORVANE_VERSION_BUFFER_SIZE];
  Morvane_GetSDKVersion(version);
}

void AppendToVariable(const char* name, const std::string& text) {
  const char* value = std::getenv(name);
  ::setenv(name, ((value != nullptr ? std::string(value) : std::string()) + text).c_str(), 1);
}

class CallFaultDeathTest : public SimulatorTest {
 protected:
  struct ExportCall {
    const char* exportName;
    std::function<void()> call;
  };

  void SetUp() override {
    SimulatorTest::SetUp();
    // The library's threads and the test host's make a forked child unsafe: it starts afresh.
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    // ... and with the sanitizers' own handler of an invalid access off, so that the child dies
    // of the signal itself (the options are read when a process starts: the child's, not ours).
    AppendToVariable("ASAN_OPTIONS", ":handle_segv=0");
    AppendToVariable("TSAN_OPTIONS", " handle_segv=0");
  }

  std::vector<ExportCall> Calls() {
    const char* vendor = kAdapterA.vendorId;
    const char* device = kAdapterA.deviceId;
    return {
        {"Morvane_InitSDK", [this] { Init(); }},
        {"Morvane_UninitSDK", [] { Morvane_UninitSDK(); }},
        {"Morvane_GetSDKVersion", GetSdkVersion},
        {"Morvane_GetDisplayDevice",
         [] {
           uint32_t count = 0;
           Morvane_GetDisplayDevice(nullptr, &count);
         }},
        {"Morvane_SetDriverDownloadDir",
         [this] { Morvane_SetDriverDownloadDir(Folder("downloads").string().c_str()); }},
        {"Morvane_CheckDisplayDeviceDriver",
         [=] { Morvane_CheckDisplayDeviceDriver(vendor, device, &CheckJob::Callback, &check_); }},
        {"Morvane_CancelCheckDisplayDeviceDriver",
         [=] { Morvane_CancelCheckDisplayDeviceDriver(vendor, device); }},
        {"Morvane_UpdateDisplayDeviceDriver",
         [=] {
           Morvane_UpdateDisplayDeviceDriver(vendor, device, &UpdateJob::Callback, &update_);
         }},
        {"Morvane_CancelUpdateDisplayDeviceDriver",
         [=] { Morvane_CancelUpdateDisplayDeviceDriver(vendor, device); }},
    };
  }

  // In the child: makes the call with a watchdog running, and ends the child.
  static void CallUnderWatchdog(const std::function<void()>& call) {
    std::thread([] {
      std::this_thread::sleep_for(500ms);
      std::_Exit(kStillInCall);
    }).detach();
    call();
    std::_Exit(kReturned);
  }

  // In the child: inits (unless init is the call), then makes the call under the watchdog.
  void InitAndCall(const ExportCall& c) {
    if (std::string(c.exportName) != "Morvane_InitSDK" && Init() != 0) std::_Exit(kInitFailed);
    CallUnderWatchdog(c.call);
  }

  CheckJob check_;
  UpdateJob update_;
};

TEST_F(CallFaultDeathTest, CrashInCallDiesOfInvalidAccessInThatCall) {
  for (const ExportCall& c : Calls()) {
    SCOPED_TRACE(c.exportName);
    SetFault("crashInCall", c.exportName);
    EXPECT_EXIT(InitAndCall(c), ::testing::KilledBySignal(SIGSEGV), "");
  }
}

TEST_F(CallFaultDeathTest, HangInCallNeverReturns) {
  for (const ExportCall& c : Calls()) {
    SCOPED_TRACE(c.exportName);
    SetFault("hangInCall", c.exportName);
    EXPECT_EXIT(InitAndCall(c), ::testing::ExitedWithCode(kStillInCall), "");
  }
}

TEST_F(CallFaultDeathTest, InitThatFailsLeavesNoFaultOfTheMachineBefore) {
  SetFault("crashInCall", "Morvane_GetSDKVersion");
  EXPECT_EXIT(
      {
        if (Init() != 0) std::_Exit(kInitFailed);
        machine_ = json::array();  // not a machine: this init fails
        if (Init() != -2009) std::_Exit(kInitFailed);
        CallUnderWatchdog(GetSdkVersion);
      },
      ::testing::ExitedWithCode(kReturned), "");
}

}  // namespace
}  // namespace electron_morvane::sim_test
