// Refused starts, log filtering, and jobs running into a second init or an uninit.
#include <string>
#include <vector>

#include "sim_fixture.h"

namespace electron_morvane::sim_test {
namespace {

using LifecycleTest = SimulatorTest;

TEST_F(LifecycleTest, StartsWithBadArgumentsAreRefused) {
  ASSERT_EQ(Init(), 0);
  struct Case {
    const char* what;
    const char* vendorId;
    const char* deviceId;
    bool withCallback;
    int32_t checkResult;
    int32_t updateResult;
  };
  const Case cases[] = {
      {"an adapter the machine does not have", "ABCD", "0001", true, -2015, -2014},
      {"a known vendor with an unknown device", kAdapterA.vendorId, "0001", true, -2015, -2014},
      {"no vendor id", nullptr, kAdapterA.deviceId, true, -1000, -1000},
      {"an empty device id", kAdapterA.vendorId, "", true, -1000, -1000},
      {"no callback", kAdapterA.vendorId, kAdapterA.deviceId, false, -1000, -1000},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    CheckJob check;
    UpdateJob update;
    EXPECT_EQ(Morvane_CheckDisplayDeviceDriver(
                  c.vendorId, c.deviceId, c.withCallback ? &CheckJob::Callback : nullptr, &check),
              c.checkResult);
    EXPECT_EQ(Morvane_UpdateDisplayDeviceDriver(
                  c.vendorId, c.deviceId, c.withCallback ? &UpdateJob::Callback : nullptr, &update),
              c.updateResult);
  }
  EXPECT_TRUE(host_->httpRequests.Items().empty());
}

TEST_F(LifecycleTest, SecondJobOfAKindIsRefusedWhileTheFirstRuns) {
  UpdateJob update;
  ASSERT_NO_FATAL_FAILURE(StartStalledUpdate(update));

  UpdateJob other;
  EXPECT_EQ(StartUpdate(kAdapterA, other), -2016);
  EXPECT_EQ(StartUpdate(kAdapterB, other), -2016);

  // Checks from now on wait for a catalogue that never comes.
  host_->ServeHttp(kCatalogueUrl, NoAnswer());
  CheckJob first, second, otherAdapter;
  ASSERT_EQ(StartCheck(kAdapterA, first), 0);
  EXPECT_EQ(
      Morvane_CheckDisplayDeviceDriver("10de", kAdapterA.deviceId, &CheckJob::Callback, &second),
      -2013);
  EXPECT_EQ(StartCheck(kAdapterB, otherAdapter), 0);

  // Once the jobs end, new ones start.
  ASSERT_EQ(Morvane_CancelUpdateDisplayDeviceDriver(kAdapterA.vendorId, kAdapterA.deviceId), 0);
  ASSERT_EQ(Morvane_CancelCheckDisplayDeviceDriver(kAdapterA.vendorId, kAdapterA.deviceId), 0);
  ASSERT_EQ(update.Last().errorCode, -1003);
  ASSERT_EQ(first.Result().errorCode, -1003);
  EXPECT_EQ(StartCheck(kAdapterA, second), 0);
  EXPECT_EQ(StartUpdate(kAdapterB, other), 0);
  // The refused starts never reported; the cancelled check reported once.
  ASSERT_EQ(Morvane_UninitSDK(), 0);
  EXPECT_EQ(first.reports.Items().size(), 1u);
}

struct LogCase {
  int32_t logMode;
  std::vector<std::string> allowed;   // level prefixes that may appear
  std::vector<std::string> expected;  // level prefixes that must appear
};

bool StartsWithAny(const std::string& line, const std::vector<std::string>& prefixes) {
  for (const std::string& prefix : prefixes) {
    if (line.rfind(prefix, 0) == 0) return true;
  }
  return false;
}

TEST_F(LifecycleTest, LogLinesHonourTheLogMode) {
  const LogCase cases[] = {
      {0, {}, {}},
      {MORVANE_LOG_ERROR, {"[error] "}, {"[error] "}},
      {MORVANE_LOG_INFO, {"[info] "}, {"[info] "}},
      {MORVANE_LOG_DEBUG, {"[debug] "}, {"[debug] "}},
      {MORVANE_LOG_WARNING | MORVANE_LOG_INFO, {"[warning] ", "[info] "}, {"[info] "}},
      {MORVANE_LOG_ALL,
       {"[error] ", "[warning] ", "[info] ", "[debug] "},
       {"[error] ", "[info] ", "[debug] "}},
  };
  for (const LogCase& c : cases) {
    SCOPED_TRACE("logMode " + std::to_string(c.logMode));
    host_ = std::make_unique<FakeHost>();
    // A check that fails (an error), after init (info) and a request (debug).
    host_->ServeHttp(kCatalogueUrl, {true, 0, 404, "", ""});
    InitOptions options;
    options.logMode = c.logMode;
    ASSERT_EQ(Init(options), 0);
    ASSERT_EQ(Check(kAdapterA).errorCode, -2002);
    ASSERT_EQ(Morvane_UninitSDK(), 0);

    const std::vector<std::string> lines = host_->logLines.Items();
    for (const std::string& line : lines) EXPECT_TRUE(StartsWithAny(line, c.allowed)) << line;
    for (const std::string& prefix : c.expected) {
      bool seen = false;
      for (const std::string& line : lines) seen = seen || line.rfind(prefix, 0) == 0;
      EXPECT_TRUE(seen) << "no " << prefix << "line";
    }
    if (c.logMode == 0) {
      EXPECT_TRUE(lines.empty());
    }
  }
}

TEST_F(LifecycleTest, SecondInitEndsRunningJobsAndStartsAfresh) {
  // The update hangs in its download, the check waits before its request.
  SetFault("stepDelayMs", 60000);
  UpdateJob update;
  ASSERT_NO_FATAL_FAILURE(StartStalledUpdate(update));
  CheckJob check;
  ASSERT_EQ(StartCheck(kAdapterB, check), 0);

  machine_["faults"]["stepDelayMs"] = 0;
  ASSERT_EQ(Init(), 0);
  // Init returned only after both jobs had made their last report.
  EXPECT_EQ(check.reports.Items().size(), 1u);
  EXPECT_EQ(check.reports.Items().at(0).errorCode, -1003);
  const std::vector<UpdateReport> reports = update.reports.Items();
  ASSERT_FALSE(reports.empty());
  EXPECT_EQ(reports.back().state, MORVANE_UPDATE_DOWNLOAD_ERROR);
  EXPECT_EQ(reports.back().errorCode, -1003);
  EXPECT_EQ(host_->cancelledDownloads.Items().size(), 1u);

  // The new configuration works: the download plan now finishes.
  DownloadPlan finishing;
  finishing.bytes = PackageBytes(TestDriver());
  host_->ServeDownload(kPackageUrl, finishing);
  EXPECT_TRUE(Check(kAdapterA).needUpdate);
  UpdateJob again;
  EXPECT_EQ(Update(kAdapterA, again).state, MORVANE_UPDATE_FINISH);
}

TEST_F(LifecycleTest, SecondInitDuringTheInstallLeavesTheDriverAsItWas) {
  SetFault("stepDelayMs", 300);
  ServeDriver(TestDriver());
  ASSERT_EQ(Init(), 0);
  UpdateJob update;
  ASSERT_EQ(StartUpdate(kAdapterA, update), 0);
  ASSERT_TRUE(update.WaitForState(MORVANE_UPDATE_INSTALL));

  ASSERT_EQ(Init(), 0);
  const UpdateReport last = update.reports.Items().back();
  EXPECT_EQ(last.state, MORVANE_UPDATE_INSTALL_ERROR);
  EXPECT_EQ(last.errorCode, -1003);
  EXPECT_STREQ(Device(kAdapterA).driverVersion, kAdapterA.driverVersion);
}

TEST_F(LifecycleTest, UninitEndsRunningJobsAndLaterCallsAreRefused) {
  CheckJob check;
  ASSERT_NO_FATAL_FAILURE(StartStalledCheck(check));

  ASSERT_EQ(Morvane_UninitSDK(), 0);
  ASSERT_EQ(check.reports.Items().size(), 1u);
  EXPECT_EQ(check.reports.Items().at(0).errorCode, -1003);
  EXPECT_EQ(Morvane_CancelCheckDisplayDeviceDriver(kAdapterA.vendorId, kAdapterA.deviceId), -1006);
  EXPECT_EQ(Morvane_UninitSDK(), -1006);
}

}  // namespace
}  // namespace electron_morvane::sim_test
