// The real bridge with a simulated library that crashes or hangs on demand: the bridge process
// dies of the library's invalid memory access at the chosen point, and a hung call or job leaves
// it alive, a hung job without keeping it from ending.
#include <gtest/gtest.h>

#include <signal.h>

#include <optional>
#include <string>
#include <vector>

#include "bridge_steps.h"

namespace electron_morvane::sim_test {
namespace {

// Long enough for a report to reach the host before the fault that follows it.
constexpr int kStepDelayMs = 300;

// Expects the bridge to die of an invalid memory access within seconds. Natively it dies of
// SIGSEGV. Under Wine the relay exits with the bridge's exit code, the access violation
// 0xC0000005, of which the Linux exit status keeps the low byte.
void ExpectInvalidAccessDeath(testing::BridgeHost& host) {
  const std::optional<int> exit = host.WaitExit(10s);
  ASSERT_TRUE(exit.has_value()) << "the bridge is still running";
  if (testing::RunsUnderWine()) {
    EXPECT_EQ(*exit, static_cast<int>(0xC0000005u & 0xFFu));
  } else {
    EXPECT_EQ(host.TermSignal(), std::optional<int>(SIGSEGV)) << "exit code " << *exit;
  }
}

// The update's events until none comes within the time (or the bridge is gone).
std::vector<json> EventsUntilQuiet(SimBridge& bridge, const std::string& id,
                                   std::chrono::milliseconds quiet) {
  std::vector<json> events;
  while (std::optional<json> event = bridge.TryNext(testing::EventOf(id), quiet)) {
    events.push_back(std::move(*event));
  }
  return events;
}

// Where an update's fault happens, and what the host has seen of the update by then: the default
// download plan reports 30 and 60 % before it finishes.
struct UpdateStepCase {
  const char* step;
  std::vector<int> statesSeen;
  int lastProgress;
  int cancelStatus;  // of a cancel once the job hangs there
};

const UpdateStepCase kUpdateSteps[] = {
    {"download", {1}, 30, 0},
    {"unzip", {1, 3, 4}, 0, 0},
    {"install", {1, 3, 4, 6, 7}, 0, -1004},
};

// Inits a bridge whose machine has these faults, with the test driver served, and starts an
// update of adapter A; returns its id.
std::string StartUpdate(SimBridge& bridge) {
  ServeDriver(bridge);
  EXPECT_EQ(Init(bridge, {{"tempDir", bridge.Folder("temp")}}).at("result").at("status"), 0);
  return Start(bridge, "updateDisplayDeviceDriver", kAdapterA);
}

void ExpectStoppedAt(const std::vector<json>& events, const UpdateStepCase& c) {
  EXPECT_EQ(StatesOf(events), c.statesSeen);
  ASSERT_FALSE(events.empty());
  EXPECT_EQ(events.back().at("params").at("progress"), c.lastProgress) << events.back().dump();
}

TEST(SimulatorFaultsThroughBridge, CrashDuringUpdateKillsTheBridgeAtItsStep) {
  for (const UpdateStepCase& c : kUpdateSteps) {
    SCOPED_TRACE(c.step);
    SimBridge bridge(Machine({{"stepDelayMs", kStepDelayMs}, {"crashDuringUpdate", c.step}}));
    const std::string id = StartUpdate(bridge);

    ExpectStoppedAt(EventsUntilQuiet(bridge, id, 10s), c);
    ExpectInvalidAccessDeath(bridge.Host());
  }
}

TEST(SimulatorFaultsThroughBridge, CrashInACallKillsTheBridgeDuringThatCall) {
  struct Case {
    const char* exportName;
    const char* method;
    json params;
  };
  const Case cases[] = {
      {"Morvane_GetDisplayDevice", "getDisplayDevice", nullptr},
      {"Morvane_GetSDKVersion", "getSdkVersion", nullptr},
      {"Morvane_CancelUpdateDisplayDeviceDriver", "cancelUpdateDisplayDeviceDriver",
       AdapterParams(kAdapterA)},
      {"Morvane_InitSDK", "init", InitParams()},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.exportName);
    SimBridge bridge(Machine({{"crashInCall", c.exportName}}));
    // Before the machine file is read no call crashes; after it, only the named one.
    EXPECT_EQ(bridge.Call("getSdkVersion").at("result").at("status"), 0);
    if (std::string(c.method) != "init") {
      ASSERT_EQ(Init(bridge).at("result").at("status"), 0);
      EXPECT_EQ(bridge.Call("setDriverDownloadDir", {{"dir", bridge.Folder("downloads")}})
                    .at("result")
                    .at("status"),
                0);
    }

    const std::string id = bridge.Send(c.method, c.params);
    EXPECT_EQ(bridge.TryNext(testing::AnswerTo(id), 10s), std::nullopt);
    ExpectInvalidAccessDeath(bridge.Host());
  }
}

TEST(SimulatorFaultsThroughBridge, HungCallNeverAnswersAndTheBridgeStaysAlive) {
  struct Case {
    const char* exportName;
    const char* method;
  };
  for (const Case& c : {Case{"Morvane_GetSDKVersion", "getSdkVersion"},
                        Case{"Morvane_GetDisplayDevice", "getDisplayDevice"}}) {
    SCOPED_TRACE(c.exportName);
    SimBridge bridge(Machine({{"hangInCall", c.exportName}}));
    ASSERT_EQ(Init(bridge).at("result").at("status"), 0);

    const std::string id = bridge.Send(c.method);
    EXPECT_EQ(bridge.TryNext(testing::AnswerTo(id), 1500ms), std::nullopt);
    EXPECT_EQ(bridge.Host().WaitExit(0ms), std::nullopt) << "the bridge ended";
    bridge.Host().Kill();
    EXPECT_EQ(bridge.Host().TermSignal(), std::optional<int>(SIGKILL));
  }
}

TEST(SimulatorFaultsThroughBridge, HungUpdateReportsNoMoreWhileTheBridgeServesAndEnds) {
  for (const UpdateStepCase& c : kUpdateSteps) {
    SCOPED_TRACE(c.step);
    SimBridge bridge(Machine({{"stepDelayMs", kStepDelayMs}, {"hangDuringUpdate", c.step}}));
    const std::string id = StartUpdate(bridge);

    // A running job would report its next step within one step delay.
    ExpectStoppedAt(EventsUntilQuiet(bridge, id, std::chrono::milliseconds(4 * kStepDelayMs)), c);
    EXPECT_EQ(bridge.Call("getSdkVersion").at("result").at("status"), 0);
    EXPECT_EQ(bridge.Call("cancelUpdateDisplayDeviceDriver", AdapterParams(kAdapterA))
                  .at("result")
                  .at("status"),
              c.cancelStatus);
    // The job never ends: it still holds the library's one update.
    EXPECT_EQ(bridge.Call("updateDisplayDeviceDriver", AdapterParams(kAdapterB))
                  .at("result")
                  .at("status"),
              -2016);
    EXPECT_EQ(bridge.TryNext(testing::EventOf(id), 500ms), std::nullopt);

    // The host goes away: the bridge ends although the library's thread never returns.
    bridge.Host().CloseHostEnd();
    EXPECT_EQ(bridge.Host().WaitExit(10s), 109);
  }
}

TEST(SimulatorFaultsThroughBridge, MisspelledFaultFailsInit) {
  for (const json& faults : {json{{"crashDuringUpdate", "unpack"}},
                             json{{"hangInCall", "Morvane_GetSdkVersion"}}}) {
    SCOPED_TRACE(faults.dump());
    SimBridge bridge(Machine(faults));
    EXPECT_EQ(Init(bridge).at("result").at("status"), -2009);
  }
}

}  // namespace
}  // namespace electron_morvane::sim_test
