// Check and update jobs: each report reaches the callback of its own job; a check's callback is
// released after its one report, an update's stays.
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "scripted_sdk_fixture.h"

namespace electron_morvane {
namespace {

// A job callback that records its reports and holds a token, so a test can see whether the
// callback has been destroyed.
template <typename Report>
class JobProbe {
 public:
  std::function<void(const Report&)> Callback() {
    return
        [reports = reports_, token = token_](const Report& report) { reports->push_back(report); };
  }
  // The reports so far; read only after the library's threads have been waited for.
  const std::vector<Report>& Reports() const { return *reports_; }
  bool Released() const { return watch_.expired(); }
  void DropOwnToken() { token_.reset(); }

 private:
  std::shared_ptr<std::vector<Report>> reports_ = std::make_shared<std::vector<Report>>();
  std::shared_ptr<int> token_ = std::make_shared<int>(0);
  std::weak_ptr<int> watch_ = token_;
};

using CheckProbe = JobProbe<SdkWrapper::SdkDisplayDriverConfig>;
using UpdateProbe = JobProbe<SdkWrapper::SdkUpdateDriverStatus>;

TEST_F(ScriptedSdkTest, CheckResultReachesItsJobOnceAndReleasesIt) {
  Script({{"actions",
           {{{"on", "Morvane_CheckDisplayDeviceDriver"},
             {"fire", "check"},
             {"info",
              {{"name", std::string(300, 'n')},
               {"vendorId", "ABCDEFGHIJ"},
               {"driverVersion", "32.0.15.6094"},
               {"driverDate", "2024-08-14"},
               {"fileSize", 4294967295u}}},
             {"needUpdate", true},
             {"errorCode", -2006},
             {"errorMsg", "newer driver found"}}}}});
  CheckProbe probe;

  EXPECT_EQ(SdkWrapper::CheckDisplayDeviceDriver("10DE", "2204", probe.Callback()), 0);
  probe.DropOwnToken();
  scriptable_sdk::WaitForLibraryThreads();

  ASSERT_EQ(probe.Reports().size(), 1u);
  const auto& report = probe.Reports()[0];
  EXPECT_EQ(report.name, std::string(256, 'n'));
  EXPECT_EQ(report.vendorId, "ABCDEFGH");
  EXPECT_EQ(report.deviceId, "2204");
  EXPECT_EQ(report.driverVersion, "32.0.15.6094");
  EXPECT_EQ(report.driverDate, "2024-08-14");
  EXPECT_EQ(report.fileSize, 4294967295u);
  EXPECT_TRUE(report.needUpdate);
  EXPECT_EQ(report.errorCode, -2006);
  EXPECT_EQ(report.errorMsg, "newer driver found");
  EXPECT_TRUE(probe.Released());
}

TEST_F(ScriptedSdkTest, NullUserDataInACheckReportIsIgnored) {
  CheckProbe probe;
  SdkWrapper::CheckDisplayDeviceDriver("10DE", "2204", probe.Callback());
  probe.DropOwnToken();

  FireAndWait({{"fire", "check"}, {"userData", "null"}});
  EXPECT_TRUE(probe.Reports().empty());
  EXPECT_FALSE(probe.Released());

  FireAndWait({{"fire", "check"}});
  EXPECT_EQ(probe.Reports().size(), 1u);
  EXPECT_TRUE(probe.Released());
}

TEST_F(ScriptedSdkTest, NullUserDataInAnUpdateReportIsIgnored) {
  UpdateProbe probe;
  SdkWrapper::UpdateDisplayDeviceDriver("10DE", "2204", probe.Callback());

  FireAndWait({{"fire", "update"}, {"state", MORVANE_UPDATE_DOWNLOAD}, {"userData", "null"}});
  EXPECT_TRUE(probe.Reports().empty());

  FireAndWait({{"fire", "update"}, {"state", MORVANE_UPDATE_DOWNLOAD}});
  EXPECT_EQ(probe.Reports().size(), 1u);
}

TEST_F(ScriptedSdkTest, UpdateReportsKeepComingAfterACancel) {
  Script({{"actions",
           {{{"on", "Morvane_UpdateDisplayDeviceDriver"},
             {"fire", "update"},
             {"steps",
              {{{"state", MORVANE_UPDATE_DOWNLOAD}, {"progress", 10}},
               {{"state", MORVANE_UPDATE_DOWNLOAD}, {"progress", 60}}}}},
            {{"on", "Morvane_CancelUpdateDisplayDeviceDriver"},
             {"fire", "update"},
             {"state", MORVANE_UPDATE_DOWNLOAD_ERROR},
             {"progress", 60},
             {"errorCode", -2012},
             {"errorMsg", std::string(300, 'c')}}}}});
  UpdateProbe probe;
  SdkWrapper::UpdateDisplayDeviceDriver("10DE", "2204", probe.Callback());
  probe.DropOwnToken();
  scriptable_sdk::WaitForLibraryThreads();
  ASSERT_EQ(probe.Reports().size(), 2u);

  EXPECT_EQ(SdkWrapper::CancelUpdateDisplayDeviceDriver("10DE", "2204"), 0);
  scriptable_sdk::WaitForLibraryThreads();

  ASSERT_EQ(probe.Reports().size(), 3u);
  const auto& last = probe.Reports()[2];
  EXPECT_EQ(last.vendorId, "10DE");
  EXPECT_EQ(last.deviceId, "2204");
  EXPECT_EQ(last.state, static_cast<std::uint32_t>(MORVANE_UPDATE_DOWNLOAD_ERROR));
  EXPECT_EQ(last.progress, 60);
  EXPECT_EQ(last.errorCode, -2012);
  EXPECT_EQ(last.errorMsg, std::string(MORVANE_STATUS_ERROR_TEXT_SIZE, 'c'));
  EXPECT_FALSE(probe.Released());
}

// The library reports the two checks in the reverse order of their start: each report must
// still reach the callback of the job it is for.
TEST_F(ScriptedSdkTest, EachCheckReportReachesItsOwnJob) {
  Script({{"actions",
           {{{"on", "Morvane_CheckDisplayDeviceDriver"},
             {"call", 2},
             {"fire", "pendingChecks"},
             {"order", "reverse"}}}}});
  CheckProbe first;
  CheckProbe second;

  SdkWrapper::CheckDisplayDeviceDriver("10DE", "2204", first.Callback());
  SdkWrapper::CheckDisplayDeviceDriver("8086", "9A49", second.Callback());
  scriptable_sdk::WaitForLibraryThreads();

  ASSERT_EQ(first.Reports().size(), 1u);
  ASSERT_EQ(second.Reports().size(), 1u);
  EXPECT_EQ(first.Reports()[0].vendorId, "10DE");
  EXPECT_EQ(second.Reports()[0].vendorId, "8086");
}

// The library's answer to each call comes back unchanged, and the call's texts reach it as given.
struct LibraryCallCase {
  const char* name;
  const char* function;
  std::function<ResultCode()> call;
  json arguments;
};

void PrintTo(const LibraryCallCase& c, std::ostream* out) { *out << c.name; }

class LibraryCallTest : public ScriptedSdkTest,
                        public ::testing::WithParamInterface<LibraryCallCase> {};

TEST_P(LibraryCallTest, PassesTextsAndReturnsTheLibrarysResult) {
  const LibraryCallCase& c = GetParam();
  Script({{"results", {{c.function, -2017}}}});

  EXPECT_EQ(c.call(), -2017);

  const auto calls = scriptable_sdk::CallsOf(c.function);
  ASSERT_EQ(calls.size(), 1u);
  for (const auto& [key, value] : c.arguments.items()) EXPECT_EQ(calls[0][key], value) << key;
}

INSTANTIATE_TEST_SUITE_P(
    Functions, LibraryCallTest,
    ::testing::Values(
        LibraryCallCase{"Uninit", "Morvane_UninitSDK", [] { return SdkWrapper::UninitSDK(); },
                        json::object()},
        LibraryCallCase{"SetDriverDownloadDir",
                        "Morvane_SetDriverDownloadDir",
                        [] {
                          return SdkWrapper::SetDriverDownloadDir(
                              "/srv/dr\xc3\xaf"
                              "vers");
                        },
                        {{"dir",
                          "/srv/dr\xc3\xaf"
                          "vers"}}},
        LibraryCallCase{"Check",
                        "Morvane_CheckDisplayDeviceDriver",
                        [] {
                          return SdkWrapper::CheckDisplayDeviceDriver(
                              "10DE", "2204", [](const SdkWrapper::SdkDisplayDriverConfig&) {});
                        },
                        {{"vendorId", "10DE"},
                         {"deviceId", "2204"},
                         {"callbackSet", true},
                         {"userDataSet", true}}},
        LibraryCallCase{"CancelCheck",
                        "Morvane_CancelCheckDisplayDeviceDriver",
                        [] { return SdkWrapper::CancelCheckDisplayDeviceDriver("10DE", ""); },
                        {{"vendorId", "10DE"}, {"deviceId", ""}}},
        LibraryCallCase{"Update",
                        "Morvane_UpdateDisplayDeviceDriver",
                        [] {
                          return SdkWrapper::UpdateDisplayDeviceDriver(
                              "1002", "73BF", [](const SdkWrapper::SdkUpdateDriverStatus&) {});
                        },
                        {{"vendorId", "1002"},
                         {"deviceId", "73BF"},
                         {"callbackSet", true},
                         {"userDataSet", true}}},
        LibraryCallCase{"CancelUpdate",
                        "Morvane_CancelUpdateDisplayDeviceDriver",
                        [] { return SdkWrapper::CancelUpdateDisplayDeviceDriver("1002", "73BF"); },
                        {{"vendorId", "1002"}, {"deviceId", "73BF"}}}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace electron_morvane
