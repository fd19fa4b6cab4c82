// Cancelling checks and updates at each stage.
#include <functional>
#include <string>
#include <vector>

#include "sim_fixture.h"

namespace electron_morvane::sim_test {
namespace {

using CancelTest = SimulatorTest;

TEST_F(CancelTest, CancelledCheckReportsCancelOnce) {
  CheckJob job;
  ASSERT_NO_FATAL_FAILURE(StartStalledCheck(job));

  EXPECT_EQ(Morvane_CancelCheckDisplayDeviceDriver("10de", "2484"), 0);
  const CheckReport report = job.Result();
  EXPECT_EQ(report.errorCode, -1003);
  EXPECT_FALSE(report.needUpdate);
  EXPECT_EQ(report.driverVersion, kAdapterA.driverVersion);
  EXPECT_EQ(Morvane_CancelCheckDisplayDeviceDriver(kAdapterA.vendorId, kAdapterA.deviceId), -1004);

  // The host's answer arriving after all changes nothing.
  const HttpRequestSeen request = host_->httpRequests.Items().at(0);
  const std::string body = R"({"drivers":[]})";
  AnswerHttp(request, body, request.sdkData);
  ASSERT_EQ(Morvane_UninitSDK(), 0);
  EXPECT_EQ(job.reports.Items().size(), 1u);
}

TEST_F(CancelTest, CheckCancelledBeforeItsRequestAsksNothing) {
  SetFault("stepDelayMs", 60000);
  ServeDriver(TestDriver());
  ASSERT_EQ(Init(), 0);
  CheckJob job;
  ASSERT_EQ(StartCheck(kAdapterA, job), 0);
  EXPECT_EQ(Morvane_CancelCheckDisplayDeviceDriver(kAdapterA.vendorId, kAdapterA.deviceId), 0);
  EXPECT_EQ(job.Result().errorCode, -1003);
  EXPECT_TRUE(host_->httpRequests.Items().empty());
}

TEST_F(CancelTest, CancelWithoutARunningJobIsRefused) {
  ServeDriver(TestDriver());
  ASSERT_EQ(Init(), 0);
  EXPECT_EQ(Morvane_CancelCheckDisplayDeviceDriver(kAdapterA.vendorId, kAdapterA.deviceId), -1004);
  EXPECT_EQ(Morvane_CancelUpdateDisplayDeviceDriver(kAdapterA.vendorId, kAdapterA.deviceId), -1004);
  EXPECT_EQ(Morvane_CancelCheckDisplayDeviceDriver("ABCD", "0001"), -2015);
  EXPECT_EQ(Morvane_CancelUpdateDisplayDeviceDriver("ABCD", "0001"), -2014);
  EXPECT_EQ(Morvane_CancelCheckDisplayDeviceDriver(nullptr, kAdapterA.deviceId), -1000);
  EXPECT_EQ(Morvane_CancelUpdateDisplayDeviceDriver(kAdapterA.vendorId, nullptr), -1000);

  // A finished job is no longer running; neither is another adapter's.
  UpdateJob update;
  ASSERT_EQ(Update(kAdapterA, update).state, MORVANE_UPDATE_FINISH);
  EXPECT_EQ(Morvane_CancelUpdateDisplayDeviceDriver(kAdapterA.vendorId, kAdapterA.deviceId), -1004);
  ASSERT_EQ(Check(kAdapterA).errorCode, -2007);
  EXPECT_EQ(Morvane_CancelCheckDisplayDeviceDriver(kAdapterA.vendorId, kAdapterA.deviceId), -1004);
}

struct StageCase {
  const char* what;
  std::function<void(FakeHost&, json& faults)> arrange;
  // Waits until the update has reached the stage to cancel in; false when it does not.
  std::function<bool(const FakeHost&, const UpdateJob&)> reach;
  int32_t cancelResult;
  std::vector<uint32_t> states;
  int32_t code;
  bool hostCancelsDownload;
};

bool HasState(const std::vector<UpdateReport>& reports, uint32_t state, int32_t progress = -1) {
  for (const UpdateReport& report : reports) {
    if (report.state == state && (progress < 0 || report.progress == progress)) return true;
  }
  return false;
}

TEST_F(CancelTest, UpdateCancelsAtEachStageUntilTheInstallBegins) {
  const StageCase cases[] = {
      {"while the catalogue is fetched",
       [](FakeHost& host, json&) { host.ServeHttp(kCatalogueUrl, NoAnswer()); },
       [](const FakeHost& host, const UpdateJob&) { return host.httpRequests.WaitForCount(1); },
       0,
       {1, 2},
       -1003,
       false},
      {"while the package downloads",
       [](FakeHost& host, json&) { host.ServeDownload(kPackageUrl, StalledDownload()); },
       [](const FakeHost&, const UpdateJob& job) {
         return job.reports.WaitUntil([](const std::vector<UpdateReport>& reports) {
           return HasState(reports, MORVANE_UPDATE_DOWNLOAD, 10);
         });
       },
       0,
       {1, 2},
       -1003,
       true},
      {"while the package is unpacked",
       [](FakeHost&, json& faults) { faults["stepDelayMs"] = 300; },
       [](const FakeHost&, const UpdateJob& job) { return job.WaitForState(MORVANE_UPDATE_UNZIP); },
       0,
       {1, 3, 4, 5},
       -1003,
       false},
      {"once the install has begun",
       [](FakeHost&, json& faults) { faults["stepDelayMs"] = 100; },
       [](const FakeHost&, const UpdateJob& job) {
         return job.WaitForState(MORVANE_UPDATE_INSTALL);
       },
       -1004,
       {1, 3, 4, 6, 7, 9, 10},
       0,
       false},
  };
  for (const StageCase& c : cases) {
    SCOPED_TRACE(c.what);
    host_ = std::make_unique<FakeHost>();
    ServeDriver(TestDriver());
    json faults = {{"httpTimeoutMs", 10000}};
    c.arrange(*host_, faults);
    machine_["faults"] = faults;
    InitOptions options;
    options.configDir = Folder("config-" + std::string(c.what)).string();
    ASSERT_EQ(Init(options), 0);

    UpdateJob job;
    ASSERT_EQ(StartUpdate(kAdapterA, job), 0);
    ASSERT_TRUE(c.reach(*host_, job));
    EXPECT_EQ(Morvane_CancelUpdateDisplayDeviceDriver(kAdapterA.vendorId, kAdapterA.deviceId),
              c.cancelResult);
    const UpdateReport last = job.Last();
    EXPECT_EQ(last.errorCode, c.code) << last.errorMsg;
    EXPECT_EQ(job.States(), c.states);
    if (c.hostCancelsDownload) {
      ASSERT_TRUE(host_->cancelledDownloads.WaitForCount(1));
      EXPECT_EQ(host_->cancelledDownloads.Items().at(0), host_->downloads.Items().at(0).sdkTaskId);
    }
    ASSERT_EQ(Morvane_UninitSDK(), 0);
    EXPECT_EQ(host_->cancelledDownloads.Items().size(), c.hostCancelsDownload ? 1u : 0u);
    EXPECT_EQ(job.reports.Items().back().state, c.states.back());
  }
}

TEST_F(CancelTest, DownloadEventsAfterTheCancelAreIgnored) {
  UpdateJob job;
  ASSERT_NO_FATAL_FAILURE(StartStalledUpdate(job));
  ASSERT_EQ(Morvane_CancelUpdateDisplayDeviceDriver(kAdapterA.vendorId, kAdapterA.deviceId), 0);
  ASSERT_EQ(job.Last().errorCode, -1003);

  const DownloadSeen download = host_->downloads.Items().at(0);
  table_.downloadResponse(download.sdkTaskId, 50, 0, 0, 200, "", download.sdkData);
  table_.downloadResponse(download.sdkTaskId, 100, 1, 0, 200, "", download.sdkData);
  const std::size_t reported = job.reports.Items().size();
  ASSERT_EQ(Morvane_UninitSDK(), 0);
  EXPECT_EQ(job.reports.Items().size(), reported);
}

}  // namespace
}  // namespace electron_morvane::sim_test
