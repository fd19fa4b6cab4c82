// Updates: download through the host, verification, unpack and install, and every failure.
#include <fstream>
#include <functional>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "sim_fixture.h"

namespace electron_morvane::sim_test {
namespace {

using UpdateTest = SimulatorTest;

std::string ReadFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

bool IsInside(const std::filesystem::path& file, const std::filesystem::path& folder) {
  return file.parent_path() == folder;
}

TEST_F(UpdateTest, FullUpdateGoesThroughEveryStateAndIsRememberedInConfigDir) {
  const std::string configDir = Folder("config").string();
  const std::filesystem::path downloads = Folder("downloads");
  TestDriver driver;
  ServeDriver(driver);
  InitOptions options;
  options.configDir = configDir;
  ASSERT_EQ(Init(options), 0);
  ASSERT_EQ(Morvane_SetDriverDownloadDir(downloads.c_str()), 0);

  UpdateJob job;
  const UpdateReport last = Update(kAdapterA, job);
  EXPECT_EQ(last.state, MORVANE_UPDATE_FINISH);
  EXPECT_EQ(last.errorCode, 0) << last.errorMsg;
  EXPECT_EQ(job.States(), (std::vector<uint32_t>{1, 3, 4, 6, 7, 9, 10}));
  std::vector<int32_t> downloadProgress;
  for (const UpdateReport& report : job.reports.Items()) {
    EXPECT_EQ(report.vendorId, kAdapterA.vendorId);
    EXPECT_EQ(report.deviceId, kAdapterA.deviceId);
    EXPECT_EQ(report.errorCode, 0);
    if (report.state == MORVANE_UPDATE_DOWNLOAD) downloadProgress.push_back(report.progress);
  }
  // The library's own start, then the host's progress events.
  EXPECT_EQ(downloadProgress, (std::vector<int32_t>{0, 30, 60}));

  const std::vector<DownloadSeen> downloads_seen = host_->downloads.Items();
  ASSERT_EQ(downloads_seen.size(), 1u);
  EXPECT_EQ(downloads_seen[0].url, kPackageUrl);
  EXPECT_TRUE(IsInside(downloads_seen[0].path, downloads)) << downloads_seen[0].path;
  const std::filesystem::path unpacked =
      std::filesystem::path(downloads_seen[0].path).replace_extension();
  EXPECT_EQ(ReadFile(unpacked / "payload.bin"), driver.payload);
  EXPECT_TRUE(std::filesystem::exists(unpacked / "manifest.json"));

  EXPECT_STREQ(Device(kAdapterA).driverVersion, driver.version.c_str());
  EXPECT_STREQ(Device(kAdapterA).driverDate, driver.date.c_str());
  EXPECT_STREQ(Device(kAdapterB).driverVersion, kAdapterB.driverVersion);
  EXPECT_EQ(Check(kAdapterA).errorCode, -2007);

  // The next run reads the install back from configDir...
  ASSERT_EQ(Morvane_UninitSDK(), 0);
  ASSERT_EQ(Init(options), 0);
  EXPECT_STREQ(Device(kAdapterA).driverVersion, driver.version.c_str());
  // ...and a run with another configDir starts from the machine's own drivers.
  ASSERT_EQ(Morvane_UninitSDK(), 0);
  options.configDir = Folder("other-config").string();
  ASSERT_EQ(Init(options), 0);
  EXPECT_STREQ(Device(kAdapterA).driverVersion, kAdapterA.driverVersion);
}

TEST_F(UpdateTest, WithoutConfigDirTheInstallLastsUntilUninit) {
  TestDriver driver;
  ServeDriver(driver);
  InitOptions options;
  options.tempDir = Folder("temp").string();
  ASSERT_EQ(Init(options), 0);
  UpdateJob job;
  ASSERT_EQ(Update(kAdapterA, job).state, MORVANE_UPDATE_FINISH);

  ASSERT_EQ(Init(options), 0);
  EXPECT_STREQ(Device(kAdapterA).driverVersion, driver.version.c_str());
  ASSERT_EQ(Morvane_UninitSDK(), 0);
  ASSERT_EQ(Init(options), 0);
  EXPECT_STREQ(Device(kAdapterA).driverVersion, kAdapterA.driverVersion);
}

TEST_F(UpdateTest, DownloadGoesToTempDirUnlessAFolderIsSet) {
  ServeDriver(TestDriver());
  InitOptions options;
  options.tempDir = Folder("temp").string();
  ASSERT_EQ(Init(options), 0);
  UpdateJob first;
  ASSERT_EQ(Update(kAdapterA, first).state, MORVANE_UPDATE_FINISH);
  EXPECT_TRUE(IsInside(host_->downloads.Items().at(0).path, options.tempDir));

  // Set, then cleared again with an empty text.
  ASSERT_EQ(Morvane_UninitSDK(), 0);
  ASSERT_EQ(Init(options), 0);
  ASSERT_EQ(Morvane_SetDriverDownloadDir(Folder("set").c_str()), 0);
  ASSERT_EQ(Morvane_SetDriverDownloadDir(""), 0);
  UpdateJob second;
  ASSERT_EQ(Update(kAdapterA, second).state, MORVANE_UPDATE_FINISH);
  EXPECT_TRUE(IsInside(host_->downloads.Items().at(1).path, options.tempDir));
  EXPECT_EQ(Morvane_SetDriverDownloadDir(nullptr), -1000);
}

// One update as the test arranges it: the package the host serves, the catalogue entry, the
// download plan and the machine's faults.
struct Scenario {
  TestDriver driver;
  std::string package;
  json entry;  // null: the entry that matches package
  DownloadPlan plan;
  std::optional<HttpReply> catalogue;  // instead of a catalogue holding entry
  std::string installedVersion = kAdapterA.driverVersion;
  json faults = json::object();
};

struct FailureCase {
  const char* what;
  std::function<void(Scenario&)> arrange;
  std::vector<uint32_t> states;
  int32_t code;
};

TEST_F(UpdateTest, EachFailureEndsTheJobInItsStepsErrorState) {
  const FailureCase cases[] = {
      {"an MD5 that does not match",
       [](Scenario& s) {
         s.entry = CatalogueEntry(s.driver, s.package);
         s.entry["md5"] = Md5Hex("something else");
       },
       {1, 2},
       -2008},
      {"a size that does not match",
       [](Scenario& s) {
         s.entry = CatalogueEntry(s.driver, s.package);
         s.entry["fileSize"] = s.package.size() + 1;
       },
       {1, 2},
       -2008},
      {"the host's network failure", [](Scenario& s) { s.plan.result = -3001; }, {1, 2}, -3001},
      {"a failure code of the host's own", [](Scenario& s) { s.plan.result = -7; }, {1, 2}, -7},
      {"an HTTP error status", [](Scenario& s) { s.plan.httpStatusCode = 404; }, {1, 2}, -3001},
      {"an installed driver as new as the catalogue's",
       [](Scenario& s) { s.installedVersion = s.driver.version; },
       {1, 2},
       -2007},
      {"no catalogue entry for the adapter",
       [](Scenario& s) {
         s.driver.deviceId = "FFFF";
         s.package = PackageBytes(s.driver);
       },
       {1, 2},
       -2005},
      {"a catalogue request answered with 404",
       [](Scenario& s) {
         s.catalogue = HttpReply{true, 0, 404, "", ""};
       },
       {1, 2},
       -2002},
      {"a file that is not a package",
       [](Scenario& s) { s.package = "PK\x03\x04 zip bytes\n"; },
       {1, 3, 4, 5},
       -2004},
      {"a package without a manifest line",
       [](Scenario& s) { s.package = "MORVANE-DRIVER-PACKAGE 1\n"; },
       {1, 3, 4, 5},
       -2004},
      {"a manifest that is not JSON",
       [](Scenario& s) { s.package = "MORVANE-DRIVER-PACKAGE 1\n{oops\npayload"; },
       {1, 3, 4, 5},
       -2004},
      {"a package of another version",
       [](Scenario& s) {
         TestDriver other = s.driver;
         other.version = "31.0.15.9999";
         s.package = PackageBytes(other);
         s.entry = CatalogueEntry(s.driver, s.package);
       },
       {1, 3, 4, 5},
       -2005},
      {"a package for another adapter",
       [](Scenario& s) {
         TestDriver other = s.driver;
         other.vendorId = kAdapterB.vendorId;
         s.package = PackageBytes(other);
         s.entry = CatalogueEntry(s.driver, s.package);
       },
       {1, 3, 4, 5},
       -2005},
      {"an unpack fault", [](Scenario& s) { s.faults["unzipFail"] = true; }, {1, 3, 4, 5}, -2010},
      {"an unpack fault with a code of its own",
       [](Scenario& s) {
         s.faults = {{"unzipFail", true}, {"unzipFailCode", -1234}};
       },
       {1, 3, 4, 5},
       -1234},
      {"an install fault",
       [](Scenario& s) { s.faults["installFail"] = true; },
       {1, 3, 4, 6, 7, 8},
       -2009},
  };
  for (const FailureCase& c : cases) {
    SCOPED_TRACE(c.what);
    Scenario s;
    s.package = PackageBytes(s.driver);
    c.arrange(s);
    if (s.entry.is_null()) s.entry = CatalogueEntry(s.driver, s.package);
    s.plan.bytes = s.package;
    host_->ServeHttp(kCatalogueUrl,
                     s.catalogue.value_or(HttpReply{
                         true, 0, 200, "", json{{"drivers", json::array({s.entry})}}.dump()}));
    host_->ServeDownload(kPackageUrl, s.plan);
    json adapter = AdapterJson(kAdapterA);
    adapter["driverVersion"] = s.installedVersion;
    machine_["adapters"] = json::array({adapter});
    machine_["faults"] = s.faults;
    InitOptions options;
    options.configDir = Folder("config").string();
    ASSERT_EQ(Init(options), 0);

    UpdateJob job;
    const UpdateReport last = Update(kAdapterA, job);
    EXPECT_EQ(last.errorCode, c.code) << last.errorMsg;
    EXPECT_FALSE(last.errorMsg.empty());
    EXPECT_EQ(job.States(), c.states);
    EXPECT_STREQ(Device(kAdapterA).driverVersion, s.installedVersion.c_str());
    ASSERT_EQ(Morvane_UninitSDK(), 0);
    // Nothing follows the error state.
    EXPECT_EQ(job.reports.Items().back().state, c.states.back());
  }
}

TEST_F(UpdateTest, HostsErrorTextReachesTheErrorState) {
  TestDriver driver;
  ServeDriver(driver);
  DownloadPlan plan;
  plan.result = -3001;
  plan.errorMsg = "connection reset by peer";
  host_->ServeDownload(kPackageUrl, plan);
  ASSERT_EQ(Init(), 0);
  UpdateJob job;
  const UpdateReport last = Update(kAdapterA, job);
  EXPECT_EQ(last.state, MORVANE_UPDATE_DOWNLOAD_ERROR);
  EXPECT_EQ(last.errorMsg, plan.errorMsg);
}

TEST_F(UpdateTest, QuietDownloadTimesOutAndIsCancelledAtTheHost) {
  SetFault("httpTimeoutMs", 300);
  TestDriver driver;
  ServeDriver(driver);
  host_->ServeDownload(kPackageUrl, StalledDownload());
  ASSERT_EQ(Init(), 0);

  UpdateJob job;
  const UpdateReport last = Update(kAdapterA, job);
  EXPECT_EQ(last.state, MORVANE_UPDATE_DOWNLOAD_ERROR);
  EXPECT_EQ(last.errorCode, -3000);
  ASSERT_TRUE(host_->cancelledDownloads.WaitForCount(1));
  EXPECT_EQ(host_->cancelledDownloads.Items().at(0), host_->downloads.Items().at(0).sdkTaskId);
}

}  // namespace
}  // namespace electron_morvane::sim_test
