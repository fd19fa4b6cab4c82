// The real bridge with the simulated library: what a host sees of checks, updates, cancels and
// log lines, with the host serving the catalogue and the package through the reverse requests.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "bridge_steps.h"
#include "support/temp_folder.h"

namespace electron_morvane::sim_test {
namespace {

std::string DriverVersionOf(SimBridge& bridge, const TestAdapter& adapter) {
  const json response = bridge.Call("getDisplayDevice");
  for (const json& device : response.at("result").at("data")) {
    if (device.at("vendorId") == adapter.vendorId) return device.at("driverVersion");
  }
  ADD_FAILURE() << "no adapter in " << response.dump();
  return "";
}

// Serves the driver with a download that stalls, inits with every log level, and starts an update
// of adapter A; returns its id once the download has reported 10 %.
std::string StartStalledUpdate(SimBridge& bridge) {
  ServeDriver(bridge);
  bridge.ServeDownload(kPackageUrl, StalledDownload());
  const json init = Init(bridge, {{"tempDir", bridge.Folder("temp")}, {"logMode", "all"}});
  EXPECT_EQ(init.at("result").at("status"), 0);
  const std::string id = Start(bridge, "updateDisplayDeviceDriver", kAdapterA);
  for (json event = bridge.NextEvent(id); event.at("params").at("progress") != 10;
       event = bridge.NextEvent(id)) {
    EXPECT_EQ(event.at("params").at("state"), 1) << event.dump();
  }
  return id;
}

TEST(SimulatorThroughBridge, FullUpdateReachesEveryStateAndTheNextRunSeesTheNewDriver) {
  testing::TempFolder config;
  const TestDriver driver;
  {
    SimBridge bridge(Machine());
    ServeDriver(bridge, driver);
    ASSERT_EQ(Init(bridge, {{"configDir", config.Path()}}).at("result").at("status"), 0);
    EXPECT_EQ(DriverVersionOf(bridge, kAdapterA), kAdapterA.driverVersion);

    const json check = bridge.NextEvent(Start(bridge, "checkDisplayDeviceDriver", kAdapterA));
    EXPECT_EQ(check.at("method"), "checkDisplayDeviceDriver");
    EXPECT_EQ(check.at("params").at("needUpdate"), true);
    EXPECT_EQ(check.at("params").at("driverVersion"), driver.version);
    EXPECT_EQ(check.at("params").at("fileSize"), PackageBytes(driver).size());

    ASSERT_EQ(bridge.Call("setDriverDownloadDir",
                          {{"dir", bridge.Folder("downloads")}}).at("result").at("status"),
              0);
    const std::vector<json> events =
        bridge.UpdateEvents(Start(bridge, "updateDisplayDeviceDriver", kAdapterA));
    EXPECT_EQ(StatesOf(events), (std::vector<int>{1, 3, 4, 6, 7, 9, 10}));
    ASSERT_FALSE(events.empty());
    EXPECT_EQ(events.back().at("params").at("stateString"), "update-driver-finish");
    EXPECT_EQ(events.back().at("params").at("errorCode"), 0);
    ASSERT_EQ(bridge.Seen("downloadFile").size(), 1u);
    EXPECT_EQ(bridge.Seen("downloadFile").at(0).at("path").get<std::string>().rfind(
                  bridge.Folder("downloads"), 0),
              0u);
    EXPECT_EQ(DriverVersionOf(bridge, kAdapterA), driver.version);
  }
  SimBridge nextRun(Machine());
  ASSERT_EQ(Init(nextRun, {{"configDir", config.Path()}}).at("result").at("status"), 0);
  EXPECT_EQ(DriverVersionOf(nextRun, kAdapterA), driver.version);
  EXPECT_EQ(DriverVersionOf(nextRun, kAdapterB), kAdapterB.driverVersion);
}

TEST(SimulatorThroughBridge, CheckReportsEachOutcomeCode) {
  TestDriver current;
  current.version = kAdapterA.driverVersion;
  TestDriver otherAdapter;
  otherAdapter.vendorId = kAdapterB.vendorId;
  otherAdapter.deviceId = kAdapterB.deviceId;
  struct Case {
    const char* what;
    HttpReply reply;
    int code;
    bool needUpdate;
  };
  const Case cases[] = {
      {"a newer driver", CatalogueReply(CatalogueEntry(TestDriver(), "x")), 0, true},
      {"the same driver", CatalogueReply(CatalogueEntry(current, "x")), -2007, false},
      {"no entry for the adapter", CatalogueReply(CatalogueEntry(otherAdapter, "x")), -2005, false},
      {"HTTP 404", {true, 0, 404, "", ""}, -2002, false},
      {"not a catalogue", {true, 0, 200, "", "[1,2]"}, -2004, false},
      {"the host's network failure", {true, -3001, 0, "refused", ""}, -3001, false},
      {"no answer", NoAnswer(), -3000, false},
  };
  SimBridge bridge(Machine({{"httpTimeoutMs", 2000}}));
  ASSERT_EQ(Init(bridge).at("result").at("status"), 0);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    bridge.ServeHttp(kCatalogueUrl, c.reply);
    const json event = bridge.NextEvent(Start(bridge, "checkDisplayDeviceDriver", kAdapterA));
    EXPECT_EQ(event.at("params").at("errorCode"), c.code) << event.dump();
    EXPECT_EQ(event.at("params").at("needUpdate"), c.needUpdate);
  }
}

TEST(SimulatorThroughBridge, UpdateFailuresEndInTheirErrorStates) {
  struct Case {
    const char* what;
    json faults;
    bool badMd5;
    DownloadPlan plan;  // bytes filled in below
    std::vector<int> states;
    int code;
  };
  DownloadPlan failing;
  failing.result = -3001;
  failing.errorMsg = "connection reset";
  const Case cases[] = {
      {"an MD5 mismatch", json::object(), true, DownloadPlan(), {1, 2}, -2008},
      {"the host's download failure", json::object(), false, failing, {1, 2}, -3001},
      {"an unpack fault", {{"unzipFail", true}}, false, DownloadPlan(), {1, 3, 4, 5}, -2010},
      {"an install fault",
       {{"installFail", true}},
       false,
       DownloadPlan(),
       {1, 3, 4, 6, 7, 8},
       -2009},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    SimBridge bridge(Machine(c.faults));
    const TestDriver driver;
    const std::string package = PackageBytes(driver);
    json entry = CatalogueEntry(driver, package);
    if (c.badMd5) entry["md5"] = Md5Hex("other");
    bridge.ServeHttp(kCatalogueUrl, CatalogueReply(entry));
    DownloadPlan plan = c.plan;
    plan.bytes = package;
    bridge.ServeDownload(kPackageUrl, plan);
    ASSERT_EQ(Init(bridge, {{"tempDir", bridge.Folder("temp")}}).at("result").at("status"), 0);

    const std::vector<json> events =
        bridge.UpdateEvents(Start(bridge, "updateDisplayDeviceDriver", kAdapterA));
    EXPECT_EQ(StatesOf(events), c.states);
    ASSERT_FALSE(events.empty());
    EXPECT_EQ(events.back().at("params").at("errorCode"), c.code);
    EXPECT_EQ(DriverVersionOf(bridge, kAdapterA), kAdapterA.driverVersion);
  }
}

TEST(SimulatorThroughBridge, CancelsAtEachStage) {
  {
    SCOPED_TRACE("a check waiting for the catalogue");
    SimBridge bridge(Machine());
    bridge.ServeHttp(kCatalogueUrl, NoAnswer());
    ASSERT_EQ(Init(bridge).at("result").at("status"), 0);
    const std::string id = Start(bridge, "checkDisplayDeviceDriver", kAdapterA);
    EXPECT_EQ(
        bridge.Call("cancelCheckDisplayDeviceDriver", AdapterParams(kAdapterA)).at("result").at("status"),
        0);
    EXPECT_EQ(bridge.NextEvent(id).at("params").at("errorCode"), -1003);
    EXPECT_EQ(bridge.Call("cancelCheckDisplayDeviceDriver",
                          AdapterParams(kAdapterA)).at("result").at("statusString"),
              "cannot_cancel");
  }
  {
    SCOPED_TRACE("a download in progress");
    SimBridge bridge(Machine());
    const std::string id = StartStalledUpdate(bridge);
    EXPECT_EQ(bridge.Call("cancelUpdateDisplayDeviceDriver",
                          AdapterParams(kAdapterA)).at("result").at("status"),
              0);
    const std::vector<json> events = bridge.UpdateEvents(id);
    ASSERT_FALSE(events.empty());
    EXPECT_EQ(events.back().at("params").at("stateString"), "download-error");
    EXPECT_EQ(events.back().at("params").at("errorCode"), -1003);
    bridge.Drain();
    ASSERT_EQ(bridge.Seen("cancelDownloadFile").size(), 1u);
    EXPECT_EQ(bridge.Seen("cancelDownloadFile").at(0).at("sdkTaskId"),
              bridge.Seen("downloadFile").at(0).at("sdkTaskId"));
  }
  {
    SCOPED_TRACE("an install under way");
    SimBridge bridge(Machine({{"stepDelayMs", 100}}));
    ServeDriver(bridge);
    ASSERT_EQ(Init(bridge, {{"tempDir", bridge.Folder("temp")}}).at("result").at("status"), 0);
    EXPECT_EQ(bridge.Call("cancelUpdateDisplayDeviceDriver",
                          AdapterParams(kAdapterA)).at("result").at("status"),
              -1004);
    const std::string id = Start(bridge, "updateDisplayDeviceDriver", kAdapterA);
    while (bridge.NextEvent(id).at("params").at("state") != 7) {
    }
    EXPECT_EQ(bridge.Call("cancelUpdateDisplayDeviceDriver",
                          AdapterParams(kAdapterA)).at("result").at("status"),
              -1004);
    const std::vector<json> events = bridge.UpdateEvents(id);
    ASSERT_FALSE(events.empty());
    EXPECT_EQ(events.back().at("params").at("state"), 10);
  }
}

// Which levels each log mode lets through is the library's own table (lifecycle tests); here the
// mode the host names reaches the library: error and info lines, no warning or debug line.
TEST(SimulatorThroughBridge, LogLinesFollowTheLogMode) {
  SimBridge bridge(Machine());
  bridge.ServeHttp(kCatalogueUrl, {true, 0, 404, "", ""});
  ASSERT_EQ(Init(bridge, {{"logMode", json::array({"error", "info"})}}).at("result").at("status"), 0);
  EXPECT_EQ(bridge.NextEvent(
                Start(bridge, "checkDisplayDeviceDriver", kAdapterA)).at("params").at("errorCode"),
            -2002);
  bridge.Drain();

  bool sawError = false;
  bool sawInfo = false;
  for (const std::string& line : bridge.LogLines()) {
    const bool error = line.rfind("[error] ", 0) == 0;
    const bool info = line.rfind("[info] ", 0) == 0;
    EXPECT_TRUE(error || info) << line;
    sawError = sawError || error;
    sawInfo = sawInfo || info;
  }
  EXPECT_TRUE(sawError);
  EXPECT_TRUE(sawInfo);
}

TEST(SimulatorThroughBridge, SecondInitEndsRunningJobs) {
  SimBridge bridge(Machine());
  const std::string id = StartStalledUpdate(bridge);

  ASSERT_EQ(Init(bridge, {{"tempDir", bridge.Folder("temp")}}).at("result").at("status"), 0);
  const std::vector<json> events = bridge.UpdateEvents(id);
  ASSERT_FALSE(events.empty());
  EXPECT_EQ(events.back().at("params").at("errorCode"), -1003);

  ServeDriver(bridge);
  const std::vector<json> again =
      bridge.UpdateEvents(Start(bridge, "updateDisplayDeviceDriver", kAdapterA));
  ASSERT_FALSE(again.empty());
  EXPECT_EQ(again.back().at("params").at("state"), 10);
}

TEST(SimulatorThroughBridge, BridgeExitsCleanlyWhileJobsRun) {
  // Once its main loop has ended the bridge turns the library's reports away, so the callback of
  // the check that runs at exit is never released.
  SimBridge bridge(Machine(), {"electron_morvane::SdkWrapper::CheckDisplayDeviceDriver"});
  StartStalledUpdate(bridge);
  bridge.ServeHttp(kCatalogueUrl, NoAnswer());
  Start(bridge, "checkDisplayDeviceDriver", kAdapterB);
  bridge.Drain(100ms);

  // The host goes away: the pipe breaks and the bridge ends, its library's jobs with it.
  bridge.Host().CloseHostEnd();
  EXPECT_EQ(bridge.Host().WaitExit(15s), 109);
}

}  // namespace
}  // namespace electron_morvane::sim_test
